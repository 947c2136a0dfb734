#pragma once

#include "common/clock.h"

#include <atomic>
#include <limits>

namespace tarv::test {

// The time of day is the test's. elapsedMs() runs with the real time until holdElapsed(); from then
// on it moves only with advanceMs() (and may be read from another thread meanwhile).
class FakeClock : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(21, 5, 9))) : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    qint64 elapsedMs() const override
    {
        const qint64 held = m_elapsed.load();
        return held == Running ? Clock::elapsedMs() : held;
    }
    void set(const QDateTime& t) { m_now = t; }
    void advanceMs(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        if (m_elapsed.load() != Running)
            m_elapsed += ms;
    }
    void holdElapsed() { m_elapsed = Clock::elapsedMs(); }

private:
    static constexpr qint64 Running = std::numeric_limits<qint64>::min();
    QDateTime m_now;
    std::atomic<qint64> m_elapsed = Running;
};

} // namespace tarv::test
