#include "common/savefile.h"
#include "common/textfile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarv;

class SaveFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("musiclist.txt"));
        ASSERT_TRUE(saveFile(path, QByteArray("old\r\n")).isEmpty());
    }
    QByteArray content() const { return readFileBytes(path).value_or("<missing>"); }
    QStringList leftovers() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("musiclist.txt"));
        return names;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(SaveFileTest, ReplacesTheWholeFile)
{
    EXPECT_TRUE(saveFile(path, QByteArray("new")).isEmpty());
    EXPECT_EQ(content(), QByteArray("new"));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(SaveFileTest, AWriteFailingAfterSomeBytesLeavesTheOldFile)
{
    const QString error = saveFile(path, [](QIODevice& device) {
        device.write("partial ");
        return false;
    });
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u',').toStdString();
}

TEST_F(SaveFileTest, AMissingFolderIsReportedAndNothingIsWritten)
{
    const QString error = saveFile(dir.filePath(QStringLiteral("gone/file.txt")), QByteArray("x"));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
}

TEST_F(SaveFileTest, AFolderInTheWayIsReported)
{
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    EXPECT_FALSE(saveFile(blocked, QByteArray("x")).isEmpty());
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST_F(SaveFileTest, AReadOnlyFolderIsReportedAndTheOldFileStays)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString error = saveFile(path, QByteArray("new"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
}

TEST_F(SaveFileTest, AWriterThatGivesUpSaysSo)
{
    const QString error = saveFile(path, [](QIODevice&) { return false; });
    EXPECT_TRUE(error.startsWith(path + QStringLiteral(": "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("書き込みを中止しました"))) << error.toStdString();
}

TEST_F(SaveFileTest, AWriteThatFailsMidwayFailsEveryWriteAfterIt)
{
    const ScopedSaveFault fault({SaveFault::Step::Write, 10, ENOSPC});
    int results[3] = {};
    const QString error = saveFile(path, [&results](QIODevice& device) {
        results[0] = int(device.write("12345"));
        results[1] = int(device.write("67890abc"));
        results[2] = int(device.write("d"));
        return true; // a careless writer: the save still fails
    });
    EXPECT_EQ(results[0], 5);
    EXPECT_EQ(results[1], -1);
    EXPECT_EQ(results[2], -1);
    EXPECT_TRUE(error.contains(QStringLiteral("ディスクの空き容量が足りません"))) << error.toStdString();
    EXPECT_EQ(content(), QByteArray("old\r\n"));
}

TEST_F(SaveFileTest, PermissionsAndSymbolicLinksAreKept)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(saveFile(path, QByteArray("new")).isEmpty());
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(saveFile(link, QByteArray("through the link")).isEmpty());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(content(), QByteArray("through the link"));
}

TEST_F(SaveFileTest, AnOpenSaveCanBeCancelledOrCommittedAndNamesItsTemporaryFile)
{
    {
        tarv::SaveFile file(path);
        ASSERT_TRUE(file.open());
        EXPECT_TRUE(isSaveTemporaryName(QFileInfo(file.temporaryPath()).fileName()));
        EXPECT_EQ(QFileInfo(file.temporaryPath()).absolutePath(), QFileInfo(path).absolutePath());
        EXPECT_EQ(file.device().write("abandoned"), 9);
        // Going out of scope without a commit cancels.
    }
    EXPECT_EQ(content(), QByteArray("old\r\n"));
    EXPECT_TRUE(leftovers().isEmpty());

    tarv::SaveFile file(path);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.device().write("streamed "), 9);
    EXPECT_EQ(file.device().write("in parts"), 8);
    ASSERT_TRUE(file.commit()) << file.error().toStdString();
    EXPECT_EQ(content(), QByteArray("streamed in parts"));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST(SaveTemporaries, OnlyTheSaveHelpersOwnLeftoversAreRemoved)
{
    QTemporaryDir dir;
    const QStringList ours{QStringLiteral(".musiclist.txt.tarv-save-Ab3dE9"),
                           QStringLiteral(".100001.tarv-save-000000")};
    const QStringList others{
        QStringLiteral("musiclist.txt"),
        QStringLiteral("musiclist.txt.Ab3dE9"), // QSaveFile's pattern: not ours to judge
        QStringLiteral("100001"),
        QStringLiteral(".100001.tarv-save-12345"), // five characters
        QStringLiteral(".100001.tarv-save-12345!"),
        QStringLiteral("100001.tarv-save-123456"), // not hidden
        QStringLiteral(".tarv-save-123456"),       // no name
        QStringLiteral(".hidden"),
    };
    for (const QString& name : ours + others)
        ASSERT_TRUE(saveFile(dir.filePath(name), QByteArray("x")).isEmpty()) << name.toStdString();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".folder.tarv-save-abcdef")));

    QStringList removed = removeStaleSaveTemporaries(dir.path());
    removed.sort();
    QStringList expected = ours;
    expected.sort();
    EXPECT_EQ(removed, expected);
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QStringList kept = others;
    kept.sort();
    EXPECT_EQ(left, kept);
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral(".folder.tarv-save-abcdef"))).isDir());
    EXPECT_TRUE(removeStaleSaveTemporaries(dir.filePath(QStringLiteral("missing"))).isEmpty());
}
