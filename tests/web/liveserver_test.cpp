// The room live on the phones: the WebSocket of GET /api/live on loopback, the queue answered from a
// build done off the server's thread, and the connections that would hold the server up.
#include "common/cp932.h"
#include "common/savefile.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "support/appfolder.h"
#include "web/answers.h"
#include "web/guestservice.h"
#include "web/hostcheck.h"
#include "web/webserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <condition_variable>
#include <optional>
#include <thread>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

bool eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 6000; ++i) { // up to 30 s on a loaded machine
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

tcp::socket connected(asio::io_context& io, quint16 port, const std::string& source, int receiveBuffer = 0)
{
    tcp::socket socket(io);
    socket.open(tcp::v4());
    if (receiveBuffer > 0)
        socket.set_option(asio::socket_base::receive_buffer_size(receiveBuffer));
    socket.bind(tcp::endpoint(asio::ip::make_address_v4(source), 0));
    socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    return socket;
}

// Runs one asynchronous operation on the socket to its end; one that takes longer than 10 s closes the
// socket, so that the test fails instead of hanging.
template <typename Stream, typename Start> beast::error_code within(asio::io_context& io, Stream& stream, Start start)
{
    std::optional<beast::error_code> result;
    start([&result](beast::error_code ec, auto...) { result = ec; });
    io.restart();
    io.run_for(std::chrono::seconds(10));
    if (result)
        return *result;
    beast::error_code ignored;
    beast::get_lowest_layer(stream).close(ignored);
    io.restart();
    io.run();
    return asio::error::timed_out;
}

// A phone's page requests on one keep-alive connection, with the device cookie the page set.
class Phone
{
public:
    explicit Phone(quint16 port, const std::string& source = "127.0.0.1")
        : m_socket(connected(m_io, port, source)), m_port(port)
    {
    }

    // The status (0: closed without an answer) and the body.
    std::pair<int, std::string> send(http::verb method, const std::string& target, const std::string& body = {})
    {
        http::request<http::string_body> request(method, target, 11);
        request.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
        if (method == http::verb::post)
            request.set(http::field::content_type, "application/json");
        if (!cookie.empty())
            request.set(http::field::cookie, cookie);
        request.body() = body;
        request.prepare_payload();
        beast::error_code ec =
            within(m_io, m_socket, [&](auto done) { http::async_write(m_socket, request, std::move(done)); });
        http::response<http::string_body> response;
        if (!ec) {
            ec = within(m_io, m_socket,
                        [&](auto done) { http::async_read(m_socket, m_buffer, response, std::move(done)); });
        }
        if (ec)
            return {0, {}};
        if (const auto set = response[http::field::set_cookie]; !set.empty())
            cookie = std::string(set.substr(0, set.find(';')));
        return {int(response.result_int()), response.body()};
    }
    std::string queue() { return send(http::verb::get, "/api/queue").second; }
    // The device id the signed cookie carries: its first 32 digits.
    QString device() const { return QString::fromStdString(cookie.substr(cookie.find('=') + 1, 32)); }

    std::string cookie;

private:
    asio::io_context m_io;
    tcp::socket m_socket;
    beast::flat_buffer m_buffer;
    const quint16 m_port;
};

// A phone's live connection: GET /api/live upgraded, as the page opens it.
class LivePhone
{
public:
    struct Options
    {
        std::string cookie = {};
        std::string origin = {}; // none: a program, not a page
        std::string host = {};   // none: the server's own address
        std::string source = "127.0.0.1";
        int receiveBuffer = 0;
    };

    LivePhone(quint16 port, Options options) : m_ws(connected(m_io, port, options.source, options.receiveBuffer))
    {
        m_ws.set_option(websocket::stream_base::decorator([options](websocket::request_type& request) {
            if (!options.origin.empty())
                request.set(http::field::origin, options.origin);
            if (!options.cookie.empty())
                request.set(http::field::cookie, options.cookie);
        }));
        websocket::response_type response;
        const std::string host = options.host.empty() ? "127.0.0.1:" + std::to_string(port) : options.host;
        within(m_io, m_ws, [&](auto done) { m_ws.async_handshake(response, host, "/api/live", std::move(done)); });
        status = int(response.result_int());
    }

    // The next message; empty once the connection is closed.
    std::string next()
    {
        beast::flat_buffer buffer;
        const beast::error_code ec = within(m_io, m_ws, [&](auto done) { m_ws.async_read(buffer, std::move(done)); });
        return ec ? std::string() : beast::buffers_to_string(buffer.data());
    }
    // Messages until that one; false when the connection closed first.
    bool until(const std::string& expected)
    {
        for (std::string message = next(); !message.empty(); message = next()) {
            if (message == expected)
                return true;
        }
        return false;
    }
    bool send(const std::string& text)
    {
        m_ws.text(true);
        return !within(m_io, m_ws, [&](auto done) { m_ws.async_write(asio::buffer(text), std::move(done)); });
    }
    // Reads the connection to its end, whatever it holds: true when the server closed it, false when
    // it was still open 10 s after the last byte.
    bool closedByServer()
    {
        char chunk[65536];
        beast::error_code ec;
        while (!ec) {
            ec = within(m_io, m_ws,
                        [&](auto done) { m_ws.next_layer().async_read_some(asio::buffer(chunk), std::move(done)); });
        }
        return ec == asio::error::eof || ec == asio::error::connection_reset;
    }

    int status = 0;

private:
    asio::io_context m_io;
    websocket::stream<tcp::socket> m_ws;
};

class LiveServerTest : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        const QString webRoot = dir.filePath(u"www"_s);
        ASSERT_TRUE(QDir().mkpath(webRoot + u"/cgi-bin/tarv"_s));
        ASSERT_TRUE(saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n").isEmpty());
        QByteArray list;
        for (int i = 0; i < 10; ++i)
            list += ' ' + QByteArray::number(100001 + i) + " \r\n" + encodeCp932(u"曲 %1"_s.arg(i)) + "\r\n";
        ASSERT_TRUE(saveFile(paths.songList(), list).isEmpty());
        startServer();
    }

    void startServer()
    {
        server.reset();
        service = std::make_unique<GuestService>(paths, karaoke, options);
        service->setGuestDesk(&desk);
        service->setQueueRecord(&record);
        server = std::make_unique<WebServer>([this](const HttpRequest& r) { return service->handle(r); },
                                             [this] { service->pump(); }, limits);
        auto hosts = std::make_shared<HostCheck>(paths);
        server->setHostCheck([hosts](const std::string& host) { return (*hosts)(host); });
        ASSERT_EQ(server->start(u"127.0.0.1"_s, 0), QString());
    }

    quint16 port() const { return server->port(); }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port()); }

    // A waiting song of the stage's queue, of that phone.
    static QueueEntry entry(quint64 id, int number, const QString& device = {}, const QString& title = u"曲"_s)
    {
        return {id, SongNumber(number), title, u"u"_s, device};
    }

    std::shared_ptr<std::atomic<bool>> karaoke = std::make_shared<std::atomic<bool>>(true);
    GuestServiceOptions options = [] {
        GuestServiceOptions limited;
        limited.reservationsPerMinute = 100;
        return limited;
    }();
    GuestDesk desk;
    QueueRecord record{paths.queueRecord()};
    WebServerLimits limits{.requestTimeout = std::chrono::milliseconds(300),
                           .tickInterval = std::chrono::milliseconds(2)};
    std::unique_ptr<GuestService> service;
    std::unique_ptr<WebServer> server;
};

QJsonObject parsed(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

// Each phone gets the room at once and then at every change, as GET /api/queue gives it to that phone:
// its own songs marked, the playing one too.
TEST_F(LiveServerTest, EveryPhoneGetsEachChangeWithItsOwnSongsMarked)
{
    Phone hanako(port(), "127.0.0.3"), jiro(port(), "127.0.0.3");
    ASSERT_EQ(hanako.send(http::verb::get, "/").first, 200);
    ASSERT_EQ(jiro.send(http::verb::get, "/").first, 200);
    LivePhone hanakoLive(port(), {.cookie = hanako.cookie, .origin = origin()});
    LivePhone jiroLive(port(), {.cookie = jiro.cookie, .origin = origin()});
    ASSERT_EQ(hanakoLive.status, 101);
    ASSERT_EQ(jiroLive.status, 101);
    EXPECT_EQ(hanakoLive.next(), hanako.queue());
    EXPECT_EQ(jiroLive.next(), jiro.queue());

    const struct
    {
        const char* change;
        std::function<void()> make;
        std::vector<bool> hanakoMarks, jiroMarks; // playing (when one plays), then each waiting song
    } rows[] = {
        {"a phone's reservation, accepted",
         [&] {
             ASSERT_EQ(hanako.send(http::verb::post, "/api/reserve", R"({"number":"100001","name":"a"})").first, 200);
         },
         {true},
         {false}},
        {"the stage's queue, with the keypad's song",
         [&] {
             ASSERT_EQ(desk.take().size(), 1u);
             desk.publishQueue(entry(5, 100002, jiro.device()), {entry(6, 100001, hanako.device()), entry(7, 100003)});
         },
         {false, true, false},
         {true, false, false}},
        {"the song ends",
         [&] { desk.publishQueue(entry(6, 100001, hanako.device()), {entry(7, 100003)}); },
         {true, false},
         {false, false}},
        {"karaoke mode ends", [&] { desk.clear(); }, {}, {}},
    };
    for (const auto& row : rows) {
        row.make();
        const std::string hanakoSees = hanako.queue(), jiroSees = jiro.queue();
        ASSERT_TRUE(hanakoLive.until(hanakoSees)) << row.change;
        ASSERT_TRUE(jiroLive.until(jiroSees)) << row.change;
        for (const auto& [seen, marks] : {std::pair(hanakoSees, row.hanakoMarks), std::pair(jiroSees, row.jiroMarks)}) {
            const QJsonObject queue = parsed(seen);
            std::vector<bool> shown;
            if (queue[u"playing"_s].isObject())
                shown.push_back(queue[u"playing"_s][u"mine"_s].toBool());
            for (const QJsonValue& song : queue[u"waiting"_s].toArray())
                shown.push_back(song[u"mine"_s].toBool());
            EXPECT_EQ(shown, marks) << row.change;
        }
    }
    // A phone back from sleep asks again, and gets the room even though nothing changed.
    ASSERT_TRUE(jiroLive.send("sync"));
    EXPECT_EQ(jiroLive.next(), jiro.queue());
}

// The upgrade is refused as any other request of a page of another site would be.
TEST_F(LiveServerTest, UpgradesFromAnotherSiteAreRefused)
{
    const std::string at = ":" + std::to_string(port());
    const struct
    {
        const char* what;
        LivePhone::Options options;
        int status;
    } rows[] = {
        {"the page's own", {.origin = origin()}, 101},
        {"a program's (no Origin)", {}, 101},
        {"from a page of another site", {.origin = "http://evil.example"}, 403},
        {"from another program of this PC", {.origin = "http://127.0.0.1:" + std::to_string(port() + 1)}, 403},
        {"for another host name (DNS rebinding)",
         {.origin = "http://evil.example" + at, .host = "evil.example" + at},
         421},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LivePhone(port(), row.options).status, row.status) << row.what;
    // Without the upgrade, and with another method.
    EXPECT_EQ(Phone(port()).send(http::verb::get, "/api/live").first, 400);
    EXPECT_EQ(Phone(port()).send(http::verb::post, "/api/live", "{}").first, 405);
}

// A phone sends short texts only (to ask for the room again): a frame over the limit closes it.
TEST_F(LiveServerTest, AnOversizedFrameClosesTheSocket)
{
    const struct
    {
        std::size_t bytes;
        bool answered;
    } rows[] = {{4, true}, {limits.liveFrameBytes, true}, {limits.liveFrameBytes + 1, false}, {1 << 20, false}};
    for (const auto& row : rows) {
        LivePhone phone(port(), {.origin = origin()});
        ASSERT_EQ(phone.status, 101);
        const std::string first = phone.next();
        ASSERT_FALSE(first.empty());
        phone.send(std::string(row.bytes, 'x'));
        if (row.answered)
            EXPECT_EQ(phone.next(), first) << row.bytes;
        else
            EXPECT_TRUE(phone.closedByServer()) << row.bytes;
    }
    EXPECT_EQ(Phone(port()).send(http::verb::get, "/api/queue").first, 200);
}

// A phone that never reads holds no other phone back, and is dropped: it answers no ping, and the
// messages it does not take are replaced by the latest, never queued.
TEST_F(LiveServerTest, AReaderThatNeverReadsIsDropped)
{
    limits.liveIdleTimeout = std::chrono::milliseconds(1000);
    limits.requestTimeout = std::chrono::seconds(5); // the phone's keep-alive stays through the test
    startServer();
    LivePhone stalled(port(), {.origin = origin(), .source = "127.0.0.5", .receiveBuffer = 4096});
    LivePhone reading(port(), {.origin = origin(), .source = "127.0.0.6"});
    ASSERT_EQ(stalled.status, 101);
    ASSERT_EQ(reading.status, 101);
    Phone phone(port());
    const QString longTitle(200, u'曲');
    for (int change = 0; change < 40; ++change) {
        QList<QueueEntry> waiting;
        for (int i = 0; i < 100; ++i)
            waiting.append(entry(quint64(i + 1), 100001 + (i + change) % 10, {}, longTitle));
        desk.publishQueue(std::nullopt, waiting);
        ASSERT_TRUE(reading.until(phone.queue())) << change;
    }
    EXPECT_TRUE(stalled.closedByServer());
    LivePhone later(port(), {.origin = origin(), .source = "127.0.0.5"});
    EXPECT_TRUE(later.next() == Phone(port()).queue()); // too long to print
}

// Live sockets count in the caps of an address like other connections: a newcomer from a full address
// is served, and the oldest socket of it makes room.
TEST_F(LiveServerTest, LiveSocketsAreShedLikeOtherConnections)
{
    limits.connectionsPerClient = 3;
    startServer();
    std::vector<std::unique_ptr<LivePhone>> sockets;
    for (int i = 0; i < limits.connectionsPerClient; ++i) {
        sockets.push_back(std::make_unique<LivePhone>(port(), LivePhone::Options{.source = "127.0.0.7"}));
        ASSERT_EQ(sockets.back()->status, 101);
        ASSERT_FALSE(sockets.back()->next().empty());
    }
    EXPECT_EQ(Phone(port(), "127.0.0.7").send(http::verb::get, "/api/queue").first, 200);
    EXPECT_TRUE(sockets.front()->closedByServer());
    desk.publishQueue(std::nullopt, {entry(1, 100001)});
    EXPECT_FALSE(sockets.back()->next().empty());
}

// Clients that send requests and never read the answers fill the server: they count as waiting once
// they have not taken an answer for a while, so a newcomer is served rather than refused.
TEST_F(LiveServerTest, PipeliningClientsThatNeverReadHoldNoRoom)
{
    limits.connections = 4;
    limits.requestTimeout = std::chrono::seconds(30); // not what frees the room
    limits.answerStall = std::chrono::milliseconds(50);
    startServer();
    std::string requests;
    for (int i = 0; i < 2000; ++i)
        requests += "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
    asio::io_context io;
    std::vector<tcp::socket> pipelining;
    for (int c = 0; c < limits.connections; ++c) {
        pipelining.push_back(connected(io, port(), "127.0.1." + std::to_string(c + 1), 4096));
        asio::write(pipelining.back(), asio::buffer(requests));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Phone(port(), "127.0.0.9").send(http::verb::get, "/").first, 200);
    std::printf("a newcomer among %d pipelining clients served in %.1f ms\n", limits.connections,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

// A song's length is read off the server's thread: a video slow to read holds no answer back, and its
// wait counts as unknown until it is known.
TEST_F(LiveServerTest, AVideoSlowToReadHoldsNoQueueBack)
{
    std::mutex mutex;
    std::condition_variable released;
    bool slowRead = false, release = false;
    options.durationSeconds = [&](const SongNumber& number) -> std::optional<double> {
        if (number.text() == u"100002"_s) {
            std::unique_lock lock(mutex);
            slowRead = true;
            released.wait(lock, [&] { return release; });
        }
        return 100.0;
    };
    startServer();
    const auto letGo = [&] {
        {
            const std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    };
    Phone phone(port());
    const auto waits = [&phone] {
        QList<int> out;
        for (const QJsonValue& song : parsed(phone.queue())[u"waiting"_s].toArray())
            out.append(song[u"wait"_s].toInt(-1));
        return out;
    };
    for (const char* number : {"100001", "100002", "100003"})
        ASSERT_EQ(phone.send(http::verb::post, "/api/reserve", std::string(R"({"number":")") + number + "\"}").first,
                  200);
    EXPECT_EQ(waits(), (QList<int>{0, 100, -1}));
    EXPECT_TRUE(slowRead);
    letGo();
    EXPECT_TRUE(eventually([&] { return waits() == QList<int>{0, 100, 200}; }));
}

// An answer given later, from another thread, holds up no other request; one given after the server
// has gone goes nowhere.
TEST(WebServerLater, AnAnswerGivenLaterHoldsUpNoOtherRequest)
{
    std::mutex mutex;
    std::vector<std::shared_ptr<LaterAnswer>> held;
    const auto handler = [&](const HttpRequest& request) {
        if (request.target != "/later")
            return HttpResponse{200, "text/plain", "now", {}};
        HttpResponse response;
        response.later = std::make_shared<LaterAnswer>();
        const std::lock_guard lock(mutex);
        held.push_back(response.later);
        return response;
    };
    const auto heldCount = [&] {
        const std::lock_guard lock(mutex);
        return held.size();
    };
    auto server = std::make_unique<WebServer>(handler, [] {});
    ASSERT_EQ(server->start(u"127.0.0.1"_s, 0), QString());
    const quint16 port = server->port();
    std::pair<int, std::string> waited, dropped;
    std::thread waiting([&] { waited = Phone(port).send(http::verb::get, "/later"); });
    ASSERT_TRUE(eventually([&] { return heldCount() == 1; }));
    EXPECT_EQ(Phone(port).send(http::verb::get, "/now").second, "now");
    held[0]->give({200, "text/plain", "later", {}});
    waiting.join();
    EXPECT_EQ(waited, (std::pair<int, std::string>{200, "later"}));

    std::thread stopped([&] { dropped = Phone(port).send(http::verb::get, "/later"); });
    ASSERT_TRUE(eventually([&] { return heldCount() == 2; }));
    server.reset();
    stopped.join();
    held[1]->give({200, "text/plain", "too late", {}});
    EXPECT_EQ(dropped.first, 0);
}

} // namespace
} // namespace tarv
