// The room's memory at 100,001 songs: a play log of 1,000,000 lines (500,000 songs, each a start
// and an end line) and then of 2,000,000, read and counted at start; a ranking's p99 as the guests'
// page asks for one; a song start (logged and counted) as the stage makes one; and the songs of a
// first kana: the index built once, then a list's p99.
#include "history/initialkana.h"
#include "history/playhistory.h"
#include "support/fakeclock.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace tarv;

namespace {

constexpr int Songs = 100001;
constexpr int Users = 2000;
constexpr int Phones = 5000;

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of this thread: what a figure costs on a machine that other work shares.
double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double p99(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() * 99 / 100];
}

const char* verdict(bool met)
{
    return met ? "met" : "MISSED";
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS"))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() / 1024;
    return -1;
}

// A song as a room picks them: a few favourites often, most songs rarely.
qint64 pickSong(QRandomGenerator& random)
{
    const quint32 kind = random.bounded(10);
    const int range = kind < 5 ? 500 : kind < 8 ? 10000 : Songs;
    return FirstSongNumber + random.bounded(range);
}

// Logs plays songs, four minutes apart, through the log itself (so its files rotate as they would).
void logPlays(const AppPaths& paths, test::FakeClock& clock, int plays, QRandomGenerator& random)
{
    PlayLog log(paths, clock);
    struct : PlayEvents
    {
        void started(const PlayRecord&) override {}
        void ended(quint64, int, std::optional<KeyTempo>) override {}
    } ignored;
    log.read(ignored);
    for (int i = 0; i < plays; ++i) {
        const PlayStart start{SongNumber(pickSong(random)), QStringLiteral("歌い手%1").arg(random.bounded(Users)),
                              QStringLiteral("%1").arg(random.bounded(Phones), 32, 16, QLatin1Char('0')),
                              KeyTempo{int(random.bounded(5)) - 2, 0}};
        const auto play = log.appendStart(start);
        clock.set(clock.now().addSecs(240));
        log.appendEnd(play->id, 30 + int(random.bounded(240)));
    }
}

QString kanaText(QRandomGenerator& random, int length)
{
    QString out;
    for (int i = 0; i < length; ++i)
        out += QChar(char16_t(0x3041 + random.bounded(0x3094 - 0x3041)));
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    QDir().mkpath(paths.dbDir());
    QRandomGenerator random(42);
    bool allMet = true;

    // The catalog: titles with their folded readings.
    std::vector<CatalogSong> songs;
    QStringList readings;
    for (int i = 0; i < Songs; ++i) {
        songs.push_back({FirstSongNumber + i, QStringLiteral("曲%1").arg(i)});
        readings << kanaText(random, 3 + int(random.bounded(10)));
    }
    const auto index = std::make_shared<const SongIndex>(SongIndex(std::move(songs)).withReadings(readings));

    test::FakeClock clock(QDateTime(QDate(2020, 1, 1), QTime(20, 0)));
    std::printf("Play history at %d songs, %d names, %d phones\n", Songs, Users, Phones);
    std::printf("%10s %6s | %13s %12s %7s | %15s %18s %16s\n", "log lines", "files", "load wall ms", "load CPU ms",
                "RSS MB", "ranking p99 ms", "song start p99 ms", "recount p99 ms");
    int logged = 0;
    for (const int plays : {500000, 1000000}) {
        const auto writing = std::chrono::steady_clock::now();
        logPlays(paths, clock, plays - logged, random);
        logged = plays;
        std::fprintf(stderr, "(%d plays logged in %.0f ms)\n", plays, msSince(writing));

        std::vector<double> loads, loadCpu;
        std::unique_ptr<PlayHistory> history;
        for (int run = 0; run < 5; ++run) {
            history.reset();
            history = std::make_unique<PlayHistory>(paths, clock);
            const auto start = std::chrono::steady_clock::now();
            const double cpu = cpuMs();
            const PlayLogReport report = history->load();
            loads.push_back(msSince(start));
            loadCpu.push_back(cpuMs() - cpu);
            if (report.lines != 2 * qint64(plays) || report.unreadable != 0) {
                std::printf("the log read back %lld lines, %lld unreadable\n", qlonglong(report.lines),
                            qlonglong(report.unreadable));
                return 1;
            }
        }
        std::sort(loads.begin(), loads.end());
        std::sort(loadCpu.begin(), loadCpu.end());
        history->setSessionStart(clock.now().addSecs(-4 * 3600));

        // What the ranking route does: the snapshot, the period's list, each song's title.
        std::vector<double> rankings;
        const RankingPeriod periods[] = {RankingPeriod::Tonight, RankingPeriod::Month, RankingPeriod::AllTime};
        qsizetype found = 0;
        QHash<qint64, qsizetype> titles; // the song lookup's work, without a song list on disk
        for (qsizetype i = 0; i < qsizetype(index->songs().size()); ++i)
            titles.insert(index->songs()[size_t(i)].number, i);
        for (int i = 0; i < 20000; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const auto snapshot = history->snapshot();
            for (const RankedSong& song : snapshot->ranking(periods[i % 3]))
                found += titles.contains(song.number);
            rankings.push_back(msSince(start));
        }
        // What the stage's thread spends on a song that starts, and on its end.
        std::vector<double> starts;
        for (int i = 0; i < 300; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const quint64 id = history->songStarted(
                {SongNumber(pickSong(random)), QStringLiteral("歌い手1"), QStringLiteral("phone")});
            history->songEnded(id, 200);
            starts.push_back(msSince(start) / 2);
            clock.set(clock.now().addSecs(240));
        }
        logged += 300;
        // The counts published again without a write (the session's start set).
        std::vector<double> recounts;
        for (int i = 0; i < 300; ++i) {
            const auto start = std::chrono::steady_clock::now();
            history->setSessionStart(clock.now().addSecs(-4 * 3600 - i));
            recounts.push_back(msSince(start));
        }
        const double rankingP99 = p99(rankings);
        std::printf("%10lld %6lld | %13.0f %12.0f %7.0f | %15.3f %18.2f %16.3f\n", 2 * qlonglong(plays),
                    qlonglong(PlayLog::files(paths).size()), loads[loads.size() / 2], loadCpu[loadCpu.size() / 2],
                    residentMegabytes(), rankingP99, p99(starts), p99(recounts));
        if (found == 0)
            return 1;
        allMet = allMet && rankingP99 < 20;
    }
    std::printf("load: median of 5, on a worker thread beside the start's 250 ms goal; a song start includes the\n"
                "log's write and, once a second, its sync\n");
    std::printf("ranking p99 goal < 20 ms: %s\n", verdict(allMet));

    // The songs by their first kana.
    InitialIndexCache cache;
    const auto building = std::chrono::steady_clock::now();
    cache.of(index);
    const double buildMs = msSince(building);
    QString kana;
    for (const KanaRow& row : kanaRows())
        kana += row.kana;
    std::vector<double> lists;
    qsizetype listed = 0;
    for (int i = 0; i < 20000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto initials = cache.of(index);
        // What the route hands on: each song's number and title.
        std::vector<std::pair<qint64, const QString*>> out;
        for (qsizetype position : initials->songs(QStringView(kana).mid(i % kana.size(), 1))) {
            const CatalogSong& song = index->songs()[size_t(position)];
            out.emplace_back(song.number, &song.title);
        }
        listed += qsizetype(out.size());
        lists.push_back(msSince(start));
    }
    const double listP99 = p99(lists);
    std::printf("first kana: index built in %.0f ms; a list (about %lld songs) p99 %.3f ms (goal < 10 ms: %s)\n",
                buildMs, qlonglong(listed / 20000), listP99, verdict(listP99 < 10));
    return allMet && listP99 < 10 ? 0 : 1;
}
