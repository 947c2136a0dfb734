#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "common/webroot.h"
#include "launcher/startup.h"
#include "support/appfolder.h"

#include <QCryptographicHash>
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
    const QString portable = dir.filePath(QStringLiteral("portable"));
    const QString installed = dir.filePath(QStringLiteral("usr/bin"));
    const QString readOnly = dir.filePath(QStringLiteral("readonly"));
    for (const QString& folder :
         {portable, installed, readOnly, dir.filePath(QStringLiteral("usr/share/applications"))})
        ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(saveFile(dir.filePath(QStringLiteral("usr/share/applications/" TARV_APP_ID ".desktop")), "").isEmpty());
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    const QString data = QStringLiteral("/home/u/.local/share/Tarv");
    const QString tarv = QStringLiteral("tarv");

    struct Case
    {
        QStringList arguments;
        QString executableDir;
        QString expected;
    };
    QList<Case> cases = {
        {{tarv}, portable, portable},
        {{tarv}, installed, data}, // even when root could write into it
        {{tarv}, dir.filePath(QStringLiteral("gone")), data},
        {{tarv, QStringLiteral("--app-dir"), QStringLiteral("/srv/k")}, installed, QStringLiteral("/srv/k")},
        {{tarv, QStringLiteral("--app-dir=/srv/k")}, portable, QStringLiteral("/srv/k")},
    };
    if (::geteuid() != 0) // root writes into any folder
        cases.append({{tarv}, readOnly, data});
    for (const Case& c : cases)
        EXPECT_EQ(applicationFolder(c.arguments, c.executableDir, data), c.expected) << c.executableDir.toStdString();
}

TEST(FirstStart, MakesAnEmptyLibraryOnce)
{
    QTemporaryDir dir;
    struct Case
    {
        QString folder;
        bool webRootWritten; // db/path.txt holds only what CP932 can say and what has no comma
    };
    // "interrupted" holds what a first start that was cut short leaves: an empty src/ and the staged db/.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("interrupted/src"))));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("interrupted/.tarv-first-start/db"))));
    ASSERT_TRUE(saveFile(dir.filePath(QStringLiteral("interrupted/.tarv-first-start/db/zihotime.txt")), "x").isEmpty());
    for (const Case& c : {Case{QStringLiteral("plain"), true}, Case{QStringLiteral("interrupted"), true},
                          Case{QStringLiteral("カラオケ"), true}, Case{QStringLiteral("a,b"), false},
                          Case{QStringLiteral("マイク🎤"), false}}) {
        SCOPED_TRACE(c.folder.toStdString());
        const AppPaths paths(dir.filePath(c.folder));
        ASSERT_TRUE(QDir().mkpath(paths.root()));
        ASSERT_FALSE(holdsLibrary(paths));

        const QString notice = prepareApplicationFolder(paths);
        EXPECT_TRUE(notice.contains(paths.root()));
        EXPECT_EQ(notice.contains(QStringLiteral("Webルート")), !c.webRootWritten);
        for (const char* folder : {"db/bu", "src", "www/cgi-bin/tarv"})
            EXPECT_TRUE(QFileInfo(paths.file(QLatin1String(folder))).isDir()) << folder;
        for (const char* file : {"db/musiclist.txt", "db/ziholist.txt", "db/zihotrue.txt", "db/zihotime.txt"}) {
            const QFileInfo info(paths.file(QLatin1String(file)));
            EXPECT_TRUE(info.isFile() && info.size() == 0) << file;
        }
        EXPECT_FALSE(QFileInfo::exists(paths.file(QStringLiteral(".tarv-first-start"))));
        if (c.webRootWritten) {
            EXPECT_EQ(readFileBytes(paths.webRootFile()), encodeCp932(paths.file(QStringLiteral("www"))) + "\r\n");
            EXPECT_TRUE(existingExchangeFile(paths, QStringLiteral("tarvlist.txt")));
        } else {
            EXPECT_FALSE(QFileInfo::exists(paths.webRootFile()));
        }
        EXPECT_TRUE(holdsLibrary(paths));
        EXPECT_TRUE(prepareApplicationFolder(paths).isEmpty());
    }
}

// Every entry under the folder with its kind, size, modification time and content.
static QStringList folderSnapshot(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QByteArray content = info.isFile() ? readFileBytes(info.filePath()).value_or("?") : QByteArray();
        entries << QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(info.filePath(), info.isSymLink() ? info.symLinkTarget() : QString())
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch())
                       .arg(QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex()));
    }
    entries.sort();
    return entries;
}

TEST(FirstStart, LeavesAFolderThatHoldsALibraryByteIdentical)
{
    const QByteArray list = encodeCp932(QStringLiteral(" 100001 \r\n夜明けのメロディー\r\n"));
    struct Case
    {
        const char* name;
        QList<std::pair<QString, QByteArray>> files; // a path ending in "/" is a folder
    };
    const QList<Case> cases = {
        {"a song list alone", {{QStringLiteral("db/musiclist.txt"), list}}},
        {"an empty db folder", {{QStringLiteral("db/"), {}}}},
        {"videos without a list", {{QStringLiteral("src/100001"), "video"}}},
        {"a hidden file in src", {{QStringLiteral("src/.keep"), {}}}},
        {"db is a file", {{QStringLiteral("db"), "x"}}},
        {"a whole library",
         {{QStringLiteral("db/musiclist.txt"), list},
          {QStringLiteral("db/bu/20260314210509.txt"), list},
          {QStringLiteral("db/path.txt"), "/srv/www\r\n"},
          {QStringLiteral("src/000000"), "intro"},
          {QStringLiteral("www/cgi-bin/tarv/tarvlist.txt"), {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const AppPaths paths(dir.path());
        for (const auto& [path, content] : c.files) {
            if (path.endsWith(u'/'))
                ASSERT_TRUE(QDir().mkpath(paths.file(path)));
            else
                ASSERT_TRUE(QDir().mkpath(QFileInfo(paths.file(path)).path()) &&
                            saveFile(paths.file(path), content).isEmpty());
        }
        const QStringList before = folderSnapshot(dir.path());
        EXPECT_TRUE(prepareApplicationFolder(paths).isEmpty());
        EXPECT_EQ(folderSnapshot(dir.path()), before);
    }
    // A src/ that is a link, even a dangling one, is the operator's.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("elsewhere")), dir.filePath(QStringLiteral("src"))));
    const QStringList before = folderSnapshot(dir.path());
    EXPECT_TRUE(prepareApplicationFolder(AppPaths(dir.path())).isEmpty());
    EXPECT_EQ(folderSnapshot(dir.path()), before);
}
