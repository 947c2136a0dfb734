#include "web/addressreport.h"

#include "common/cp932.h"
#include "common/fields.h"
#include "common/textfile.h"
#include "exchange/exchange.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

namespace tarv {

Q_LOGGING_CATEGORY(lcWeb, "tarv.web")

namespace {
constexpr int ReportTimeoutMs = 10000;
}

QStringList localIpv4Addresses()
{
    QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    std::stable_sort(interfaces.begin(), interfaces.end(),
                     [](const QNetworkInterface& a, const QNetworkInterface& b) { return a.index() < b.index(); });
    QStringList out;
    for (const QNetworkInterface& interface : std::as_const(interfaces)) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback() && !out.contains(ip.toString()))
                out << ip.toString();
        }
    }
    return out;
}

QString guestUrl(const QString& address, int port)
{
    return QStringLiteral("http://") + address + (port == 80 ? QString() : u':' + QString::number(port)) + u'/';
}

std::optional<QString> readReportHost(const AppPaths& paths)
{
    const auto bytes = readFileBytes(paths.file(QStringLiteral("db/reporthost.txt")), 4096);
    if (!bytes)
        return std::nullopt;
    const QList<QByteArray> lines = splitLines(*bytes);
    const QString host = lines.isEmpty() ? QString() : firstField(decodeCp932(lines.constFirst()));
    if (host.isEmpty())
        return std::nullopt;
    return host;
}

QUrl reportUrl(const QString& host, const QString& address)
{
    return QUrl(QStringLiteral("http://") + host + QStringLiteral("/cgi-bin/qvo/act.cgi?mode=tarv_ip_change&set_ip=") +
                address);
}

AddressPublisher::AddressPublisher(const AppPaths& paths, QObject* parent)
    : QObject(parent), m_paths(paths), m_network(new QNetworkAccessManager(this))
{
}

AddressPublisher::~AddressPublisher() = default;

AddressPublisher::Start AddressPublisher::publish(const QString& address)
{
    m_error.clear();
    const auto file = existingExchangeFile(m_paths, ExchangeFile::Address);
    if (!file)
        return Start::PathError;
    m_error = writeAddressFile(*file, address);
    if (!m_error.isEmpty())
        return Start::WriteFailed;

    const auto host = readReportHost(m_paths);
    if (!host)
        return Start::Written;
    const QUrl url = reportUrl(*host, address);
    if (!url.isValid() || url.host().isEmpty()) {
        qCWarning(lcWeb).noquote() << "report server not usable:" << *host;
        return Start::Written;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(ReportTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, address] {
        reply->deleteLater();
        const QByteArray body = reply->readAll();
        if (reply->error() != QNetworkReply::NoError)
            qCInfo(lcWeb).noquote() << "address report failed:" << reply->errorString();
        emit reported(address, reply->error() == QNetworkReply::NoError && body == "change:" + address.toLatin1());
    });
    return Start::Reporting;
}

} // namespace tarv
