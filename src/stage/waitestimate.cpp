#include "stage/waitestimate.h"

#include "common/keytempo.h"

#include <algorithm>

namespace tarv {
namespace {

// Real seconds to play this many media seconds: a faster tempo plays them in less time.
double played(double mediaSeconds, int tempo)
{
    return std::max(0.0, mediaSeconds) * 100.0 / (100 + KeyTempo::clampTempo(tempo));
}

} // namespace

QList<std::optional<double>> estimateWaits(std::optional<double> playingLeft, int playingTempo,
                                           const QList<SongAhead>& waiting, QList<SignalAhead> timeSignals)
{
    std::stable_sort(timeSignals.begin(), timeSignals.end(),
                     [](const SignalAhead& a, const SignalAhead& b) { return a.in < b.in; });
    QList<std::optional<double>> waits;
    waits.reserve(waiting.size());
    std::optional<double> start = playingLeft ? std::optional(played(*playingLeft, playingTempo)) : std::nullopt;
    qsizetype next = 0;
    for (const SongAhead& song : waiting) {
        if (start) {
            // A signal that fires before the song would start, while another song or signal plays or at
            // the moment it ends, holds the song back by its length.
            while (next < timeSignals.size() && timeSignals[next].in <= *start)
                *start += std::max(0.0, timeSignals[next++].seconds);
        }
        waits.append(start);
        if (start)
            start = song.seconds ? std::optional(*start + played(*song.seconds, song.tempo)) : std::nullopt;
    }
    return waits;
}

} // namespace tarv
