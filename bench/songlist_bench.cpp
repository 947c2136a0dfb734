// Load + Order + Rewrite of a 100,001-entry song list, with the real ordering and with the literal
// selection sort it replaces. Prints both and their ratio.
#include "common/savefile.h"
#include "library/songlist.h"
#include "support/referencesort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace tarv;

namespace {

QByteArray generatedList(int entries)
{
    QList<Song> songs;
    songs.reserve(entries);
    QRandomGenerator random(42);
    for (int i = 0; i < entries; ++i)
        songs << Song::fromTitle(100000 + random.bounded(899999), QStringLiteral("テスト曲 その%1").arg(i));
    return serializeSongList(songs);
}

double run(const QString& path, const QByteArray& content, bool reference)
{
    saveFile(path, content);

    QElapsedTimer timer;
    timer.start();
    const SongListLoad load = loadSongList(path);
    const QList<Song> ordered = reference ? test::referenceSelectionSort(load.songs) : orderSongs(load.songs);
    rewriteSongList(path, ordered);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100001;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("musiclist.txt"));
    const QByteArray content = generatedList(entries);

    double best = 1e300;
    for (int i = 0; i < 5; ++i)
        best = std::min(best, run(path, content, false));
    std::printf("entries: %d\n", entries);
    std::printf("load+order+rewrite, ordering in O(n log n): %.1f ms (best of 5)\n", best);
    std::fflush(stdout);
    const double reference = run(path, content, true);
    std::printf("load+order+rewrite, literal selection sort: %.1f ms (one run)\n", reference);
    std::printf("ratio selection sort / real: %.0fx\n", reference / best);
    return 0;
}
