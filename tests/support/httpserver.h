#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace tarv::test {

// A small HTTP server on 127.0.0.1 that answers every request with one prepared response, or with
// a body that does not end (until the client goes, or 64 MiB).
class TestServer
{
public:
    TestServer()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->write(response);
                if (!endless) {
                    socket->disconnectFromHost();
                    return;
                }
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
                    if (socket->bytesToWrite() > 0)
                        return;
                    if (sent >= 64 * 1024 * 1024) {
                        socket->disconnectFromHost();
                        return;
                    }
                    sent += socket->write(QByteArray(64 * 1024, 'x'));
                });
            });
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }
    void serve(const QByteArray& body, int status = 200, const QByteArray& extraHeaders = "Content-Length: {}\r\n")
    {
        QByteArray headers = extraHeaders;
        headers.replace("{}", QByteArray::number(body.size()));
        endless = false;
        response = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: text/plain\r\n" + headers +
                   "Connection: close\r\n\r\n" + body;
    }
    void serveEndless()
    {
        serve(" 100001 \r\n", 200, "");
        endless = true;
    }

    QTcpServer server;
    QByteArray request;
    QByteArray response;
    bool endless = false;
    qint64 sent = 0;
};

} // namespace tarv::test
