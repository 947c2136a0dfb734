#pragma once

#include "common/apppaths.h"

#include <QStringList>

#include <chrono>
#include <mutex>
#include <string>

namespace tarv {

// The names the guest pages answer to: this PC's own addresses, localhost, and the names the
// operator lists in db/webhosts.txt (one a line, for a name the room's router gives this PC), each
// with or without a port. Anything else is what a page on another site would send after
// pointing its own name at this PC (DNS rebinding), and is refused. Thread-safe; the PC's addresses
// are read again every few seconds, as Wi-Fi may change them.
class HostCheck
{
public:
    explicit HostCheck(const AppPaths& paths);
    bool operator()(const std::string& host);

    // The host part of a Host header ("[::1]:8080" -> "::1", "PC.local.:80" -> "pc.local"), lower case.
    static QString hostPart(const QString& header);

private:
    QStringList m_listed;
    std::mutex m_mutex;
    QStringList m_addresses;
    std::chrono::steady_clock::time_point m_read;
};

} // namespace tarv
