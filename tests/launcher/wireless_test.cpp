#include "common/savefile.h"
#include "common/textfile.h"
#include "launcher/wireless.h"
#include "support/httpserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace tarv;
using tarv::test::TestServer;

namespace {

class Wireless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(paths.dbDir()));
        ASSERT_TRUE(saveFile(paths.songList(), local).isEmpty());
    }
    QByteArray songList() const { return readFileBytes(paths.songList(), 64 << 20).value_or("<missing>"); }
    QStringList dbFiles() const { return QDir(paths.dbDir()).entryList(QDir::Files | QDir::Hidden); }

    // Runs a download to its end; the error it gave.
    QString download(const QString& address, qint64* received = nullptr)
    {
        SongListDownload download(paths, address);
        QSignalSpy done(&download, &SongListDownload::finished);
        download.start();
        EXPECT_TRUE(done.wait(20000));
        if (received)
            *received = download.bytesReceived();
        return done.isEmpty() ? QStringLiteral("<no answer>") : done.constFirst().constFirst().toString();
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    const QByteArray local{" 100001 \r\nA\r\n 100002 \r\nB\r\n 100003 \r\nC\r\n"};
    std::unique_ptr<ScopedSaveFault> fault;
};

} // namespace

TEST_F(Wireless, ReplacesTheListWithExactlyTheBytesReceived)
{
    TestServer server;
    const QByteArray remote(" 200001 \n\x82\xA0\xFF\r\n"); // shorter, mixed line ends, odd bytes: kept as they are
    server.serve(remote);
    ASSERT_TRUE(saveFile(paths.remoteAddressFile(), server.address().toUtf8() + "\r\nignored\r\n").isEmpty());

    QString error;
    const QString address = readRemoteAddress(paths, &error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(address, server.address());
    EXPECT_EQ(remoteSongListUrl(address).toString(),
              QStringLiteral("http://") + address + QStringLiteral("/db/musiclist.txt"));

    EXPECT_EQ(download(address), QString());
    EXPECT_TRUE(server.request.startsWith("GET /db/musiclist.txt HTTP/1.1\r\n"));
    EXPECT_EQ(songList(), remote);
    EXPECT_EQ(dbFiles(), (QStringList{QStringLiteral("ip.txt"), QStringLiteral("musiclist.txt")}))
        << "no temporary file";

    // Without a Content-Length a whole list is taken too.
    server.serve(local + " 100004 \r\nD\r\n", 200, "");
    EXPECT_EQ(download(server.address()), QString());
    EXPECT_EQ(songList(), local + " 100004 \r\nD\r\n");
}

TEST_F(Wireless, AnythingButAWholeSongListLeavesTheLocalListUntouched)
{
    QString error;
    EXPECT_TRUE(readRemoteAddress(paths, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty()); // no db/ip.txt
    ASSERT_TRUE(saveFile(paths.remoteAddressFile(), QByteArray("  \r\n")).isEmpty());
    error.clear();
    EXPECT_TRUE(readRemoteAddress(paths, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty()); // empty first line

    TestServer server;
    const struct
    {
        const char* name;
        std::function<void()> setUp;
        QString reason; // a part of the error
    } cases[] = {
        {"an error page with status 200",
         [&] { server.serve("<html><body>\r\nメンテナンス中です\r\n</body></html>\r\n"); },
         QStringLiteral("曲リストではありません")},
        {"a one-line page", [&] { server.serve("<html>Not here</html>\r\n"); }, QStringLiteral("曲名がない")},
        {"a body cut off without a Content-Length", [&] { server.serve(" 100001 \r\nA\r\n 100002 \r\nB", 200, ""); },
         QStringLiteral("途中で切れています")},
        {"a body shorter than its Content-Length",
         [&] { server.serve(" 100001 \r\nA\r\n", 200, "Content-Length: 400\r\n"); }, QString()},
        {"an empty body", [&] { server.serve(QByteArray()); }, QStringLiteral("空です")},
        {"not found", [&] { server.serve("missing", 404); }, QStringLiteral("HTTP 404")},
        {"a redirect", [&] { server.serve("", 302, "Location: http://127.0.0.2/\r\nContent-Length: 0\r\n"); },
         QStringLiteral("HTTP 302")},
        {"a Content-Length over the limit", [&] { server.serve(" 100001 \r\n", 200, "Content-Length: 99999999\r\n"); },
         QStringLiteral("大きすぎます")},
        {"a full disk",
         [&] {
             server.serve(local + " 100004 \r\nD\r\n");
             fault = std::make_unique<ScopedSaveFault>(SaveFault{SaveFault::Step::Write, 10, ENOSPC});
         },
         QStringLiteral("ディスクの空き容量が足りません")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        const QString error = download(server.address());
        fault.reset();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        EXPECT_EQ(songList(), local);
    }

    // A body that never ends is cut at the limit; the list stays.
    server.serveEndless();
    qint64 received = 0;
    EXPECT_TRUE(download(server.address(), &received).contains(QStringLiteral("大きすぎます")));
    EXPECT_LE(received, SongListDownload::DefaultMaxBytes + 1024 * 1024);
    EXPECT_EQ(songList(), local);

    QTcpServer closed; // a port nobody answers on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    EXPECT_FALSE(download(QStringLiteral("127.0.0.1:%1").arg(port)).isEmpty());
    EXPECT_FALSE(download(QStringLiteral("bad host name/")).isEmpty());

    EXPECT_EQ(songList(), local);
    EXPECT_EQ(dbFiles(), (QStringList{QStringLiteral("ip.txt"), QStringLiteral("musiclist.txt")}));
}

TEST_F(Wireless, ACancelledDownloadLeavesTheListAndNoTemporaryFile)
{
    TestServer server;
    server.serveEndless();
    SongListDownload download(paths, server.address());
    QSignalSpy done(&download, &SongListDownload::finished);
    QSignalSpy progress(&download, &SongListDownload::progress);
    download.start();
    ASSERT_TRUE(progress.wait(5000));
    EXPECT_TRUE(download.isRunning());
    download.cancel();
    ASSERT_TRUE(done.count() == 1 || done.wait(5000));
    EXPECT_TRUE(download.wasCancelled());
    EXPECT_FALSE(download.isRunning());
    EXPECT_EQ(songList(), local);
    EXPECT_EQ(dbFiles(), QStringList{QStringLiteral("musiclist.txt")});
}
