// Prints how long the library takes for a big drop and for the exports of a full song list.
//   library_bench [work folder]   (a temporary folder by default)

#include "common/apppaths.h"
#include "common/clock.h"
#include "library/exports.h"
#include "library/registration.h"
#include "library/songlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace tarv;

namespace {

class AnswerFirstNumber : public LibraryPrompts
{
public:
    QString input(const QString&, const QString&, const QString&) override { return QStringLiteral("100001"); }
    bool confirm(const QString&, const QString&, MessageIcon) override { return true; }
    void message(const QString& text, const QString&, MessageIcon) override
    {
        std::printf("message: %s\n", qPrintable(text));
    }
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

QList<Song> songs(int count, qint64 first)
{
    QList<Song> out;
    out.reserve(count);
    for (int i = 0; i < count; ++i)
        out << Song::fromTitle(first + i, QStringLiteral("夜明けの歌 その%1 (カラオケ)").arg(i));
    return out;
}

double ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

void benchDrop(const QString& root)
{
    const AppPaths paths(root + QStringLiteral("/drop-app"));
    QDir().mkpath(paths.backupDir());
    QDir().mkpath(paths.srcDir());
    const QString dropDir = root + QStringLiteral("/drop-files");
    QDir().mkpath(dropDir);

    const QList<Song> library = songs(10000, 100001);
    writeFile(paths.songList(), serializeSongList(library));
    const QByteArray video(4096, 'v');
    for (const Song& song : library)
        writeFile(paths.video(song.numberText()), video);
    QStringList files;
    for (int i = 0; i < 1000; ++i) {
        files << dropDir + QStringLiteral("/新曲%1.mp4").arg(i, 4, 10, QLatin1Char('0'));
        writeFile(files.last(), QByteArray(16 * 1024, 'n'));
    }

    SystemClock clock;
    AnswerFirstNumber prompts;
    LibraryLog log;
    Registration registration(paths, clock, prompts, log, files, RegistrationOptions{true, true, true});
    QElapsedTimer total;
    total.start();
    registration.begin();
    double slowest = 0;
    while (registration.running()) {
        QElapsedTimer one;
        one.start();
        registration.step();
        slowest = std::max(slowest, ms(one));
    }
    const double elapsed = ms(total);
    std::printf("drop of %d files onto a %lld-song list (first number 100001, every number up to 110000 taken,\n"
                "  source deleted, backup after each file): %.0f ms total, %.1f ms per file, slowest file %.1f ms\n",
                registration.registered(), qint64(library.size()), elapsed, elapsed / registration.registered(),
                slowest);
    std::printf("  the list now holds %lld songs; the top of the log: %s\n",
                qint64(loadSongList(paths.songList()).songs.size()), qPrintable(log.text().section(u'\r', 0, 0)));
}

void benchExports(const QString& root)
{
    const AppPaths paths(root + QStringLiteral("/export-app"));
    QDir().mkpath(paths.dbDir());
    const QString web = root + QStringLiteral("/www");
    QDir().mkpath(web + QStringLiteral("/cgi-bin/tarv"));
    writeFile(paths.webRootFile(), web.toUtf8() + "\r\n");

    // Stored in reverse so that ordering has work to do.
    QList<Song> list = songs(100001, 100000);
    std::reverse(list.begin(), list.end());
    writeFile(paths.songList(), serializeSongList(list));

    QElapsedTimer t;
    t.start();
    const SongListLoad loaded = loadSongList(paths.songList());
    const double loadMs = ms(t);
    t.restart();
    const QList<Song> ordered = orderSongs(loaded.songs);
    const double orderMs = ms(t);
    t.restart();
    QStringList items;
    items.reserve(ordered.size());
    for (const Song& song : ordered)
        items << song.displayText();
    const double displayMs = ms(t);

    t.restart();
    const ExportResult html = exportSongBook(paths, QStringLiteral("1.00"));
    const double htmlMs = ms(t);
    t.restart();
    const ExportResult web2 = exportWebSongFile(paths);
    const double webMs = ms(t);

    std::printf("100,001-song list: load %.0f ms, order %.0f ms, display texts for the two lists %.0f ms\n", loadMs,
                orderMs, displayMs);
    std::printf("  db.html export %.0f ms (%s, %lld bytes), songdb.txt export %.0f ms (%s, %lld bytes)\n", htmlMs,
                html.ok() ? "ok" : qPrintable(html.error),
                qint64(QFileInfo(paths.file(QStringLiteral("db/db.html"))).size()), webMs,
                web2.ok() ? "ok" : qPrintable(web2.error),
                qint64(QFileInfo(web + QStringLiteral("/cgi-bin/tarv/songdb.txt")).size()));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    benchDrop(root);
    benchExports(root);
    return 0;
}
