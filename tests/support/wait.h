#pragma once

#include <QTest>

#include <functional>

namespace tarv::test {

// Runs the event loop until the condition holds or the time is up; true when it holds.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

} // namespace tarv::test
