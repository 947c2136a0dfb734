#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarv {

// The field of a time item that plays one enabled time signal chosen at random.
inline const QString NoFile = QStringLiteral("nofile");

// The three time-signal files of db/.
inline QString installedSignalsFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/ziholist.txt"));
}
inline QString enabledSignalsFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/zihotrue.txt"));
}
inline QString signalTimesFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/zihotime.txt"));
}

// An installed time signal: its number and title. The title keeps its bytes as read, so an entry
// nobody edits is written back byte for byte.
struct SignalEntry
{
    QString number; // six digits, or the line as read when it is not a number
    QByteArray rawTitle;
    // The number line's bytes when it is not a number, written back as they are (they may hold
    // bytes that are not CP932); empty for a number, which is written as six digits.
    QByteArray rawNumber;

    QString title() const;
    // "001001 | 時報", as the settings window lists it.
    QString displayText() const;
    // The numeric value that orders the entries; 0 for a number line that is not a number.
    qint64 value() const { return number.toLongLong(); }
    // The number names a video in src/ (digits alone); a line that is no number names nothing.
    bool namesVideo() const;

    // An entry with a title a person typed (encoded to CP932).
    static SignalEntry make(qint64 number, const QString& title);
};

// A time of day ("hh:mm") and the video to play then: NoFile or a file name in src/.
struct TimeItem
{
    QByteArray rawTime;
    QByteArray rawField;

    QString time() const;
    QString field() const;
    // The field as it is played: an empty one (a lone time line at the end of the file) is NoFile.
    QString playedField() const;
    // "07:30 | nofile"
    QString displayText() const;

    static TimeItem make(const QString& time, const QString& field);
};

template <typename T> struct SignalFileLoad
{
    QList<T> items;
    // Why the file was not read as it is (missing, unreadable, a record without its second line),
    // in words for the operator's log; empty when all is well.
    QString problem;
    bool readable = true; // false when the file exists and cannot be read
};

// The two entry files: a number line (shown as six digits) then a title line. A missing file
// reads as empty and a last line alone as a record with an empty title; both are named in problem.
SignalFileLoad<SignalEntry> loadSignalEntries(const QString& path);
// The time file: a time line then a field line, each taken as it is.
SignalFileLoad<TimeItem> loadTimeItems(const QString& path);

QByteArray serializeSignalEntries(const QList<SignalEntry>& entries);
QByteArray serializeTimeItems(const QList<TimeItem>& items);

// Ascending by number, equal numbers in their input order.
QList<SignalEntry> orderSignalEntries(QList<SignalEntry> entries);

// A number as six digits, zero-padded ("001001").
QString sixDigits(qint64 number);

// The highest time-signal number (999999 is no number).
constexpr qint64 LastSignalNumber = 999998;

// A time-signal number the operator typed: digits alone, from 1 to 999998 (000000 is the intro
// video and 999999 is no number). nullopt for anything else.
std::optional<qint64> parseSignalNumber(const QString& typed);

// A time of day typed as h:mm or hh:mm, written as hh:mm; nullopt for anything else.
std::optional<QString> normalisedTime(const QString& typed);

// True when a time item's field may be played: NoFile, or the bare name of a file in src/ (no
// folder, no drive, no address).
bool usableField(const QString& field);

// The size in bytes of the entries' videos in src/; the numbers of missing videos go to *missing.
qint64 signalVideoBytes(const AppPaths& paths, const QList<SignalEntry>& entries, QStringList* missing = nullptr);

// "--- All files:2Count (1.5MB) ---", a line end and "File(s) Drop Here!".
QString signalSummary(qint64 count, qint64 bytes);

} // namespace tarv
