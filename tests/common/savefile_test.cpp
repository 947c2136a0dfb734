#include "common/filetransaction.h"
#include "common/savefile.h"
#include "common/textfile.h"

#include <QCryptographicHash>
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
    QByteArray content() const { return readFileBytes(path, 64 << 20).value_or("<missing>"); }
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

    // A link onto something that is not a file (a pipe here, as for a link to a device) is refused and
    // left as it is.
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString pipeLink = dir.filePath(QStringLiteral("pipelink.txt"));
    ASSERT_TRUE(QFile::link(pipe, pipeLink));
    EXPECT_FALSE(saveFile(pipeLink, QByteArray("x")).isEmpty());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(pipeLink).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(QFileInfo(pipeLink).isSymLink());
}

TEST(SaveTemporaries, OnlyTheSaveHelpersOwnNamesAreTakenForItsTemporaryFiles)
{
    for (const char* name : {".musiclist.txt.tarv-save-Ab3dE9", ".100001.tarv-save-000000"})
        EXPECT_TRUE(isSaveTemporaryName(QString::fromLatin1(name))) << name;
    for (const char* name : {"musiclist.txt", "musiclist.txt.Ab3dE9" /* QSaveFile's */, ".100001.tarv-save-12345",
                             ".100001.tarv-save-12345!", "100001.tarv-save-123456", ".tarv-save-123456", ".hidden"})
        EXPECT_FALSE(isSaveTemporaryName(QString::fromLatin1(name))) << name;
}

// A journal that a kill left: finished when whole, removed without touching a file when torn anywhere.
TEST(FileChanges, AWholeJournalIsFinishedAndATornOneChangesNothing)
{
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("db")));
    const QString journal = changeJournal(paths);
    const QString a = paths.file(QStringLiteral("db/ziholist.txt")), b = paths.file(QStringLiteral("db/zihotime.txt"));
    ASSERT_TRUE(saveFile(a, QByteArray("old a")).isEmpty() && saveFile(b, QByteArray("old b")).isEmpty());
    // As an earlier version wrote it: the names percent-encoded, as paths relative to db/.
    const QByteArray body = "tarv-changes 1\r\nwrite 5 ziholist.txt\r\nnew a\r\nwrite 6 zihotim%65.txt\r\nnew\r\nb\r\n";
    const QByteArray whole =
        body + "end " + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\r\n";

    QList<QByteArray> torn;
    for (qsizetype size = 0; size < whole.size(); ++size)
        torn << whole.first(size);
    torn << QByteArray(whole).replace("new a", "new A");
    for (const QByteArray& bytes : torn) {
        ASSERT_TRUE(saveFile(journal, bytes).isEmpty());
        EXPECT_EQ(finishFileChanges(paths), QStringList()) << bytes.constData();
        EXPECT_FALSE(QFile::exists(journal));
        EXPECT_EQ(readFileBytes(a, 64 << 20), QByteArray("old a"));
        EXPECT_EQ(readFileBytes(b, 64 << 20), QByteArray("old b"));
    }

    ASSERT_TRUE(saveFile(journal, whole).isEmpty());
    EXPECT_EQ(finishFileChanges(paths), (QStringList{QStringLiteral("ziholist.txt"), QStringLiteral("zihotime.txt")}));
    EXPECT_FALSE(QFile::exists(journal));
    EXPECT_EQ(readFileBytes(a, 64 << 20), QByteArray("new a"));
    EXPECT_EQ(readFileBytes(b, 64 << 20), QByteArray("new\r\nb"));

    // A whole journal that names another file is never carried out, and each save says what to do.
    const QByteArray other = "tarv-changes 1\r\nwrite 0 ../db/musiclist.txt\r\n\r\n";
    ASSERT_TRUE(
        saveFile(journal, other + "end " + QCryptographicHash::hash(other, QCryptographicHash::Sha256).toHex() + "\r\n")
            .isEmpty());
    const QString error = saveFilesTogether(paths, {{JournalFile::InstalledSignals, "x"}});
    EXPECT_TRUE(
        error.contains(QStringLiteral("db/saving.txt の中身を確かめてから削除すると、保存できるようになります")))
        << error.toStdString();
    EXPECT_TRUE(QFile::exists(journal));
    EXPECT_EQ(readFileBytes(a, 64 << 20), QByteArray("new a"));
}
