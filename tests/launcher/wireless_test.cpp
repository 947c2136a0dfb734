#include "common/savefile.h"
#include "common/textfile.h"
#include "launcher/wireless.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarv;

namespace {

// A small HTTP server on 127.0.0.1 that answers every request with one prepared response.
class OneFileServer
{
public:
    OneFileServer()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->write(response);
                socket->disconnectFromHost();
            });
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }
    void serve(const QByteArray& body, int status = 200)
    {
        response = "HTTP/1.1 " + QByteArray::number(status) +
                   " X\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body;
    }

    QTcpServer server;
    QByteArray request;
    QByteArray response;
};

class Wireless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(paths.dbDir()));
        ASSERT_TRUE(saveFile(paths.songList(), local).isEmpty());
    }
    QByteArray songList() const { return readFileBytes(paths.songList()).value_or("<missing>"); }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    const QByteArray local{" 100001 \r\nA\r\n 100002 \r\nB\r\n 100003 \r\nC\r\n"};
};

} // namespace

TEST_F(Wireless, ReplacesTheListWithExactlyTheBytesReceived)
{
    OneFileServer server;
    const QByteArray remote(" 200001 \n\x82\xA0\xFF\r\n"); // shorter, mixed line ends, odd bytes: kept as they are
    server.serve(remote);
    ASSERT_TRUE(saveFile(paths.remoteAddressFile(), server.address().toUtf8() + "\r\nignored\r\n").isEmpty());

    QString error;
    const QString address = readRemoteAddress(paths, &error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(address, server.address());
    EXPECT_EQ(remoteSongListUrl(address).toString(),
              QStringLiteral("http://") + address + QStringLiteral("/db/musiclist.txt"));

    EXPECT_EQ(downloadSongList(paths, address, 3000), QString());
    EXPECT_TRUE(server.request.startsWith("GET /db/musiclist.txt HTTP/1.1\r\n"));
    EXPECT_EQ(songList(), remote);
}

TEST_F(Wireless, FailuresLeaveTheLocalListUntouched)
{
    QString error;
    EXPECT_TRUE(readRemoteAddress(paths, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty()); // no db/ip.txt

    ASSERT_TRUE(saveFile(paths.remoteAddressFile(), QByteArray("  \r\n")).isEmpty());
    error.clear();
    EXPECT_TRUE(readRemoteAddress(paths, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty()); // empty first line

    OneFileServer server;
    server.serve(QByteArray()); // an empty download
    EXPECT_FALSE(downloadSongList(paths, server.address(), 3000).isEmpty());
    server.serve("missing", 404);
    EXPECT_FALSE(downloadSongList(paths, server.address(), 3000).isEmpty());

    QTcpServer closed; // a port nobody answers on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    EXPECT_FALSE(downloadSongList(paths, QStringLiteral("127.0.0.1:%1").arg(port), 3000).isEmpty());
    EXPECT_FALSE(downloadSongList(paths, QStringLiteral("bad host name/"), 3000).isEmpty());

    EXPECT_EQ(songList(), local);
}
