#pragma once

#include <QHash>
#include <QString>

#include <deque>
#include <list>

namespace tarv {

// A map of what the server remembers of phones and addresses, bounded in size and in time: an entry
// not touched for its lifetime is forgotten, and at capacity the one touched longest ago makes room.
// Entries stand in the order they were last touched, so forgetting costs O(1) per call, never a scan
// of the whole table. Not thread-safe.
template <typename Value> class ExpiringMap
{
public:
    ExpiringMap(qint64 lifetimeMs, qsizetype capacity) : m_lifetimeMs(lifetimeMs), m_capacity(capacity) {}

    // The entry of key, made when missing, touched at now.
    Value& touch(const QString& key, qint64 now)
    {
        expire(now);
        if (const auto found = m_index.constFind(key); found != m_index.cend()) {
            m_order.splice(m_order.end(), m_order, *found);
        } else {
            if (m_index.size() >= m_capacity) {
                m_index.remove(m_order.front().key);
                m_order.pop_front();
            }
            m_order.push_back({key, now, Value{}});
            m_index.insert(key, std::prev(m_order.end()));
        }
        m_order.back().touched = now;
        return m_order.back().value;
    }

    // The entry of key, untouched; none when missing or expired.
    Value* find(const QString& key, qint64 now)
    {
        expire(now);
        const auto found = m_index.constFind(key);
        return found == m_index.cend() ? nullptr : &(*found)->value;
    }

    qsizetype size() const { return m_index.size(); }

private:
    struct Entry
    {
        QString key;
        qint64 touched;
        Value value;
    };

    // Each call forgets at most the entries that expired since the last: amortised O(1).
    void expire(qint64 now)
    {
        while (!m_order.empty() && now - m_order.front().touched >= m_lifetimeMs) {
            m_index.remove(m_order.front().key);
            m_order.pop_front();
        }
    }

    qint64 m_lifetimeMs;
    qsizetype m_capacity;
    std::list<Entry> m_order; // touched longest ago first
    QHash<QString, typename std::list<Entry>::iterator> m_index;
};

// At most so many events per key in any window of time (a sliding window), for the limits of phones
// and addresses. The times are the clock's elapsedMs(), never going back.
class SlidingLimit
{
public:
    SlidingLimit(qint64 windowMs, qsizetype keys) : m_windowMs(windowMs), m_events(windowMs, keys) {}

    // How long until key may have another event, in ms; 0 when it may now.
    qint64 waitMs(const QString& key, int limit, qint64 now)
    {
        if (limit <= 0)
            return m_windowMs;
        std::deque<qint64>* times = m_events.find(key, now);
        if (!times)
            return 0;
        while (!times->empty() && now - times->front() >= m_windowMs)
            times->pop_front();
        const std::size_t count = times->size();
        return count < std::size_t(limit) ? 0 : (*times)[count - std::size_t(limit)] + m_windowMs - now;
    }

    // Counts an event; callers ask waitMs() first, so a key holds at most its limit of times.
    void add(const QString& key, qint64 now) { m_events.touch(key, now).push_back(now); }

private:
    qint64 m_windowMs;
    ExpiringMap<std::deque<qint64>> m_events;
};

} // namespace tarv
