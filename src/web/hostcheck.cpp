#include "web/hostcheck.h"

#include "common/textfile.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace tarv {

HostCheck::HostCheck(const AppPaths& paths)
{
    m_listed << QStringLiteral("localhost");
    if (const auto lines = readTextLines(paths.file(QStringLiteral("db/webhosts.txt")), 64 * 1024)) {
        for (const QString& line : *lines) {
            if (!line.trimmed().isEmpty())
                m_listed << line.trimmed().toLower();
        }
    }
}

QString HostCheck::hostPart(const QString& header)
{
    QString host = header.trimmed().toLower();
    if (host.startsWith(u'[')) { // an IPv6 address
        const qsizetype end = host.indexOf(u']');
        host = end < 0 ? QString() : host.mid(1, end - 1);
    } else if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0) {
        host.truncate(colon);
    }
    if (host.endsWith(u'.')) // a fully qualified name
        host.chop(1);
    return host;
}

bool HostCheck::operator()(const std::string& header)
{
    const QString host = hostPart(QString::fromStdString(header));
    if (host.isEmpty())
        return false;
    if (m_listed.contains(host))
        return true;
    const QHostAddress address(host);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    std::lock_guard lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    if (m_addresses.isEmpty() || now - m_read > std::chrono::seconds(5)) {
        m_addresses.clear();
        for (const QHostAddress& own : QNetworkInterface::allAddresses())
            m_addresses << QHostAddress(own.toString().section(u'%', 0, 0)).toString();
        m_read = now;
    }
    return m_addresses.contains(address.toString());
}

} // namespace tarv
