#pragma once

#include "common/apppaths.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace tarv {

// This PC's IPv4 addresses on the networks it is connected to (interfaces that are up, loopback left
// out), in the order of the interfaces and of their addresses.
QStringList localIpv4Addresses();

// The address guests open on their phones: "http://" + address + "/", with the port when it is not 80.
QString guestUrl(const QString& address, int port = 80);

// The report server's host (and optional ":port"): the first field of db/reporthost.txt; nullopt when
// none is configured.
std::optional<QString> readReportHost(const AppPaths& paths);

// The report of a newly published address to the report server.
QUrl reportUrl(const QString& host, const QString& address);

// Publishing an address: the address file for the local web pages, then the report to the report
// server. The report runs on the event loop, so the interface never waits for the network.
class AddressPublisher : public QObject
{
    Q_OBJECT

public:
    enum class Start {
        Reporting,   // the address file is written; reported() follows
        Written,     // the address file is written; no report server is configured
        PathError,   // db/path.txt names no web root whose cgi-bin/tarv/ folder exists
        WriteFailed, // the address file could not be written (error() says why)
    };

    explicit AddressPublisher(const AppPaths& paths, QObject* parent = nullptr);
    ~AddressPublisher() override;

    Start publish(const QString& address);
    QString error() const { return m_error; }

signals:
    // The report of the address ended: changed when the server answered exactly "change:" + the address.
    void reported(const QString& address, bool changed);

private:
    AppPaths m_paths;
    QNetworkAccessManager* m_network;
    QString m_error;
};

} // namespace tarv
