// The play log: what is read back of every kind of line, appends after a crash, rotation, syncs,
// and a writer killed at random moments.
#include "history/playlog.h"
#include "support/fakeclock.h"
#include "support/killtest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/mman.h>
#include <sys/stat.h>
#include <zlib.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

struct Recorder : PlayEvents
{
    void started(const PlayRecord& play) override { starts.push_back(play); }
    void ended(quint64 id, int seconds, std::optional<KeyTempo> endedAt) override
    {
        ends.emplace_back(id, seconds);
        endKeys.push_back(endedAt);
    }
    std::vector<PlayRecord> starts;
    std::vector<std::pair<quint64, int>> ends;
    std::vector<std::optional<KeyTempo>> endKeys;
};

// A line as the log closes it: the body, a tab, its CRC-32 in hex.
QByteArray sealed(const QByteArray& body)
{
    const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()));
    return body + '\t' + QByteArray::number(qulonglong(crc), 16).rightJustified(8, '0') + '\n';
}

const QByteArray Start1 = sealed("2026-03-14T21:05:09+09:00\tstart\t1\t100001\tユキ\tabc123\t2\t-5");
const QByteArray End1 = sealed("2026-03-14T21:09:12+09:00\tend\t1\t243");
const QByteArray Start2 = sealed("2026-03-14T21:10:00+09:00\tstart\t2\t100002\tGuest\t\t0\t0");

class PlayLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(paths.dbDir())); }
    void write(const QByteArray& content, const QString& name = u"playlog.txt"_s)
    {
        QFile file(paths.file(u"db/"_s + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray current() const
    {
        QFile file(PlayLog::currentFile(paths));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    Recorder read(PlayLog& log, PlayLogReport* report = nullptr)
    {
        Recorder recorder;
        const PlayLogReport r = log.read(recorder);
        if (report)
            *report = r;
        return recorder;
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    FakeClock clock;
};

struct LineCase
{
    const char* what;
    QByteArray content;
    std::vector<quint64> starts; // the ids read, in order
    std::vector<std::pair<quint64, int>> ends;
    qint64 unreadable;
};

TEST_F(PlayLogTest, ReadsWholeLinesAndLeavesOutEveryOther)
{
    const QByteArray torn = Start2.left(Start2.size() / 2);
    const LineCase cases[] = {
        {"a start and its end", Start1 + End1, {1}, {{1, 243}}, 0},
        {"empty file", "", {}, {}, 0},
        {"blank lines", "\n\r\n  \n" + Start1, {1}, {}, 0},
        {"torn last line", Start1 + End1 + torn, {1}, {{1, 243}}, 1},
        {"torn line and the next start after it", Start1 + torn + '\n' + Start2, {1, 2}, {}, 1},
        {"only the line end lost", Start1 + Start2.chopped(1), {1, 2}, {}, 0},
        {"CR LF line ends", Start1.chopped(1) + "\r\n" + End1.chopped(1) + "\r\n", {1}, {{1, 243}}, 0},
        {"a changed byte", QByteArray(Start1).replace("100001", "100007") + Start2, {2}, {}, 1},
        {"zeros a power cut left", Start1 + QByteArray(300, '\0') + '\n' + Start2, {1, 2}, {}, 1},
        {"a field more (a tab in a name)",
         sealed("2026-03-14T21:05:09+09:00\tstart\t3\t100001\tユ\tキ\t\t0\t0"),
         {},
         {},
         1},
        {"a user that is not UTF-8",
         sealed("2026-03-14T21:05:09+09:00\tstart\t3\t100001\t\xff\xfe\t\t0\t0"),
         {},
         {},
         1},
        {"no user", sealed("2026-03-14T21:05:09+09:00\tstart\t3\t100001\t\t\t0\t0"), {}, {}, 1},
        {"the intro's number", sealed("2026-03-14T21:05:09+09:00\tstart\t3\t000000\tGuest\t\t0\t0"), {}, {}, 1},
        {"a short number", sealed("2026-03-14T21:05:09+09:00\tstart\t3\t10001\tGuest\t\t0\t0"), {}, {}, 1},
        {"no such day", sealed("2026-02-30T21:05:09+09:00\tstart\t3\t100001\tGuest\t\t0\t0"), {}, {}, 1},
        {"id 0", sealed("2026-03-14T21:05:09+09:00\tstart\t0\t100001\tGuest\t\t0\t0"), {}, {}, 1},
        {"a kind of another version", sealed("2026-03-14T21:05:09+09:00\tpause\t1\t30") + End1, {}, {{1, 243}}, 1},
        {"a negative length", sealed("2026-03-14T21:09:12+09:00\tend\t1\t-3"), {}, {}, 1},
        {"an end with the key it ended at", sealed("2026-03-14T21:09:12+09:00\tend\t1\t243\t-2\t5"), {}, {{1, 243}}, 0},
        {"an end with a key and no tempo", sealed("2026-03-14T21:09:12+09:00\tend\t1\t243\t-2"), {}, {}, 1},
        {"key beyond the range is clamped",
         sealed("2026-03-14T21:05:09+09:00\tstart\t9\t100001\tGuest\t\t12\t-90"),
         {9},
         {},
         0},
    };
    for (const LineCase& c : cases) {
        write(c.content);
        PlayLog log(paths, clock);
        PlayLogReport report;
        const Recorder read = this->read(log, &report);
        std::vector<quint64> ids;
        for (const PlayRecord& play : read.starts)
            ids.push_back(play.id);
        EXPECT_EQ(ids, c.starts) << c.what;
        EXPECT_EQ(read.ends, c.ends) << c.what;
        EXPECT_EQ(report.unreadable, c.unreadable) << c.what;
    }
    // The fields of a start, and a clamped one.
    write(Start1 + sealed("2026-03-14T21:05:09+09:00\tstart\t9\t100001\tGuest\t\t12\t-90"));
    PlayLog log(paths, clock);
    const Recorder read = this->read(log);
    ASSERT_EQ(read.starts.size(), 2u);
    const PlayRecord expected{1,
                              QDateTime(QDate(2026, 3, 14), QTime(12, 5, 9), QTimeZone::utc()).toSecsSinceEpoch(),
                              2026 * 12 + 2,
                              100001,
                              u"ユキ"_s,
                              u"abc123"_s,
                              KeyTempo{2, -5}};
    EXPECT_EQ(read.starts[0], expected);
    EXPECT_EQ(read.starts[1].keyTempo, (KeyTempo{6, -25}));

    // Times of any day and offset.
    for (const auto& [text, date, time, offset] : std::vector<std::tuple<QByteArray, QDate, QTime, int>>{
             {"1970-01-01T00:00:00+00:00", {1970, 1, 1}, {0, 0}, 0},
             {"2000-02-29T23:59:59-05:30", {2000, 2, 29}, {23, 59, 59}, -19800},
             {"2024-03-01T00:00:00+14:00", {2024, 3, 1}, {0, 0}, 50400},
             {"2100-12-31T12:00:00+09:00", {2100, 12, 31}, {12, 0}, 32400}}) {
        write(sealed(text + "\tstart\t1\t100001\tGuest\t\t0\t0"));
        PlayLog log(paths, clock);
        const Recorder read = this->read(log);
        ASSERT_EQ(read.starts.size(), 1u) << text.constData();
        EXPECT_EQ(read.starts[0].startedAt, QDateTime(date, time, QTimeZone(offset)).toSecsSinceEpoch())
            << text.constData();
        EXPECT_EQ(read.starts[0].month, monthKey(date)) << text.constData();
    }
}

TEST_F(PlayLogTest, WritesWhatItReadsAndCleansNames)
{
    {
        PlayLog log(paths, clock);
        read(log);
        const auto play = log.appendStart({SongNumber(100001), u"ユ\tキ\n"_s, u"dev\tice\r\n"_s, {3, 10}});
        ASSERT_TRUE(play);
        EXPECT_EQ(play->id, 1u);
        clock.advanceMs(200'000);
        EXPECT_TRUE(log.appendEnd(play->id, 200));
        EXPECT_FALSE(log.appendStart({SongNumber(1001), u"Guest"_s}).has_value()) << "a time signal";
        EXPECT_FALSE(log.appendStart({SongNumber(0), u"Guest"_s}).has_value()) << "the intro";
        const auto guest = log.appendStart({SongNumber(100002), QString()});
        ASSERT_TRUE(guest);
        EXPECT_EQ(guest->user, u"Guest"_s);
        EXPECT_TRUE(log.error().isEmpty());
    }
    EXPECT_EQ(current().count('\n'), 3);
    PlayLog log(paths, clock);
    PlayLogReport report;
    const Recorder read = this->read(log, &report);
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(read.starts.size(), 2u);
    EXPECT_EQ(read.starts[0].user, u"ユ キ "_s);
    EXPECT_EQ(read.starts[0].device, u"device"_s);
    EXPECT_EQ(read.starts[0].keyTempo, (KeyTempo{3, 10}));
    EXPECT_EQ(read.starts[0].startedAt, clock.now().addSecs(-200).toSecsSinceEpoch());
    EXPECT_EQ(read.ends, (std::vector<std::pair<quint64, int>>{{1, 200}}));
    // The numbering goes on after the highest id read, on the next line.
    EXPECT_EQ(log.appendStart({SongNumber(100003), u"ユキ"_s})->id, 3u);
    EXPECT_EQ(current().count('\n'), 4);
    EXPECT_FALSE(current().contains("\n\n"));
}

TEST_F(PlayLogTest, TheLineAfterATornOneStartsOnALineOfItsOwn)
{
    write(Start1 + Start2.left(20));
    {
        PlayLog log(paths, clock);
        EXPECT_EQ(read(log).starts.size(), 1u);
        EXPECT_EQ(log.appendStart({SongNumber(100003), u"ユキ"_s})->id, 2u);
    }
    EXPECT_TRUE(current().startsWith(Start1 + Start2.left(20) + '\n'));
    PlayLog log(paths, clock);
    PlayLogReport report;
    const Recorder read = this->read(log, &report);
    ASSERT_EQ(read.starts.size(), 2u);
    EXPECT_EQ(read.starts[1].number, 100003);
    EXPECT_EQ(report.unreadable, 1);
}

TEST_F(PlayLogTest, PastTheRotationSizeTheFileIsKeptAndANewOneBegun)
{
    constexpr qint64 Limit = 1024;
    std::vector<quint64> written;
    {
        PlayLog log(paths, clock, Limit);
        read(log);
        for (int i = 0; i < 40; ++i) {
            const auto play = log.appendStart({SongNumber(100001 + i), u"ユキ"_s, u"phone"_s});
            written.push_back(play->id);
            // Several files begun in the same second: their names still keep their order.
            clock.advanceMs(i % 20 == 0 ? 60'000 : 10);
            log.appendEnd(play->id, 100 + i);
        }
        EXPECT_TRUE(log.error().isEmpty());
    }
    const QStringList files = PlayLog::files(paths);
    ASSERT_GE(files.size(), 5);
    EXPECT_EQ(files.last(), PlayLog::currentFile(paths));
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const QString& f) { return f.endsWith(u"-2.txt"_s); }));
    for (const QString& path : files) {
        EXPECT_LE(QFileInfo(path).size(), Limit) << qPrintable(path);
        EXPECT_TRUE(
            QFileInfo(path).fileName().contains(QRegularExpression(u"^playlog(-\\d{8}-\\d{6}(-\\d+)?)?\\.txt$"_s)));
    }
    // Every start and end comes back in order, an end after its start even in the next file.
    PlayLog log(paths, clock, Limit);
    PlayLogReport report;
    const Recorder read = this->read(log, &report);
    EXPECT_EQ(report.files, files.size());
    EXPECT_EQ(report.unreadable, 0);
    std::vector<quint64> ids;
    for (const PlayRecord& play : read.starts)
        ids.push_back(play.id);
    EXPECT_EQ(ids, written);
    ASSERT_EQ(read.ends.size(), written.size());
    EXPECT_EQ(read.ends.back(), std::pair(written.back(), 139));
}

TEST_F(PlayLogTest, KeptFilesAreNeverWrittenAgain)
{
    PlayLog log(paths, clock, 512);
    read(log);
    while (PlayLog::files(paths).size() < 2)
        log.appendStart({SongNumber(100001), u"ユキ"_s});
    const QString kept = PlayLog::files(paths).first();
    ASSERT_NE(kept, PlayLog::currentFile(paths));
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    for (int i = 0; i < 30; ++i)
        log.appendStart({SongNumber(100001), u"ユキ"_s});
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST_F(PlayLogTest, SyncsAtMostOnceASecond)
{
    clock.holdElapsed();
    PlayLog log(paths, clock);
    read(log);
    log.appendStart({SongNumber(100001), u"ユキ"_s});
    EXPECT_FALSE(log.hasUnsynced()) << "the first append syncs at once";
    clock.advanceMs(300);
    log.appendEnd(1, 0);
    EXPECT_TRUE(log.hasUnsynced());
    clock.advanceMs(600);
    EXPECT_FALSE(log.syncIfDue());
    clock.advanceMs(100);
    EXPECT_TRUE(log.syncIfDue());
    EXPECT_FALSE(log.hasUnsynced());
    EXPECT_FALSE(log.syncIfDue()) << "nothing left";
}

TEST_F(PlayLogTest, APipeOrAFolderInTheLogsPlaceIsRefusedWithoutWaiting)
{
    for (const bool pipe : {true, false}) {
        const QString path = PlayLog::currentFile(paths);
        QDir().rmdir(path);
        QFile::remove(path);
        ASSERT_TRUE(pipe ? ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0 : QDir().mkdir(path));
        PlayLog log(paths, clock);
        PlayLogReport report;
        EXPECT_TRUE(read(log, &report).starts.empty());
        EXPECT_EQ(report.problems.size(), 1);
        const auto play = log.appendStart({SongNumber(100001), u"ユキ"_s});
        ASSERT_TRUE(play) << "the play is counted all the same";
        EXPECT_FALSE(log.error().isEmpty());
        EXPECT_FALSE(log.appendEnd(play->id, 100));
    }
}

// A writer killed at a random moment, then, in some rounds, the unsynced end of the file cut as a
// power cut would: every line it had synced is there, and the next start reads the log and appends
// to it on a line of its own.
TEST(PlayLogKillTest, EverySyncedLineOutlivesAKillAndTheNextStartAppends)
{
    struct Shared
    {
        std::atomic<quint64> written; // the id of the last start written
        std::atomic<quint64> synced;  // of the last start synced
    };
    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    Shared* shared = new (memory) Shared{};

    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    ASSERT_TRUE(QDir().mkpath(paths.dbDir()));
    QRandomGenerator random(QRandomGenerator::global()->generate());
    constexpr qint64 Rotation = 8 * 1024;
    quint64 expectedNext = 1;
    quint64 lastSynced = 0; // by the start that read the log last
    for (int round = 0; round < 25; ++round) {
        shared->written = 0;
        shared->synced = 0;
        runAndKill(
            [&] {
                FakeClock clock(QDateTime(QDate(2026, 3, 14), QTime(18, 0)).addDays(round));
                clock.holdElapsed();
                PlayLog log(paths, clock, Rotation);
                Recorder ignored;
                log.read(ignored);
                for (int i = 0;; ++i) {
                    const auto play = log.appendStart({SongNumber(100001 + i % 500), u"ユキ"_s, u"phone"_s, {1, 5}});
                    shared->written = play->id;
                    clock.advanceMs(250);
                    log.appendEnd(play->id, 240);
                    if (!log.hasUnsynced())
                        shared->synced = play->id;
                    else if (log.syncIfDue())
                        shared->synced = play->id;
                }
            },
            2000, 60000);
        const quint64 written = shared->written, synced = std::max(lastSynced, quint64(shared->synced));
        const bool powerCut = random.bounded(2) == 0;
        if (powerCut) {
            // The unsynced tail of the current file may be lost from any byte on.
            QFile file(PlayLog::currentFile(paths));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            const QByteArray content = file.readAll();
            // The last line of that id: a start torn by an earlier kill may carry it too, and the id is
            // given again by the next start.
            const qsizetype syncedLine = content.lastIndexOf("\tstart\t" + QByteArray::number(synced) + '\t');
            const qsizetype keepFrom = syncedLine < 0 ? 0 : content.indexOf('\n', syncedLine) + 1;
            file.resize(keepFrom + random.bounded(int(content.size() - keepFrom + 1)));
        }
        FakeClock clock;
        PlayLog log(paths, clock, Rotation);
        PlayLogReport report;
        Recorder read;
        report = log.read(read);
        EXPECT_TRUE(report.problems.isEmpty()) << "round " << round;
        EXPECT_LE(report.unreadable, round + 1) << "round " << round << ": at most one torn line a crash";
        QSet<quint64> ids;
        for (const PlayRecord& play : read.starts)
            ids.insert(play.id);
        for (quint64 id = expectedNext; id <= (powerCut ? synced : written); ++id)
            ASSERT_TRUE(ids.contains(id)) << "round " << round << ": play " << id << " lost";
        const auto next = log.appendStart({SongNumber(100001), u"次"_s});
        ASSERT_TRUE(next);
        EXPECT_GT(next->id, powerCut ? synced : written);
        Recorder again;
        PlayLog(paths, clock, Rotation).read(again);
        ASSERT_FALSE(again.starts.empty());
        EXPECT_EQ(again.starts.back().id, next->id) << "round " << round;
        EXPECT_EQ(again.starts.size(), read.starts.size() + 1) << "round " << round;
        expectedNext = next->id + 1;
        lastSynced = next->id; // the first append syncs at once
    }
    ::munmap(memory, sizeof(Shared));
}

} // namespace
