// Reservation lookup at 10,000, 50,000 and 100,001 songs: the first lookup after karaoke mode starts
// (the list read and parsed), a kept lookup, and reading the whole file for every reservation.
// Prints medians.
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/songlist.h"
#include "stage/songlookup.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

using namespace tarv;

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What a reservation costs without the kept list: read the file, then the last matching pair wins.
std::optional<Song> lookupByReading(const QString& path, qint64 number)
{
    std::optional<Song> found;
    for (const Song& song : parseSongList(*readFileBytes(path, 64 << 20)).songs)
        if (song.number == number)
            found = song;
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QRandomGenerator random(42);
    std::printf("Reservation lookup (median of 7 runs)\n");
    std::printf("%8s | %14s %14s %16s\n", "songs", "cold first ms", "kept us", "read-all ms");
    int found = 0;
    int asked = 0;
    for (int songs : {10000, 50000, 100001}) {
        const QString path = dir.filePath(QStringLiteral("musiclist%1.txt").arg(songs));
        QList<Song> list;
        list.reserve(songs);
        for (int i = 0; i < songs; ++i)
            list.append(Song::fromTitle(100000 + i, QStringLiteral("夜明けの歌 その%1").arg(i)));
        const QByteArray content = serializeSongList(list);
        auto pick = [&random, songs] { return qint64(100000 + random.bounded(songs)); };

        std::vector<double> cold;
        for (int run = 0; run < 7; ++run) {
            // Karaoke mode starts on a list written since the last start: nothing of it is kept.
            saveFile(path, content);
            QThread::msleep(30);
            SongLookup lookup(path);
            const auto start = std::chrono::steady_clock::now();
            found += lookup.find(SongNumber(pick())).has_value();
            cold.push_back(msSince(start));
            ++asked;
        }

        SongLookup lookup(path);
        constexpr int KeptRuns = 20000;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < KeptRuns; ++i)
            found += lookup.find(SongNumber(pick())).has_value();
        const double kept = msSince(start) / KeptRuns;
        asked += KeptRuns;

        std::vector<double> reading;
        for (int run = 0; run < 5; ++run) {
            const auto t = std::chrono::steady_clock::now();
            found += lookupByReading(path, pick()).has_value();
            reading.push_back(msSince(t));
            ++asked;
        }
        std::printf("%8d | %14.2f %14.2f %16.1f\n", songs, median(cold), kept * 1e3, median(reading));
        std::fflush(stdout);
    }
    std::printf("(found %d of %d)\n", found, asked);
    return found == asked ? 0 : 1;
}
