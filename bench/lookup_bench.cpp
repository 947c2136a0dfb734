// Reservation lookup in a 100,001-song list: the kept list (re-read only when the file changes)
// against reading and scanning the whole file for every reservation.
#include "common/cp932.h"
#include "library/songlist.h"
#include "stage/songlookup.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <optional>

using namespace tarv;

namespace {

constexpr int Songs = 100001;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What a reservation costs without the kept list: read the file, then the last matching pair wins.
std::optional<Song> lookupByReading(const QString& path, qint64 number)
{
    std::optional<Song> found;
    for (const Song& song : loadSongList(path).songs)
        if (song.number == number)
            found = song;
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("musiclist.txt"));
    QList<Song> songs;
    songs.reserve(Songs);
    for (int i = 0; i < Songs; ++i)
        songs.append(Song::fromTitle(100000 + i, QStringLiteral("夜明けの歌 その%1").arg(i)));
    if (!rewriteSongList(path, songs).isEmpty()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    QRandomGenerator random(42);
    auto pick = [&random] { return qint64(100000 + random.bounded(Songs)); };

    SongLookup lookup(path);
    lookup.count(); // first read
    constexpr int CachedRuns = 20000;
    int hits = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < CachedRuns; ++i)
        hits += lookup.find(double(pick())).has_value();
    const double cached = secondsSince(start) / CachedRuns;

    constexpr int ReadingRuns = 20;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < ReadingRuns; ++i)
        hits += lookupByReading(path, pick()).has_value();
    const double reading = secondsSince(start) / ReadingRuns;

    std::printf("songs in list:                 %d\n", Songs);
    std::printf("kept list, per reservation:    %.2f us\n", cached * 1e6);
    std::printf("reading file, per reservation: %.2f ms\n", reading * 1e3);
    std::printf("ratio (reading / kept):        %.0f x\n", reading / cached);
    std::printf("(found %d of %d)\n", hits, CachedRuns + ReadingRuns);
    return hits == CachedRuns + ReadingRuns ? 0 : 1;
}
