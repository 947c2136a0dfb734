#include "common/savefile.h"
#include "common/textfile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tarv;

class SaveFile : public ::testing::Test
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
        QStringList names = QDir(dir.path()).entryList(QDir::Files);
        names.removeAll(QStringLiteral("musiclist.txt"));
        return names;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(SaveFile, ReplacesTheWholeFile)
{
    EXPECT_TRUE(saveFile(path, QByteArray("new")).isEmpty());
    EXPECT_EQ(content(), QByteArray("new"));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(SaveFile, AWriteFailingAfterSomeBytesLeavesTheOldFile)
{
    const QString error = saveFile(path, [](QIODevice& device) {
        device.write("partial ");
        return false;
    });
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u',').toStdString();
}

TEST_F(SaveFile, AMissingFolderIsReportedAndNothingIsWritten)
{
    const QString error = saveFile(dir.filePath(QStringLiteral("gone/file.txt")), QByteArray("x"));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
}

TEST_F(SaveFile, AFolderInTheWayIsReported)
{
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    EXPECT_FALSE(saveFile(blocked, QByteArray("x")).isEmpty());
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST_F(SaveFile, AReadOnlyFolderIsReportedAndTheOldFileStays)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString error = saveFile(path, QByteArray("new"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(content(), QByteArray("old\r\n"));
}
