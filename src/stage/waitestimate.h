#pragma once

#include <QList>

#include <optional>

namespace tarv {

// A song ahead in the queue: its length in media seconds (none when unknown) and its tempo in percent.
struct SongAhead
{
    std::optional<double> seconds;
    int tempo = 0;
};

// A time signal that will fire: seconds from now, and how long it plays.
struct SignalAhead
{
    double in = 0;
    double seconds = 0;
};

// Seconds from now until each waiting song starts. The playing song counts what is left of it at its
// tempo (none: its length is unknown; 0: nothing plays), each song ahead its length at its tempo, and
// every time signal that fires before a song starts pauses what plays for its own length. None from
// the first unknown length on.
QList<std::optional<double>> estimateWaits(std::optional<double> playingLeft, int playingTempo,
                                           const QList<SongAhead>& waiting, QList<SignalAhead> timeSignals);

} // namespace tarv
