#include "timesignal/timesignalsource.h"

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

} // namespace tarv
