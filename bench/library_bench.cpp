// Prints how long the library takes for a big drop and for both exports, at 10,000, 50,000 and
// 100,001 songs.
//   library_bench [files per drop] [work folder]   (1000 files, a temporary folder by default)

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

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarv;

namespace {

class AnswerFirstNumber : public OperatorPrompts
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void benchDrop(const QString& root, int songCount, int fileCount)
{
    const AppPaths paths(root + QStringLiteral("/drop-app-%1").arg(songCount));
    QDir().mkpath(paths.backupDir());
    QDir().mkpath(paths.srcDir());
    const QString dropDir = root + QStringLiteral("/drop-files-%1").arg(songCount);
    QDir().mkpath(dropDir);

    const QList<Song> library = songs(songCount, 100001);
    writeFile(paths.songList(), serializeSongList(library));
    const QByteArray video(4096, 'v');
    for (const Song& song : library)
        writeFile(paths.video(song.numberText()), video);
    QStringList files;
    for (int i = 0; i < fileCount; ++i) {
        files << dropDir + QStringLiteral("/新曲%1.mp4").arg(i, 4, 10, QLatin1Char('0'));
        writeFile(files.last(), QByteArray(16 * 1024, 'n'));
    }

    SystemClock clock;
    AnswerFirstNumber prompts;
    OperatorLog log;
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
    std::printf("%8d | %6d files %9.0f ms %8.1f ms/file %9.1f ms slowest | list now %lld songs\n", songCount,
                registration.registered(), elapsed, elapsed / std::max(1, registration.registered()), slowest,
                qint64(sharedSongTable(paths.songList())->size()));
    std::fflush(stdout);
    QDir(paths.root()).removeRecursively();
    QDir(dropDir).removeRecursively();
}

void benchExports(const QString& root, int songCount)
{
    const AppPaths paths(root + QStringLiteral("/export-app"));
    QDir().mkpath(paths.dbDir());
    const QString web = root + QStringLiteral("/www");
    QDir().mkpath(web + QStringLiteral("/cgi-bin/tarv"));
    writeFile(paths.webRootFile(), web.toUtf8() + "\r\n");

    // Stored in reverse so that ordering has work to do.
    QList<Song> list = songs(songCount, 100000);
    std::reverse(list.begin(), list.end());
    writeFile(paths.songList(), serializeSongList(list));

    std::vector<double> both, html, cgi;
    bool ok = true;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer t;
        t.start();
        ok &= exportSongBook(paths, QStringLiteral("1.00")).ok();
        const double h = ms(t);
        t.restart();
        ok &= exportWebSongFile(paths).ok();
        const double c = ms(t);
        html.push_back(h);
        cgi.push_back(c);
        both.push_back(h + c);
    }
    std::printf("%8d | both %7.0f ms | db.html %7.0f ms | songdb.txt %7.0f ms%s\n", songCount, median(both),
                median(html), median(cgi), ok ? "" : " (FAILED)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const QString root = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    std::printf("Both exports of the song list, stored in reverse order (median of 7 runs; the first run\n"
                "reads the list, later runs share it)\n");
    for (int count : {10000, 50000, 100001})
        benchExports(root, count);
    std::printf("Drop of %d files, automatic numbering from 100001 (every number up to the list's end taken),\n"
                "source deleted, backup\n",
                files);
    for (int count : {10000, 50000, 100001})
        benchDrop(root, count, files);
    return 0;
}
