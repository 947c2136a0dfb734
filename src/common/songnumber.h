#pragma once

#include "common/numbers.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <cmath>

namespace tarv {

// Song numbers run from 100000 to 999998; 999999 marks an entry already placed when the song list
// is ordered, and the numbers below 100000 are the stage's commands and the idle video (000000).
constexpr qint64 FirstSongNumber = 100000;
constexpr qint64 LastSongNumber = 999998;
// The mark of a placed entry in the ordering; the first number that is not a song number.
constexpr qint64 PlacedMark = LastSongNumber + 1;

// A number reserved as a song: parsed once where it enters (the keypad, the request file, the guest
// pages, the queue record) and carried as this value from there on. A value that is not whole (a
// typed "1234.5") is no number at all and matches no song.
class SongNumber
{
public:
    constexpr SongNumber() = default;
    constexpr explicit SongNumber(qint64 value) : m_value(value), m_valid(true) {}

    // The number a value stands for; none when it is not whole.
    static SongNumber fromValue(double value)
    {
        if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) > 1e15)
            return {};
        return SongNumber(qint64(value));
    }
    // The numeric value of a text as the keypad reads it: " 0100001 " and "100001abc" are 100001.
    static SongNumber fromText(QStringView text) { return fromValue(leadingNumber(text)); }

    constexpr bool isValid() const { return m_valid; }
    constexpr qint64 value() const { return m_value; }
    // 100000 to 999998.
    constexpr bool isSongNumber() const { return m_valid && m_value >= FirstSongNumber && m_value <= LastSongNumber; }
    // Plain decimal ("100001"); empty for none.
    QString text() const { return m_valid ? QString::number(m_value) : QString(); }

    constexpr bool operator==(const SongNumber&) const = default;

private:
    qint64 m_value = 0;
    bool m_valid = false;
};

} // namespace tarv
