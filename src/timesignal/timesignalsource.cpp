#include "timesignal/timesignalsource.h"

#include <QSet>

#include <algorithm>

namespace tarv {

std::optional<TimeItem> FiringGuard::due(const QDateTime& now, const QList<TimeItem>& items)
{
    const QString current = now.toString(QStringLiteral("HH:mm"));
    if (m_firedDate == now.date() && m_firedTime == current)
        return std::nullopt;
    for (const TimeItem& item : items) {
        if (item.time() == current && usableField(item.playedField())) {
            m_firedDate = now.date();
            m_firedTime = current;
            return item;
        }
    }
    return std::nullopt;
}

QList<Firing> FiringGuard::ahead(const QDateTime& now, const QList<TimeItem>& items) const
{
    const QString current = now.toString(QStringLiteral("HH:mm"));
    QList<Firing> firings;
    QSet<QString> seen;
    for (const TimeItem& item : items) {
        const QString time = item.time();
        const QTime minute = QTime::fromString(time, QStringLiteral("HH:mm"));
        // due() compares the text: only a time written as hh:mm ever fires.
        if (!minute.isValid() || minute.toString(QStringLiteral("HH:mm")) != time || seen.contains(time) ||
            !usableField(item.playedField()))
            continue;
        seen.insert(time);
        QDateTime at = now;
        at.setTime(minute);
        if (time == current)
            at = m_firedDate == now.date() && m_firedTime == current ? at.addDays(1) : now;
        else if (at < now)
            at = at.addDays(1);
        firings.append({now.msecsTo(at) / 1000.0, item});
    }
    std::stable_sort(firings.begin(), firings.end(), [](const Firing& a, const Firing& b) { return a.in < b.in; });
    return firings;
}

} // namespace tarv
