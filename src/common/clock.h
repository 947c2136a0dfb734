#pragma once

#include <QDateTime>

namespace tarv {

// Local time of day, injectable so that timers, backup names and time signals are tested without sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace tarv
