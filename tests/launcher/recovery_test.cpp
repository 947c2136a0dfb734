#include "common/cp932.h"
#include "common/signalfiles.h"
#include "launcher/startup.h"
#include "library/libraryfixture.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QUrl>

#include <functional>

#include <unistd.h>

using namespace tarv;
using namespace tarv::test;

namespace {

// Every file under the folder (the start's backups aside) with a digest of its bytes.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (relative.startsWith(QStringLiteral("app/db/bu/")))
            continue;
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
        files.insert(relative, hash.result());
    }
    return files;
}

// Every entry of every list as "list:number" (the two time-signal lists are one, a save moves entries
// between them); the entries a list's rules refuse go to *invalid.
QStringList listEntries(const AppPaths& paths, QStringList* invalid)
{
    QStringList entries;
    const SongListLoad songs = loadSongList(paths.songList());
    for (const QString& warning : songs.warnings)
        *invalid << warning;
    for (const Song& song : songs.songs) {
        entries << QStringLiteral("musiclist.txt:%1").arg(song.number);
        if (song.number < 100000 || song.number > 999998)
            *invalid << entries.constLast();
    }
    for (const QString& path : {installedSignalsFile(paths), enabledSignalsFile(paths)}) {
        for (const SignalEntry& entry : loadSignalEntries(path).items) {
            entries << QStringLiteral("signal:") + entry.number;
            if (!parseSignalNumber(entry.number))
                *invalid << entries.constLast();
        }
    }
    for (const TimeItem& item : loadTimeItems(signalTimesFile(paths)).items)
        entries << QStringLiteral("time:") + item.time() + u'>' + item.field();
    entries.sort();
    return entries;
}

QByteArray hex(const QString& title)
{
    return encodeCp932(title).toHex();
}

// A journal as the program writes it, with its checksum, naming each file as given.
QByteArray journal(const QList<std::pair<QByteArray, QByteArray>>& writes)
{
    QByteArray out = "tarv-changes 1\r\n";
    for (const auto& [name, content] : writes)
        out += "write " + QByteArray::number(content.size()) + ' ' + name + "\r\n" + content + "\r\n";
    return out + "end " + QCryptographicHash::hash(out, QCryptographicHash::Sha256).toHex() + "\r\n";
}

} // namespace

// Notes a kill, a disk, an older version or another PC may leave in db/, each against one library.
// Whatever a note says, the start never loses or replaces a video that a list names, adds no entry
// a list's rules refuse, writes nothing but what the note's own operation may write, and tells the
// operator what it did and what it left as it was.
TEST(RecoveryInvariants, NoNoteTurnsAgainstTheLibrary)
{
    struct Row
    {
        const char* name;
        const char* note; // the note's file under db/
        // Writes what the row needs besides the library, and gives the note's content.
        std::function<QByteArray(TempLibrary&)> left;
        QStringList mayChange; // files under the temporary folder that may change, the note aside
        QStringList added;     // list entries that may be added
        bool noteStays;        // refused whole: the note is kept for the operator
        const char* says;      // in the operator's report
    };
    const QString outside = QStringLiteral("outside.txt");
    const Row rows[] = {
        {"time-signal copy without source, under a listed song's number",
         "zihodropping.txt",
         [](TempLibrary&) { return QByteArray("100001\t\t\r\n"); },
         {},
         {},
         false,
         "src/100001"},
        {"time-signal copy of an older version, of an enabled time signal",
         "zihodropping.txt",
         [](TempLibrary&) { return QByteArray("1003\r\n"); },
         {},
         {},
         false,
         "src/001003"},
        {"time-signal copy of the time list's video",
         "zihodropping.txt",
         [](TempLibrary& lib) {
             const QString source = lib.dropDir() + QStringLiteral("/a.mp4");
             QFile::copy(lib.paths.video(QStringLiteral("001004")), source);
             return "1004\t" + hex(QStringLiteral("時報")) + '\t' + QUrl::toPercentEncoding(source) + "\r\n";
         },
         {},
         {},
         false,
         "src/001004"},
        {"renumber between two listed songs",
         "editing.txt",
         [](TempLibrary& lib) {
             QFile::remove(lib.paths.video(QStringLiteral("100050"))); // its video is lost already
             return QByteArray("renumber 100050 100001\r\n");
         },
         {},
         {},
         false,
         "100050"},
        {"delete of a time signal's video",
         "editing.txt",
         [](TempLibrary& lib) {
             lib.writeVideo(QStringLiteral("100002"));
             TempLibrary::writeBytes(enabledSignalsFile(lib.paths), "001003\r\n三時\r\n100002\r\n時報\r\n");
             return QByteArray("delete 100002\r\n");
         },
         {},
         {},
         false,
         "src/100002"},
        {"copy whose title holds a line pair",
         "dropping.txt",
         [](TempLibrary& lib) {
             lib.writeVideo(QStringLiteral("100070"));
             return "100070\t" + hex(QStringLiteral("あ\r\n 100080 \r\nい")) + "\t/gone/a.mp4\r\n";
         },
         {},
         {},
         false,
         "100070"},
        {"copy under a number no song may have",
         "dropping.txt",
         [](TempLibrary& lib) {
             lib.writeVideo(QStringLiteral("1001"));
             return "1001\t" + hex(QStringLiteral("曲")) + "\t/gone/a.mp4\r\n";
         },
         {},
         {},
         false,
         "1001"},
        {"copy without source of an unlisted video",
         "dropping.txt",
         [](TempLibrary&) { return QByteArray("100060\r\n100060\t\t\r\n"); },
         {},
         {},
         false,
         "src/100060"},
        {"copy whose source is another file",
         "dropping.txt",
         [](TempLibrary& lib) {
             const QString source = lib.makeSource(QStringLiteral("other.mp4"));
             return "100060\t" + hex(QStringLiteral("曲")) + '\t' + QUrl::toPercentEncoding(source) + "\r\n";
         },
         {},
         {},
         false,
         "src/100060"},
        {"copy whose source is the video itself",
         "dropping.txt",
         [](TempLibrary& lib) {
             return "100060\t" + hex(QStringLiteral("曲")) + '\t' +
                    QUrl::toPercentEncoding(lib.paths.video(QStringLiteral("100060"))) + "\r\n";
         },
         {},
         {},
         false,
         "src/100060"},
        {"a note of 300 MB",
         "dropping.txt",
         [](TempLibrary& lib) {
             QFile note(lib.paths.file(QStringLiteral("db/dropping.txt")));
             if (note.open(QIODevice::WriteOnly))
                 note.resize(300 << 20);
             return QByteArray();
         },
         {},
         {},
         true,
         "dropping.txt"},
        {"journal that empties the song list",
         "saving.txt",
         [](TempLibrary&) {
             return journal({{"ziholist.txt", ""}, {"musiclist.txt", ""}});
         },
         {},
         {},
         true,
         "db/saving.txt"},
        {"journal over a listed video",
         "saving.txt",
         [](TempLibrary&) {
             return journal({{"../src/100001", "x"}});
         },
         {},
         {},
         true,
         "db/saving.txt"},
        {"journal by an absolute path",
         "saving.txt",
         [&outside](TempLibrary& lib) {
             return journal({{QUrl::toPercentEncoding(lib.dir.filePath(outside), "/"), "x"},
                             {QUrl::toPercentEncoding(lib.dir.filePath(QStringLiteral("new.txt")), "/"), "x"}});
         },
         {},
         {},
         true,
         "db/saving.txt"},
        {"journal out of the folder",
         "saving.txt",
         [&outside](TempLibrary&) {
             return journal({{"../../" + outside.toLatin1(), "x"}});
         },
         {},
         {},
         true,
         "db/saving.txt"},
        // What the notes are for still happens.
        {"journal of the time-signal lists",
         "saving.txt",
         [](TempLibrary&) {
             return journal({{"zihotrue.txt", ""}, {"ziholist.txt", "001001\r\n一時\r\n001003\r\n三時\r\n"}});
         },
         {QStringLiteral("app/db/ziholist.txt"), QStringLiteral("app/db/zihotrue.txt")},
         {},
         false,
         "zihotrue.txt"},
        {"copy whose source is gone",
         "zihodropping.txt",
         [](TempLibrary& lib) {
             lib.writeVideo(QStringLiteral("001002"));
             return "1002\t" + hex(QStringLiteral("二時")) + "\t/gone/a.mp4\r\n";
         },
         {QStringLiteral("app/db/ziholist.txt")},
         {QStringLiteral("signal:001002")},
         false,
         "001002|二時"},
        {"copy whose source is there",
         "dropping.txt",
         [](TempLibrary& lib) {
             const QString source = lib.makeSource(QStringLiteral("a.mp4"));
             QFile::copy(source, lib.paths.video(QStringLiteral("100090")));
             return "100090\t" + hex(QStringLiteral("曲")) + '\t' + QUrl::toPercentEncoding(source) + "\r\n";
         },
         {QStringLiteral("app/src/100090")},
         {},
         false,
         "src/100090"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempLibrary lib;
        lib.writeList({{100001, QStringLiteral("一番")}, {100050, QStringLiteral("五十番")}});
        TempLibrary::writeBytes(installedSignalsFile(lib.paths), "001001\r\n一時\r\n");
        TempLibrary::writeBytes(enabledSignalsFile(lib.paths), "001003\r\n三時\r\n");
        TempLibrary::writeBytes(signalTimesFile(lib.paths), "07:00\r\n001004\r\n");
        for (const char* name : {"000000", "100001", "100050", "001001", "001003", "001004", "100060"})
            TempLibrary::writeBytes(lib.paths.video(QLatin1String(name)), QByteArray(name) + " video");
        TempLibrary::writeBytes(lib.dir.filePath(outside), "outside");
        const QString notePath = lib.paths.file(QStringLiteral("db/") + QLatin1String(row.note));
        const QByteArray note = row.left(lib);
        if (!note.isEmpty())
            TempLibrary::writeBytes(notePath, note);
        QStringList invalid;
        const QStringList entriesBefore = listEntries(lib.paths, &invalid);
        const auto before = snapshot(lib.dir.path());

        QElapsedTimer timer;
        timer.start();
        const StartupReport report = prepareRun(lib.paths, QDateTime::currentDateTime());
        EXPECT_LT(timer.elapsed(), 5000);

        QStringList entriesAfter = listEntries(lib.paths, &invalid);
        EXPECT_EQ(invalid, QStringList());
        for (const QString& entry : row.added)
            EXPECT_TRUE(entriesAfter.removeOne(entry)) << entry.toStdString();
        EXPECT_EQ(entriesAfter, entriesBefore);

        const auto after = snapshot(lib.dir.path());
        const QString noteKey = QStringLiteral("app/db/") + QLatin1String(row.note);
        for (const QString& file : before.keys() + after.keys()) {
            if (file != noteKey && !row.mayChange.contains(file)) {
                EXPECT_EQ(before.value(file), after.value(file)) << file.toStdString();
            }
        }
        EXPECT_EQ(QFileInfo::exists(notePath), row.noteStays);

        const QString& told = report.recovery;
        EXPECT_TRUE(told.contains(QString::fromUtf8(row.says))) << told.toStdString();
        if (row.mayChange.isEmpty()) {
            EXPECT_TRUE(told.contains(QStringLiteral("そのままにしました"))) << told.toStdString();
        }
    }
}
