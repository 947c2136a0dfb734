#pragma once

#include "stage/queuefile.h"

#include <QString>

#include <optional>

namespace tarv {

// The next singer is called on the karaoke screen over this many seconds at a song's end.
inline constexpr double NextSingerCallSeconds = 20.0;

// The card of the karaoke screen that calls the next singer: a line for the next song, a line for the
// minutes to closing. A line with nothing to say is empty; a card without lines is not shown.
struct NextSingerCard
{
    QString next;    // "次は Aさん　桜並木の約束"
    QString closing; // "閉店まであと 10 分"

    bool isEmpty() const { return next.isEmpty() && closing.isEmpty(); }
    bool operator==(const NextSingerCard&) const = default;
};

// "次は Aさん　桜並木の約束" for a named singer; the title alone after "次は" for a song nobody named
// (the keypad's, a request without a name).
QString nextSingerText(const Reservation& next);

// Real seconds left of a song at its tempo (percent); none while its length is unknown.
std::optional<double> secondsLeft(double position, double duration, int tempo);

} // namespace tarv
