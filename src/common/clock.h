#pragma once

#include <QDateTime>

#include <chrono>

namespace tarv {

// Local time of day, injectable so that timers, backup names and time signals are tested without sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds since an arbitrary start, never set back or forward with the time of day: what
    // fades, sync intervals and per-minute limits measure.
    virtual qint64 elapsedMs() const
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The clock of the classes that are not given one.
inline const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

} // namespace tarv
