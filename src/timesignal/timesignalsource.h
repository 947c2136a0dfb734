#pragma once

#include "common/signalfiles.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarv {

// What karaoke mode reads of the time-signal settings while time signals are on.
class TimeSignalSource
{
public:
    virtual ~TimeSignalSource() = default;
    // The time list, in its order.
    virtual QList<TimeItem> times() const = 0;
    // The video to play for a time item's field, as a name in src/ (such as "001001"): the field's
    // own file, or for NoFile (or an empty field) one enabled time signal at random. nullopt when
    // there is nothing to play.
    virtual std::optional<QString> chooseVideo(const QString& field) = 0;
    // The videos chooseVideo may pick for a field, as names in src/; empty when it would play nothing.
    virtual QStringList videosFor(const QString& field) const = 0;
};

// A time item as it will fire next: in how many seconds from now.
struct Firing
{
    double in = 0;
    TimeItem item;
};

// tmr_ziho's guard: each configured minute fires once a day, however often the timer ticks in it.
class FiringGuard
{
public:
    // The first time item due at this moment that has not fired yet at this minute of this day.
    // Items whose field may not be played are passed over.
    std::optional<TimeItem> due(const QDateTime& now, const QList<TimeItem>& items);
    // The items that will fire within a day from now, soonest first: each minute's first playable item
    // once, and the minute now only when it has not fired yet.
    QList<Firing> ahead(const QDateTime& now, const QList<TimeItem>& items) const;

private:
    QDate m_firedDate;
    QString m_firedTime;
};

} // namespace tarv
