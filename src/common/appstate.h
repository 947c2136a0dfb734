#pragma once

#include <QString>

namespace tarv {

// What the windows of one run share: the system version, the connection mode and the
// time-signal switch. Owned by the launcher for the whole run.
class AppState
{
public:
    static constexpr QStringView LocalMode = u"act";

    QString systemVersion() const { return m_version; }

    // "act" for a local start, otherwise the remote PC's address (set by the wireless start and
    // kept for the rest of the run).
    QString connectionMode() const { return m_mode; }
    void setConnectionMode(const QString& mode) { m_mode = mode; }
    bool isLocal() const { return m_mode == LocalMode; }

    bool timeSignalsOn() const { return m_timeSignals; }
    void setTimeSignalsOn(bool on) { m_timeSignals = on; }

private:
    QString m_version = QStringLiteral("1.00");
    QString m_mode = LocalMode.toString();
    bool m_timeSignals = false;
};

} // namespace tarv
