// The counts kept as songs play and built again from the log at start: rankings across a month's
// end and restarts, and each phone's and name's history.
#include "history/playhistory.h"
#include "support/fakeclock.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <optional>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

QDateTime at(int month, int day, int hour, int minute)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute));
}

class PlayHistoryTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(paths.dbDir())); }

    // The program starting again: a new history that reads the log.
    void restart(std::optional<QDateTime> sessionStart = std::nullopt)
    {
        history.reset();
        history = std::make_unique<PlayHistory>(paths, clock);
        EXPECT_EQ(history->load().unreadable, 0);
        if (sessionStart)
            history->setSessionStart(*sessionStart);
    }
    // A song sung now for so many seconds.
    void sing(qint64 number, int seconds, const QString& user = u"ユキ"_s, const QString& device = u"phone-a"_s,
              KeyTempo keyTempo = {}, std::optional<KeyTempo> endedAt = {})
    {
        const quint64 id = history->songStarted({SongNumber(number), user, device, keyTempo});
        ASSERT_NE(id, 0u);
        clock.advanceMs(seconds * 1000);
        history->songEnded(id, seconds, endedAt.value_or(keyTempo));
    }
    std::vector<qint64> numbers(const std::vector<HistoryItem>& items)
    {
        std::vector<qint64> out;
        for (const HistoryItem& item : items)
            out.push_back(item.number);
        return out;
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    FakeClock clock{at(2, 27, 21, 0)};
    std::unique_ptr<PlayHistory> history = std::make_unique<PlayHistory>(paths, clock);
};

using Ranking = std::vector<RankedSong>;

TEST_F(PlayHistoryTest, RankingsTonightThisMonthAndAllTimeAcrossAMonthsEndAndRestarts)
{
    const auto singing = [this](std::vector<std::pair<qint64, int>> songs) {
        return [this, songs] {
            for (const auto& [number, seconds] : songs)
                sing(number, seconds);
        };
    };
    const auto restarting = [this](QDateTime sessionStart) { return [this, sessionStart] { restart(sessionStart); }; };
    struct Step
    {
        const char* what;
        QDateTime now;
        std::function<void()> action;
        Ranking tonight, month, allTime;
    };
    const Step steps[] = {
        {"two songs on the 27th",
         at(2, 27, 21, 0),
         singing({{100001, 200}, {100002, 200}}),
         {{100001, 1}, {100002, 1}},
         {{100001, 1}, {100002, 1}},
         {{100001, 1}, {100002, 1}}},
        {"a new session the next night",
         at(2, 28, 23, 50),
         [&] {
             restarting(at(2, 28, 23, 0))();
             singing({{100002, 200}})();
         },
         {{100002, 1}},
         {{100002, 2}, {100001, 1}},
         {{100002, 2}, {100001, 1}}},
        {"past midnight, a new month with no song yet",
         at(3, 1, 0, 5),
         [] {},
         {{100002, 1}},
         {},
         {{100002, 2}, {100001, 1}}},
        {"a song stopped after 10 s counts nowhere",
         at(3, 1, 0, 10),
         singing({{100003, 10}}),
         {{100002, 1}},
         {},
         {{100002, 2}, {100001, 1}}},
        {"the same song sung through",
         at(3, 1, 0, 12),
         singing({{100003, 200}}),
         {{100002, 1}, {100003, 1}},
         {{100003, 1}},
         {{100002, 2}, {100001, 1}, {100003, 1}}},
        {"a restart counts the log as it was counted",
         at(3, 1, 0, 30),
         restarting(at(2, 28, 23, 0)),
         {{100002, 1}, {100003, 1}},
         {{100003, 1}},
         {{100002, 2}, {100001, 1}, {100003, 1}}},
        {"the month's last minute",
         at(3, 31, 23, 59),
         restarting(at(3, 31, 23, 0)),
         {},
         {{100003, 1}},
         {{100002, 2}, {100001, 1}, {100003, 1}}},
        {"the next month", at(4, 1, 0, 1), [] {}, {}, {}, {{100002, 2}, {100001, 1}, {100003, 1}}},
    };
    for (const Step& step : steps) {
        clock.set(step.now);
        step.action();
        const auto snapshot = history->snapshot();
        EXPECT_EQ(snapshot->ranking(RankingPeriod::Tonight), step.tonight) << step.what;
        EXPECT_EQ(snapshot->ranking(RankingPeriod::Month), step.month) << step.what;
        EXPECT_EQ(snapshot->ranking(RankingPeriod::AllTime), step.allTime) << step.what;
    }
    // A song still playing counts from its start.
    history->songStarted({SongNumber(100001), u"ユキ"_s});
    EXPECT_EQ(history->snapshot()->ranking(RankingPeriod::Month), (Ranking{{100001, 1}}));
    EXPECT_EQ(history->snapshot()->ranking(RankingPeriod::AllTime).front(), (RankedSong{100001, 2}));
}

TEST_F(PlayHistoryTest, EachPhoneAndNameHasItsSongsNewestFirstAfterARestartToo)
{
    sing(100001, 200, u"ユキ"_s, u"phone-a"_s, {2, -5});
    sing(100002, 200, u"ハル"_s, u"phone-a"_s);
    sing(100003, 200, u"ユキ"_s, u"phone-b"_s, {1, 10}, KeyTempo{-1, 10}); // the singer took it down twice
    sing(100004, 200, u"Guest"_s, u"phone-c"_s);
    sing(100005, 200, u"ユキ"_s, QString());
    history->songStarted({SongNumber(100006), u"ユキ"_s, u"phone-a"_s}); // the program ends while it plays
    for (int run = 0; run < 2; ++run) {
        const auto snapshot = history->snapshot();
        const auto mine = snapshot->history(u"phone-a"_s, u"ユキ"_s);
        EXPECT_EQ(numbers(mine), (std::vector<qint64>{100006, 100005, 100003, 100002, 100001})) << run;
        ASSERT_EQ(mine.size(), 5u);
        EXPECT_EQ(mine[2].keyTempo, (KeyTempo{-1, 10})) << "the key it ended at";
        EXPECT_EQ(mine[4].keyTempo, (KeyTempo{2, -5}));
        EXPECT_EQ(mine[4].seconds, 200);
        EXPECT_EQ(mine[0].seconds, -1) << "no end";
        EXPECT_EQ(mine[4].startedAt, at(2, 27, 21, 0).toSecsSinceEpoch());
        EXPECT_EQ(numbers(snapshot->history(u"phone-a"_s, u"ユキ"_s, 2)), (std::vector<qint64>{100006, 100005}));
        EXPECT_EQ(numbers(snapshot->history(QString(), u"ユキ"_s)),
                  (std::vector<qint64>{100006, 100005, 100003, 100001}));
        EXPECT_EQ(numbers(snapshot->history(u"phone-c"_s, u"Guest"_s)), (std::vector<qint64>{100004}));
        EXPECT_TRUE(snapshot->history(QString(), u"Guest"_s).empty()) << "Guest is nobody in particular";
        EXPECT_TRUE(snapshot->history(u"phone-z"_s, u"ナツ"_s).empty());
        restart();
    }
    // A phone keeps its newest songs.
    const int sung = 2 * PlaySnapshot::HistorySize + 20;
    for (int i = 0; i < sung; ++i)
        sing(200000 + i, 100, u"Guest"_s, u"phone-d"_s);
    const auto items = history->snapshot()->history(u"phone-d"_s, u"Guest"_s, 1000);
    ASSERT_EQ(items.size(), size_t(PlaySnapshot::HistorySize));
    EXPECT_EQ(items.front().number, 200000 + sung - 1);
    EXPECT_EQ(items.back().number, 200000 + sung - PlaySnapshot::HistorySize);
}

// The best counts kept as they change are the best of all the counts, also when a count taken down
// in a full list makes them be looked for again.
TEST(SongCounts, TheBestKeptAreTheBestOfAllCounts)
{
    QRandomGenerator random(QRandomGenerator::global()->generate());
    SongCounts counts;
    std::map<qint64, int> all;
    for (int step = 0; step < 20000; ++step) {
        const qint64 number = FirstSongNumber + random.bounded(step < 10000 ? 150 : 400);
        if (random.bounded(4) == 0) {
            counts.remove(number);
            if (all[number] > 0)
                --all[number];
        } else {
            counts.add(number);
            ++all[number];
        }
        if (step % 97 == 0 || step == 19999) {
            std::vector<RankedSong> expected;
            for (const auto& [n, c] : all)
                if (c > 0)
                    expected.push_back({n, c});
            std::stable_sort(expected.begin(), expected.end(),
                             [](const RankedSong& a, const RankedSong& b) { return a.count > b.count; });
            expected.resize(std::min<size_t>(expected.size(), PlaySnapshot::RankingSize));
            ASSERT_EQ(counts.best(), expected) << "step " << step;
        }
    }
    counts.clear();
    EXPECT_TRUE(counts.best().empty());
    EXPECT_EQ(counts.count(FirstSongNumber), 0);
}

TEST_F(PlayHistoryTest, NoSongNumberNoLine)
{
    EXPECT_EQ(history->songStarted({SongNumber(0), u"Guest"_s}), 0u);
    EXPECT_EQ(history->songStarted({SongNumber(1001), u"Guest"_s}), 0u);
    EXPECT_TRUE(PlayLog::files(paths).isEmpty());
    EXPECT_TRUE(history->snapshot()->ranking(RankingPeriod::AllTime).empty());
}

} // namespace
