#include "stage/waitestimate.h"

#include <gtest/gtest.h>

using namespace tarv;

namespace {

using Waits = QList<std::optional<double>>;
const std::optional<double> None;

QList<SongAhead> songs(std::initializer_list<std::optional<double>> lengths, int tempo = 0)
{
    QList<SongAhead> list;
    for (const auto& length : lengths)
        list.append({length, tempo});
    return list;
}

} // namespace

TEST(WaitEstimate, CountsTempoAndTimeSignalsBeforeEachSong)
{
    const auto five = songs({100.0, 100.0, 100.0, 100.0, 100.0});
    const struct
    {
        const char* what;
        std::optional<double> playingLeft;
        int playingTempo;
        QList<SongAhead> waiting;
        QList<SignalAhead> timeSignals;
        Waits waits;
    } rows[] = {
        {"nothing plays", 0.0, 0, songs({100.0, 100.0}), {}, {0.0, 100.0}},
        {"120 s left at tempo 0", 120.0, 0, songs({100.0, 100.0}), {}, {120.0, 220.0}},
        {"120 s left at +25 %", 120.0, 25, songs({100.0, 100.0}), {}, {96.0, 196.0}},
        {"a song ahead at -20 %", 0.0, 0, songs({100.0, 100.0}, -20), {}, {0.0, 125.0}},
        {"signals off", 0.0, 0, five, {}, {0.0, 100.0, 200.0, 300.0, 400.0}},
        {"a signal during the 4th song", 0.0, 0, five, {{350, 10}}, {0.0, 100.0, 200.0, 300.0, 410.0}},
        {"a signal as a song ends", 0.0, 0, five, {{100, 10}}, {0.0, 110.0, 210.0, 310.0, 410.0}},
        {"a signal during the playing song", 120.0, 25, songs({100.0}), {{50, 10}}, {106.0}},
        {"two signals, given out of order", 0.0, 0, five, {{450, 5}, {150, 10}}, {0.0, 100.0, 210.0, 310.0, 410.0}},
        {"a signal after all songs", 0.0, 0, five, {{400.5, 10}}, {0.0, 100.0, 200.0, 300.0, 400.0}},
        {"a signal held back into a song's time",
         0.0,
         0,
         five,
         {{95, 10}, {105, 20}},
         {0.0, 130.0, 230.0, 330.0, 430.0}},
        {"a song of unknown length", 0.0, 0, songs({100.0, None, 100.0}), {}, {0.0, 100.0, None}},
        {"the playing song's length unknown", None, 0, songs({100.0, 100.0}), {{10, 10}}, {None, None}},
    };
    for (const auto& row : rows) {
        const Waits waits = estimateWaits(row.playingLeft, row.playingTempo, row.waiting, row.timeSignals);
        ASSERT_EQ(waits.size(), row.waits.size()) << row.what;
        for (qsizetype i = 0; i < waits.size(); ++i) {
            ASSERT_EQ(waits[i].has_value(), row.waits[i].has_value()) << row.what << ", song " << i + 1;
            if (waits[i]) {
                EXPECT_NEAR(*waits[i], *row.waits[i], 1e-9) << row.what << ", song " << i + 1;
            }
        }
    }
}
