#pragma once

#include <QtGlobal>

namespace tarv {

// Song numbers run from 100000 to 999998; 999999 marks an entry already placed when the song list
// is ordered, and the numbers below 100000 are the stage's commands and the idle video (000000).
constexpr qint64 FirstSongNumber = 100000;
constexpr qint64 LastSongNumber = 999998;
// The mark of a placed entry in the ordering; the first number that is not a song number.
constexpr qint64 PlacedMark = LastSongNumber + 1;

} // namespace tarv
