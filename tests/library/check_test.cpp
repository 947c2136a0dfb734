#include "library/libraryfixture.h"

#include "common/webroot.h"
#include "library/library.h"

using namespace tarv;
using namespace tarv::test;

namespace {

class CheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        lib.writeList({{100001, QStringLiteral("a")}, {100002, QStringLiteral("b")}, {100003, QStringLiteral("c")}});
        for (const char* name : {"000000", "100001", "100002", "100003"})
            lib.writeVideo(QString::fromLatin1(name));
    }
    TempLibrary lib;
};

TEST_F(CheckTest, AConsistentLibraryGivesIdenticalListsAndAnExtraFileTheCountAndEveryPositionFromIt)
{
    ConsistencyCheck check = checkConsistency(lib.paths);
    EXPECT_EQ(check.expected, (QStringList{QStringLiteral("000000"), QStringLiteral("100001"), QStringLiteral("100002"),
                                           QStringLiteral("100003")}));
    EXPECT_EQ(check.found, check.expected);
    EXPECT_FALSE(check.countDiffers);
    EXPECT_TRUE(check.differing.isEmpty());

    lib.writeVideo(QStringLiteral("100001.txt"));
    check = checkConsistency(lib.paths);
    EXPECT_TRUE(check.countDiffers);
    EXPECT_EQ(check.found.at(2), QStringLiteral("100001.txt"));
    EXPECT_EQ(check.differing, (QList<int>{2, 3, 4}));                 // 4 exists only in the file list
    EXPECT_EQ(checkConsistency(lib.paths).differing, check.differing); // the same result a second time
}

TEST_F(CheckTest, TheSaveHelpersTemporaryFilesAreNoVideos)
{
    TempLibrary::writeBytes(lib.paths.srcDir() + QStringLiteral("/.100004.tarv-save-Ab3dE9"), "part of a copy");
    const ConsistencyCheck check = checkConsistency(lib.paths);
    EXPECT_FALSE(check.countDiffers);
    EXPECT_TRUE(check.differing.isEmpty());
}

TEST_F(CheckTest, WebRootIsSavedAsOneLineAndReadBack)
{
    EXPECT_EQ(saveWebRoot(lib.paths, QStringLiteral("D:\\www")), QString());
    EXPECT_EQ(TempLibrary::readBytes(lib.paths.webRootFile()), QByteArray("D:\\www\r\n"));
    EXPECT_EQ(readWebRoot(lib.paths), QStringLiteral("D:\\www"));

    // A comma would end the path for every reader: refused, the saved value stays.
    EXPECT_NE(saveWebRoot(lib.paths, QStringLiteral("D:\\a,b")), QString());
    EXPECT_EQ(readWebRoot(lib.paths), QStringLiteral("D:\\www"));

    // A line written by hand is read up to its comma.
    TempLibrary::writeBytes(lib.paths.webRootFile(), "/srv/www,extra\r\n");
    EXPECT_EQ(readWebRoot(lib.paths), QStringLiteral("/srv/www"));
}

} // namespace
