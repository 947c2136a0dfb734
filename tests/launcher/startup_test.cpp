#include "common/savefile.h"
#include "launcher/startup.h"
#include "support/appfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarv;

using Startup = test::AppFolderTest;

TEST_F(Startup, BacksUpTheListAtEachStart)
{
    const QString written = startupBackup(paths, QDateTime(QDate(2026, 3, 14), QTime(21, 5, 9)));
    EXPECT_EQ(QFileInfo(written).fileName(), QStringLiteral("20260314210509.txt"));
    EXPECT_TRUE(QFileInfo::exists(written));
    startupBackup(paths, QDateTime(QDate(2026, 3, 14), QTime(21, 5, 10)));
    EXPECT_EQ(QDir(paths.backupDir()).entryList(QDir::Files).size(), 2);
}

TEST_F(Startup, SkipsTheBackupWithoutListOrFolder)
{
    QFile::remove(paths.songList());
    EXPECT_TRUE(startupBackup(paths, QDateTime::currentDateTime()).isEmpty());
    EXPECT_TRUE(QDir(paths.backupDir()).isEmpty());

    ASSERT_TRUE(saveFile(paths.songList(), QByteArray()).isEmpty());
    ASSERT_TRUE(QDir(paths.backupDir()).removeRecursively());
    EXPECT_TRUE(startupBackup(paths, QDateTime::currentDateTime()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(paths.backupDir())); // not created behind the operator's back
}

TEST_F(Startup, AFailedBackupIsReportedOnStandardError)
{
    const QDateTime now(QDate(2026, 3, 14), QTime(21, 5, 9));
    ASSERT_TRUE(QDir(paths.backupDir()).mkdir(QStringLiteral("20260314210509.txt"))); // a folder in the way
    testing::internal::CaptureStderr();
    EXPECT_TRUE(startupBackup(paths, now).isEmpty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no backup"), std::string::npos);

    // The reason goes to the caller too, which shows it; a full disk says so.
    const ScopedSaveFault full({SaveFault::Step::Flush, 0, ENOSPC});
    QString error;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(startupBackup(paths, now.addSecs(1), &error).isEmpty());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(error.contains(QStringLiteral("ディスクの空き容量が足りません"))) << error.toStdString();
    EXPECT_EQ(QDir(paths.backupDir()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(Startup, OnlyTheSaveHelpersLeftoversInTheWrittenFoldersAreRemoved)
{
    const QString web = dir.filePath(QStringLiteral("www"));
    ASSERT_TRUE(QDir().mkpath(web + QStringLiteral("/cgi-bin/tarv")));
    ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
    ASSERT_TRUE(saveFile(paths.webRootFile(), QFile::encodeName(web) + "\r\n").isEmpty());
    const QStringList leftovers{
        paths.file(QStringLiteral("db/.musiclist.txt.tarv-save-Ab3dE9")),
        paths.file(QStringLiteral("db/bu/.20260314210509.txt.tarv-save-x1Y2z3")),
        paths.file(QStringLiteral("src/.100001.tarv-save-000000")),
        web + QStringLiteral("/cgi-bin/tarv/.tarvlist.txt.tarv-save-qwerty"),
    };
    const QStringList kept{
        paths.file(QStringLiteral(".musiclist.txt.tarv-save-Ab3dE9")), // a folder the program does not write
        paths.file(QStringLiteral("db/musiclist.txt.Ab3dE9")),         // not the helper's own name
        paths.file(QStringLiteral("src/100001")),
    };
    for (const QString& file : leftovers + kept)
        ASSERT_TRUE(saveFile(file, QByteArray("x")).isEmpty());

    QStringList removed = removeLeftoverTemporaries(paths);
    removed.sort();
    QStringList expected = leftovers;
    expected.sort();
    EXPECT_EQ(removed, expected);
    for (const QString& file : kept)
        EXPECT_TRUE(QFileInfo::exists(file)) << file.toStdString();
}

TEST_F(Startup, InformationTextHasFourLinesWithTheFilesDates)
{
    const QDateTime stamp(QDate(2026, 3, 14), QTime(21, 5, 0));
    QFile list(paths.songList());
    ASSERT_TRUE(list.open(QIODevice::ReadWrite));
    ASSERT_TRUE(list.setFileTime(stamp, QFileDevice::FileModificationTime));
    list.close();

    const QLocale locale(QLocale::Japanese, QLocale::Japan);
    const QString text =
        informationText(QStringLiteral("1.00"), dir.filePath(QStringLiteral("missing-exe")), paths.songList(), locale);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("System Version:1.00"));
    EXPECT_EQ(lines[1], QString(25, QChar(0xFFE3)));
    EXPECT_EQ(lines[2], QStringLiteral("Softwere Last UpDate:")); // a missing file leaves its date empty
    EXPECT_EQ(lines[3], QStringLiteral("DB Last UpDate:") + locale.toString(stamp, QLocale::ShortFormat));
}

TEST_F(Startup, VersionTextLines)
{
    EXPECT_EQ(versionText(QStringLiteral("1.00")).split(QStringLiteral("\r\n")),
              (QStringList{QStringLiteral("Application Name : Tarv"), QStringLiteral("System Version : 1.00"),
                           QString(), MakerPage, QStringLiteral("アクセスしますか？")}));
    EXPECT_TRUE(MakerPage.startsWith(QStringLiteral("http")));
}

TEST_F(Startup, OneCopyPerApplicationFolder)
{
    InstanceGuard first(paths);
    InstanceGuard second(paths);
    QTemporaryDir otherDir;
    InstanceGuard other{AppPaths(otherDir.path())};
    ASSERT_TRUE(first.acquire());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(other.acquire());
    // The same folder reached through a symbolic link is the same folder.
    const QString link = otherDir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(paths.root(), link));
    InstanceGuard throughLink{AppPaths(link)};
    EXPECT_FALSE(throughLink.acquire());
    EXPECT_FALSE(first.lockPath().startsWith(paths.root())); // the guard writes nothing in the folder
}
