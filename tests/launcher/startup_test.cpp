#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "common/webroot.h"
#include "launcher/karaokescreen.h"
#include "launcher/startup.h"
#include "support/appfolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

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

TEST(AppFolder, TheOptionThenAWritableProgramFolderThenTheDataFolder)
{
    QTemporaryDir dir;
    const QString portable = dir.filePath(QStringLiteral("portable")), bin = dir.filePath(QStringLiteral("usr/bin"));
    const QString readOnly = dir.filePath(QStringLiteral("readonly")), data = QStringLiteral("/home/u/.local/share/T");
    for (const QString& folder : {portable, bin, readOnly, dir.filePath(QStringLiteral("usr/share/applications"))})
        ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(saveFile(dir.filePath(QStringLiteral("usr/share/applications/" TARV_APP_ID ".desktop")), "").isEmpty());
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    const QString tarv = QStringLiteral("tarv"), option = QStringLiteral("--app-dir"), k = QStringLiteral("/srv/k");

    EXPECT_EQ(applicationFolder({tarv}, portable, data), portable);
    EXPECT_EQ(applicationFolder({tarv}, bin, data), data); // an installed copy, even where root could write
    EXPECT_EQ(applicationFolder({tarv, option, k}, bin, data), k);
    EXPECT_EQ(applicationFolder({tarv, option + u'=' + k}, portable, data), k);
    if (::geteuid() != 0) { // root writes into any folder
        EXPECT_EQ(applicationFolder({tarv}, readOnly, data), data);
    }
}

TEST(FirstStart, MakesAnEmptyLibraryOnce)
{
    QTemporaryDir dir;
    // "cut short" holds what an interrupted first start leaves: an empty src/ and the staged db/.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("cut short/src"))));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("cut short/.tarv-first-start/db"))));
    ASSERT_TRUE(saveFile(dir.filePath(QStringLiteral("cut short/.tarv-first-start/db/zihotime.txt")), "x").isEmpty());
    // A web root that db/path.txt cannot hold (a comma, no CP932 form) is left to the operator, not garbled.
    for (const QString& name :
         {QStringLiteral("cut short"), QStringLiteral("カラオケ"), QStringLiteral("a,b"), QStringLiteral("マイク🎤")}) {
        SCOPED_TRACE(name.toStdString());
        const bool webRootFits = encodableInCp932(name) && !name.contains(u',');
        const AppPaths paths(dir.filePath(name));
        ASSERT_TRUE(QDir().mkpath(paths.root()));

        const QString notice = prepareApplicationFolder(paths);
        EXPECT_TRUE(notice.contains(paths.root()));
        EXPECT_EQ(notice.contains(QStringLiteral("Webルート")), !webRootFits);
        for (const char* folder : {"db/bu", "src", "www/cgi-bin/tarv"})
            EXPECT_TRUE(QFileInfo(paths.file(QLatin1String(folder))).isDir()) << folder;
        for (const char* file : {"db/musiclist.txt", "db/ziholist.txt", "db/zihotrue.txt", "db/zihotime.txt"})
            EXPECT_EQ(readFileBytes(paths.file(QLatin1String(file)), 64 << 20), QByteArray()) << file;
        EXPECT_FALSE(QFileInfo::exists(paths.file(QStringLiteral(".tarv-first-start"))));
        EXPECT_EQ(readWebRoot(paths), webRootFits ? std::optional(paths.file(QStringLiteral("www"))) : std::nullopt);
        EXPECT_TRUE(prepareApplicationFolder(paths).isEmpty());
    }
}

TEST(FirstStart, LeavesAFolderThatHoldsALibraryAlone)
{
    // Entries to make: "name/" a folder, "name -> target" a symbolic link, otherwise a file.
    for (const QStringList& entries :
         QList<QStringList>{{QStringLiteral("db/musiclist.txt"), QStringLiteral("db/bu/20260314210509.txt")},
                            {QStringLiteral("db/")},
                            {QStringLiteral("db")},
                            {QStringLiteral("src/100001")},
                            {QStringLiteral("src/.hidden")},
                            {QStringLiteral("src -> gone")}}) {
        SCOPED_TRACE(entries.join(u' ').toStdString());
        QTemporaryDir dir;
        const AppPaths paths(dir.path());
        for (const QString& entry : entries) {
            if (entry.endsWith(u'/'))
                ASSERT_TRUE(QDir().mkpath(paths.file(entry)));
            else if (const QStringList link = entry.split(QStringLiteral(" -> ")); link.size() == 2)
                ASSERT_TRUE(QFile::link(paths.file(link[1]), paths.file(link[0])));
            else
                ASSERT_TRUE(QDir().mkpath(QFileInfo(paths.file(entry)).path()) &&
                            saveFile(paths.file(entry), "x").isEmpty());
        }
        // Anything the start made would be a new entry (content is compared end to end in package_test).
        const auto listing = [&dir] {
            QStringList names;
            for (QDirIterator it(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                names << it.next();
            names.sort();
            return names;
        };
        const QStringList before = listing();
        EXPECT_TRUE(prepareApplicationFolder(paths).isEmpty());
        EXPECT_EQ(listing(), before);
    }
}

// Which screen karaoke mode covers, with a fake list of screens: the operator's choice while that
// screen is there; otherwise one the main window is not on; otherwise the only one.
TEST_F(Startup, KaraokeGoesToTheChosenScreenOrOneWithoutTheMainWindow)
{
    const ScreenInfo laptop{QStringLiteral("eDP-1"), {1366, 768}}, tv{QStringLiteral("HDMI-1"), {1920, 1080}},
        projector{QStringLiteral("DP-2"), {1280, 720}};
    struct Row
    {
        QList<ScreenInfo> screens;
        QString mainOn, chosen;
        qsizetype expected;
    };
    const Row rows[] = {
        {{laptop}, laptop.name, {}, 0},
        {{laptop, tv}, laptop.name, {}, 1},
        {{tv, laptop}, laptop.name, {}, 0},
        {{laptop, tv, projector}, tv.name, {}, 0},
        {{laptop, tv, projector}, laptop.name, projector.name, 2},
        {{laptop, tv}, laptop.name, laptop.name, 0},    // the operator may want the laptop itself
        {{laptop, projector}, laptop.name, tv.name, 1}, // the chosen TV unplugged: another screen
        {{laptop}, laptop.name, tv.name, 0},            // ... or the only one
        {{}, {}, tv.name, -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(chooseKaraokeScreen(row.screens, row.mainOn, row.chosen), row.expected) << row.chosen.toStdString();

    EXPECT_EQ(readKaraokeScreen(paths), QString());
    ASSERT_EQ(saveKaraokeScreen(paths, tv.name), QString());
    EXPECT_EQ(readKaraokeScreen(paths), tv.name);
    EXPECT_EQ(screenLabel(tv), QStringLiteral("HDMI-1 (1920×1080)"));
}
