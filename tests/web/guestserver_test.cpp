// The guest web server on loopback, with a real application folder and exchange folder.
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "control/karaokesession.h"
#include "exchange/exchange.h"
#include "launcher/startup.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/singerkeys.h"
#include "stage/turnsettings.h"
#include "support/appfolder.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "web/guestservice.h"
#include "web/hostcheck.h"
#include "web/webserver.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct Reply
{
    int status = 0; // 0: closed without an answer
    std::string body;
    std::string retryAfter;
    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

// A blocking client on one keep-alive connection, from a chosen loopback address.
class Client
{
public:
    Client(quint16 port, const std::string& source = "127.0.0.1") : m_socket(m_io), port(port)
    {
        m_socket.open(tcp::v4());
        m_socket.bind(tcp::endpoint(asio::ip::make_address_v4(source), 0));
        m_socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    }

    Reply send(http::verb method, const std::string& target, const std::string& body = {},
               const std::string& contentType = "application/json", const std::string& origin = {})
    {
        http::request<http::string_body> request(method, target, 11);
        request.set(http::field::host, "127.0.0.1:" + std::to_string(port)); // with the port, as browsers send it
        if (!body.empty() || method == http::verb::post)
            request.set(http::field::content_type, contentType);
        if (!origin.empty())
            request.set(http::field::origin, origin);
        if (!cookie.empty())
            request.set(http::field::cookie, cookie);
        request.body() = body;
        request.prepare_payload();
        beast::error_code ec;
        http::write(m_socket, request, ec);
        http::response<http::string_body> response;
        if (!ec)
            http::read(m_socket, m_buffer, response, ec);
        if (ec)
            return {};
        // Kept as a browser keeps it: the device cookie the page sets.
        if (const auto set = response[http::field::set_cookie]; !set.empty())
            cookie = std::string(set.substr(0, set.find(';')));
        return {int(response.result_int()), response.body(), std::string(response[http::field::retry_after])};
    }

    Reply get(const std::string& target) { return send(http::verb::get, target); }
    // The device id of the cookie held.
    QString device() const
    {
        return QString::fromStdString(cookie.substr(cookie.find('=') + 1, DeviceCookies::IdDigits));
    }
    Reply post(const std::string& target, const QJsonObject& body)
    {
        return send(http::verb::post, target, QJsonDocument(body).toJson().toStdString());
    }

private:
    asio::io_context m_io;
    tcp::socket m_socket;
    beast::flat_buffer m_buffer;

public:
    const quint16 port;
    std::string cookie;
};

// Sends raw bytes, optionally closes the sending side, and returns all the server sends until it closes.
std::string rawExchange(quint16 port, const std::string& bytes, bool halfClose = false)
{
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    beast::error_code ec;
    asio::write(socket, asio::buffer(bytes), ec);
    if (halfClose)
        socket.shutdown(tcp::socket::shutdown_send, ec);
    std::string received;
    char chunk[4096];
    for (;;) {
        const std::size_t n = socket.read_some(asio::buffer(chunk), ec);
        received.append(chunk, n);
        if (ec)
            return received;
    }
}

bool eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 6000; ++i) { // up to 30 s on a loaded machine
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

QJsonObject reservation(const QString& number, const QString& name)
{
    return {{QStringLiteral("number"), number}, {QStringLiteral("name"), name}};
}

QJsonObject reservation(const char* number, const char* name = "a")
{
    return reservation(QString::fromUtf8(number), QString::fromUtf8(name));
}

class GuestServerTest : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        const QString webRoot = dir.filePath(QStringLiteral("www"));
        ASSERT_TRUE(QDir().mkpath(webRoot + QStringLiteral("/cgi-bin/tarv")));
        ASSERT_TRUE(saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n").isEmpty());
        QList<std::pair<int, QString>> songs{{100001, QStringLiteral("さくら")},
                                             {100002, QStringLiteral("サクラ咲く")},
                                             {100003, QStringLiteral("ＡＢＣの歌")},
                                             {100004, QStringLiteral("ｻｸﾗ ﾓﾖｳ")},
                                             {100005, QStringLiteral("<img src=x onerror=alert(1)>")}};
        for (int i = 0; i < 50; ++i)
            songs.append({100010 + i, QStringLiteral("曲 %1").arg(i)});
        writeSongList(songs);
        options.clock = &limitClock;
        startServer();
    }

    void writeSongList(const QList<std::pair<int, QString>>& songs)
    {
        QByteArray list;
        for (const auto& [number, title] : songs)
            list += ' ' + QByteArray::number(number) + " \r\n" + encodeCp932(title) + "\r\n";
        ASSERT_TRUE(saveFile(paths.songList(), list).isEmpty());
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
        server->setBackground(isSearch, [this](const HttpRequest& r) { return service->searchDevice(r); });
        ASSERT_EQ(server->start(QStringLiteral("127.0.0.1"), 0), QString());
    }

    // A karaoke session and the guest server on the application folder, in a forked child that a test
    // kills as a crash would; the session takes what the server accepted every tick. With the intro over,
    // the first reservation plays at once. The child and its server's port (0 when it did not start).
    std::pair<pid_t, quint16> forkKaraoke(std::chrono::microseconds tick, bool introOver = false)
    {
        int portPipe[2];
        if (pipe(portPipe) != 0)
            return {-1, 0};
        const pid_t child = fork();
        if (child == 0) {
            test::FakePlayer main, second;
            test::FakeClock clock;
            AppState state;
            QueueRecord record(paths.queueRecord());
            GuestDesk desk;
            KaraokeSession session(main, second, state, paths, clock);
            session.setQueueRecord(&record);
            session.setGuestDesk(&desk);
            session.start(); // the intro plays, so reservations wait in the queue
            session.stage().catchUp();
            if (introOver)
                main.stop();
            GuestService guests(paths, karaoke, options);
            guests.setQueueRecord(&record);
            guests.setGuestDesk(&desk);
            WebServer web([&](const HttpRequest& r) { return guests.handle(r); }, [&] { guests.pump(); }, limits);
            const quint16 childPort = web.start(QStringLiteral("127.0.0.1"), 0).isEmpty() ? web.port() : 0;
            if (write(portPipe[1], &childPort, sizeof childPort) != sizeof childPort || !childPort)
                _exit(1);
            for (;;) {
                session.tmr_webcheck_Timer();
                session.stage().catchUp();
                std::this_thread::sleep_for(tick);
            }
        }
        close(portPipe[1]);
        quint16 childPort = 0;
        if (child < 0 || read(portPipe[0], &childPort, sizeof childPort) != sizeof childPort)
            childPort = 0;
        close(portPipe[0]);
        return {child, childPort};
    }

    QString exchange(QStringView name) const { return *existingExchangeFile(paths, name); }
    QByteArray requestFileContent() const
    {
        return readFileBytes(exchange(ExchangeFile::Request), 64 << 20).value_or(QByteArray());
    }
    quint16 port() const { return server->port(); }

    std::shared_ptr<std::atomic<bool>> karaoke = std::make_shared<std::atomic<bool>>(true);
    test::FakeClock limitClock; // the limits' minute; real time unless a test holds it
    GuestServiceOptions options;
    GuestDesk desk;
    QueueRecord record{paths.queueRecord()};
    WebServerLimits limits{.requestTimeout = std::chrono::milliseconds(300),
                           .tickInterval = std::chrono::milliseconds(2)};
    std::unique_ptr<GuestService> service;
    std::unique_ptr<WebServer> server;
};

QStringList numbers(const QJsonObject& page)
{
    QStringList out;
    for (const QJsonValue& song : page.value(QStringLiteral("songs")).toArray())
        out.append(song.toObject().value(QStringLiteral("number")).toString());
    return out;
}

TEST_F(GuestServerTest, SearchMatchesNumbersAndTitlesWhateverTheWidthOrKana)
{
    Client client(port());
    const Reply sakura = client.get("/api/songs?q=" + QUrl::toPercentEncoding(QStringLiteral("さくら")).toStdString());
    ASSERT_EQ(sakura.status, 200);
    EXPECT_EQ(numbers(sakura.json()), QStringList({u"100001"_s, u"100002"_s, u"100004"_s}));
    EXPECT_EQ(numbers(client.get("/api/songs?q=abc").json()), QStringList{u"100003"_s});
    EXPECT_EQ(
        numbers(
            client.get("/api/songs?q=" + QUrl::toPercentEncoding(QStringLiteral("１００００１")).toStdString()).json()),
        QStringList{u"100001"_s});
    // Markup in a title travels as JSON text.
    EXPECT_EQ(client.get("/api/songs?q=100005").json()[u"songs"_s][0][u"title"_s].toString(),
              QStringLiteral("<img src=x onerror=alert(1)>"));

    const QJsonObject first =
        client.get("/api/songs?q=" + QUrl::toPercentEncoding(QStringLiteral("曲")).toStdString()).json();
    EXPECT_EQ(first[u"total"_s].toInt(), 50);
    EXPECT_EQ(first[u"pages"_s].toInt(), 3);
    EXPECT_EQ(numbers(first).size(), 20);
    const QJsonObject beyond =
        client.get("/api/songs?page=99&q=" + QUrl::toPercentEncoding(QStringLiteral("曲")).toStdString()).json();
    EXPECT_EQ(beyond[u"page"_s].toInt(), 2);
    EXPECT_EQ(numbers(beyond).size(), 10);
    EXPECT_EQ(numbers(beyond).back(), QStringLiteral("100059"));
}

TEST_F(GuestServerTest, TheSongFileFollowsTheSongList)
{
    Client client(port());
    const QString songFile = exchange(ExchangeFile::Songs);
    EXPECT_FALSE(QFile::exists(songFile));
    EXPECT_EQ(client.get("/api/songs?q=100001").json()[u"total"_s].toInt(), 1);
    EXPECT_TRUE(QFile::exists(songFile)); // written from the song list when missing

    writeSongList({{100001, QStringLiteral("さくら")}, {200000, QStringLiteral("新しい曲")}});
    QFile list(paths.songList());
    ASSERT_TRUE(list.open(QIODevice::ReadWrite));
    ASSERT_TRUE(list.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    list.close();
    // Rewritten off the server's thread: the new list is searched once that is done.
    const auto searched = [&] { return numbers(client.get("/api/songs?q=200000").json()); };
    for (int i = 0; i < 500 && searched().isEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(searched(), QStringList{u"200000"_s});
    EXPECT_EQ(client.get("/api/songs").json()[u"total"_s].toInt(), 2);
}

TEST_F(GuestServerTest, ReservationsAndLoginsGoToTheDeskInOrderNotToTheRequestFile)
{
    Client client(port());
    const Reply first = client.post("/api/reserve", reservation(QStringLiteral("100001"), QStringLiteral("花子")));
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_TRUE(first.json()[u"message"_s].toString().contains(QStringLiteral("さくら")));
    ASSERT_EQ(client.post("/api/login", {{QStringLiteral("name"), QStringLiteral("太郎😀")}}).status, 200);
    EXPECT_EQ(record.queue(), QList<RecordedReservation>()); // accepted, not yet the stage's

    const std::vector<Command> taken = desk.take();
    ASSERT_EQ(taken.size(), 2u);
    const auto* reserved = std::get_if<Cmd::Reserve>(&taken[0]);
    ASSERT_TRUE(reserved);
    EXPECT_EQ(reserved->number.text(), QStringLiteral("100001"));
    EXPECT_EQ(reserved->user, QStringLiteral("花子"));
    // A character without a CP932 form becomes "?".
    EXPECT_EQ(std::get<Cmd::Login>(taken[1]).user, QStringLiteral("太郎?"));
    EXPECT_EQ(requestFileContent(), QByteArray());
}

// A phone's reservation finds its song as the keypad does; one the record cannot hold is refused and
// leaves nothing behind.
TEST_F(GuestServerTest, AReservationIsOfTheListsLastEntryAndOnlyOnceRecorded)
{
    writeSongList({{100001, u"さくら"_s}, {100002, u"二番"_s}, {100001, u"さくら（新）"_s}});
    Client client(port());
    const Reply twice = client.post("/api/reserve", reservation("100001", "a"));
    ASSERT_EQ(twice.status, 200) << twice.body;
    EXPECT_TRUE(twice.json()[u"message"_s].toString().endsWith(u"さくら（新）"_s)) << twice.body;
    EXPECT_EQ(desk.snapshot()->accepted.value(0).title, u"さくら（新）"_s);
    ASSERT_EQ(desk.take().size(), 1u);
    record.setQueue({}, std::nullopt, true); // the stage took it and plays it
    desk.publishQueue(QueueEntry{1, SongNumber(100001), u"さくら（新）"_s, u"a"_s}, {});

    // The record's file cannot be replaced: refused, and neither the desk nor the record keeps it.
    QFile::remove(paths.queueRecord());
    ASSERT_TRUE(QDir().mkpath(paths.queueRecord() + u"/x"_s));
    const Reply refused = client.post("/api/reserve", reservation("100002", "b"));
    EXPECT_EQ(refused.status, 503) << refused.body;
    EXPECT_TRUE(desk.take().empty());
    EXPECT_TRUE(desk.snapshot()->accepted.isEmpty());
    ASSERT_TRUE(QDir(paths.queueRecord()).removeRecursively());
    ASSERT_EQ(client.post("/api/reserve", reservation("100001", "c")).status, 200);
    EXPECT_EQ(readFileBytes(paths.queueRecord(), 1 << 20).value_or(QByteArray()),
              "100001\tc\t\t\taddress:127.0.0.1\t0\n"_ba);
}

// A key or tempo chosen on the phone travels with the reservation; what is left as usual is the
// singer's remembered one; a value out of range is refused.
TEST_F(GuestServerTest, APhoneReservesAtAChosenOrRememberedKeyAndTempo)
{
    ASSERT_TRUE(rememberKeyTempo(paths.singerKeys(), QStringLiteral("花子"), SongNumber(100001), {2, 10}).isEmpty());
    Client client(port());
    ASSERT_EQ(client.get("/").status, 200);
    ASSERT_EQ(client.post("/api/login", {{u"name"_s, u"花子"_s}}).status, 200);
    desk.take();
    const QJsonObject usual = client.get("/api/keytempo?number=100001&name=%E8%8A%B1%E5%AD%90").json();
    EXPECT_EQ(usual[u"key"_s].toInt(), 2);
    EXPECT_EQ(usual[u"tempo"_s].toInt(), 10);

    struct Row
    {
        QJsonValue key, tempo;
        int status;
        std::optional<KeyTempo> sent;
    };
    const Row rows[] = {
        {QJsonValue::Undefined, QJsonValue::Undefined, 200, std::nullopt}, // the stage takes the remembered
        {-3, QJsonValue::Undefined, 200, KeyTempo{-3, 10}},
        {u"6"_s, -25, 200, KeyTempo{6, -25}},
        {7, 0, 400, std::nullopt},
        {0, 12, 400, std::nullopt},
        {u"abc"_s, 0, 400, std::nullopt},
    };
    for (const Row& row : rows) {
        QJsonObject body = reservation(QStringLiteral("100001"), QStringLiteral("花子"));
        if (!row.key.isUndefined())
            body.insert(u"key"_s, row.key);
        if (!row.tempo.isUndefined())
            body.insert(u"tempo"_s, row.tempo);
        EXPECT_EQ(client.post("/api/reserve", body).status, row.status) << row.key.toVariant().toString().toStdString();
        const std::vector<Command> taken = desk.take();
        if (row.status != 200) {
            EXPECT_TRUE(taken.empty());
            continue;
        }
        ASSERT_EQ(taken.size(), 1u);
        EXPECT_EQ(std::get<Cmd::Reserve>(taken[0]).keyTempo, row.sent);
    }

    // Told only to the phone that last logged in or reserved under the name: any other gets the
    // original, as for a name with nothing remembered.
    Client other(port()), anonymous(port());
    ASSERT_EQ(other.get("/").status, 200);
    ASSERT_EQ(other.post("/api/reserve", reservation("100002", "太郎")).status, 200);
    const QJsonObject original{{u"key"_s, 0}, {u"tempo"_s, 0}};
    for (Client* asking : {&other, &anonymous})
        EXPECT_EQ(asking->get("/api/keytempo?number=100001&name=%E8%8A%B1%E5%AD%90").json(), original);
    EXPECT_EQ(client.get("/api/keytempo?number=100001&name=%E8%8A%B1%E5%AD%90").json(), usual);
}

TEST_F(GuestServerTest, PhonesSeeTheRoomsQueueThenWhatWasAcceptedAfterIt)
{
    Client phone(port(), "127.0.0.3");
    ASSERT_EQ(phone.get("/").status, 200);
    EXPECT_EQ(phone.get("/api/queue").json()[u"playing"_s].type(), QJsonValue::Null);
    // The stage plays a song and has a keypad song waiting; the phone reserves one more.
    desk.publishQueue(QueueEntry{5, SongNumber(100001), u"さくら"_s, u"花子"_s},
                      {{7, SongNumber(100003), u"A$B"_s, u"<b>"_s, {}, KeyTempo{2, 0}}});
    ASSERT_EQ(phone.post("/api/reserve", reservation("100002", "a")).status, 200);
    const auto numbers = [&phone](QString* version = nullptr) {
        const QJsonObject queue = phone.get("/api/queue").json();
        if (version)
            *version = queue[u"version"_s].toString();
        QStringList out;
        for (const QJsonValue& entry : queue[u"waiting"_s].toArray())
            out.append(entry[u"number"_s].toString() + (entry[u"accepted"_s].toBool() ? u"+"_s : QString()));
        return out;
    };
    const QJsonObject queue = phone.get("/api/queue").json();
    EXPECT_EQ(queue[u"playing"_s][u"title"_s].toString(), u"さくら"_s);
    EXPECT_EQ(queue[u"playing"_s][u"user"_s].toString(), u"花子"_s);
    const QJsonArray waiting = queue[u"waiting"_s].toArray();
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_EQ(waiting[0][u"title"_s].toString(), u"A$B"_s);
    EXPECT_EQ(waiting[0][u"user"_s].toString(), u"<b>"_s);
    EXPECT_EQ(waiting[0][u"key"_s].toInt(), 2);
    EXPECT_FALSE(waiting[0][u"mine"_s].toBool());
    EXPECT_TRUE(waiting[1][u"mine"_s].toBool());
    EXPECT_FALSE(waiting[1].toObject().contains(u"id"_s)); // not the stage's yet: nothing to cancel
    // A phone cannot cancel the keypad's song.
    EXPECT_EQ(phone.post("/api/cancel", {{u"id"_s, u"7"_s}}).status, 403);

    // Taken by the stage, the reservation stays shown as accepted until the stage's queue holds it.
    QString before, after;
    EXPECT_EQ(numbers(&before), (QStringList{u"100003"_s, u"100002+"_s}));
    ASSERT_EQ(desk.take().size(), 1u);
    EXPECT_EQ(numbers(), (QStringList{u"100003"_s, u"100002+"_s}));
    desk.publishQueue(QueueEntry{5, SongNumber(100001), u"さくら"_s, u"花子"_s},
                      {{7, SongNumber(100003), u"A$B"_s, u"<b>"_s}, {8, SongNumber(100002), u"t"_s, u"a"_s}});
    EXPECT_EQ(numbers(&after), (QStringList{u"100003"_s, u"100002"_s}));
    EXPECT_GT(after.toULongLong(), before.toULongLong());
    // The end of karaoke mode drops what waits on the desk.
    ASSERT_EQ(phone.post("/api/reserve", reservation("100001", "a")).status, 200);
    EXPECT_EQ(numbers(), (QStringList{u"100003"_s, u"100002"_s, u"100001+"_s}));
    karaoke->store(false);
    for (int i = 0; i < 100 && !numbers().isEmpty(); ++i) // the server's next tick
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(numbers(), QStringList());
    EXPECT_TRUE(desk.take().empty());
}

TEST_F(GuestServerTest, RefusesWhatAGuestMayNotDo)
{
    Client client(port());
    const auto refused = [&](const Reply& reply, int status) {
        EXPECT_EQ(reply.status, status) << reply.body;
        EXPECT_FALSE(reply.json()[u"error"_s].toString().isEmpty()) << reply.body;
    };
    karaoke->store(false);
    refused(client.post("/api/reserve", reservation("100001", "a")), 409);
    refused(client.post("/api/login", {{QStringLiteral("name"), QStringLiteral("a")}}), 409);
    karaoke->store(true);
    refused(client.post("/api/reserve", reservation("100006", "a")), 404); // not in the list
    refused(client.post("/api/reserve", reservation("000003", "a")), 404); // a command code
    refused(client.post("/api/reserve", {{QStringLiteral("number"), 100001.5}}), 404);
    refused(client.post("/api/login", {{QStringLiteral("name"), QStringLiteral("  ")}}), 400);
    refused(client.send(http::verb::post, "/api/reserve", "number=100001", "application/x-www-form-urlencoded"), 415);
    refused(client.send(http::verb::post, "/api/reserve", R"({"number":"100001"})", "application/json",
                        "http://evil.example"),
            403);
    // Another program of this PC (the same address, another port) is another origin.
    refused(client.send(http::verb::post, "/api/reserve", R"({"number":"100001"})", "application/json",
                        "http://127.0.0.1:" + std::to_string(port() + 1)),
            403);
    refused(client.send(http::verb::post, "/api/reserve", "{\"number\":", "application/json"), 400);
    refused(client.send(http::verb::post, "/api/reserve", "{\"name\":\"\xff\xfe\"}", "application/json"), 400);
    EXPECT_EQ(client.get("/api/reserve").status, 405); // no side effect from a GET
    EXPECT_EQ(client.send(http::verb::post, "/").status, 405);
    EXPECT_EQ(requestFileContent(), QByteArray());

    // A few a minute from one phone (the page's own origin is served); the next is refused and
    // nothing more is queued.
    const std::string ownOrigin = "http://127.0.0.1:" + std::to_string(port());
    ASSERT_EQ(
        client
            .send(http::verb::post, "/api/reserve", R"({"number":"100001","name":"a"})", "application/json", ownOrigin)
            .status,
        200);
    for (int i = 1; i < options.reservationsPerMinute; ++i)
        ASSERT_EQ(client.post("/api/reserve", reservation("100001", "a")).status, 200);
    refused(client.post("/api/reserve", reservation("100001", "a")), 429);
    EXPECT_EQ(desk.take().size(), std::size_t(options.reservationsPerMinute));
}

// A phone's limit counts the last minute: with its five reservations 10 s apart, the sixth is refused
// until the first is a minute old, and the seventh until the second is.
TEST_F(GuestServerTest, APhonesLimitIsForAMinute)
{
    ASSERT_EQ(options.reservationsPerMinute, 5);
    limitClock.holdElapsed();
    Client client(port());
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(client.post("/api/reserve", reservation("100001", "a")).status, 200) << i;
        limitClock.advanceMs(10'000);
    }
    limitClock.advanceMs(9'000); // 59 s after the first
    Reply reply = client.post("/api/reserve", reservation("100001", "a"));
    EXPECT_EQ(reply.status, 429);
    EXPECT_EQ(reply.retryAfter, "1");
    limitClock.advanceMs(1'000);
    EXPECT_EQ(client.post("/api/reserve", reservation("100001", "a")).status, 200);
    reply = client.post("/api/reserve", reservation("100001", "a"));
    EXPECT_EQ(reply.status, 429);
    EXPECT_EQ(reply.retryAfter, "10");
    EXPECT_EQ(desk.take().size(), 6u);
}

// A room of phones behind one Wi-Fi address: each phone is its own device with its own limit.
TEST_F(GuestServerTest, ThirtyPhonesBehindOneAddressAreServed)
{
    std::vector<std::unique_ptr<Client>> phones;
    std::set<std::string> cookies;
    for (int i = 0; i < 30; ++i) {
        phones.push_back(std::make_unique<Client>(port(), "127.0.0.3"));
        ASSERT_EQ(phones.back()->get("/").status, 200);
        cookies.insert(phones.back()->cookie);
    }
    EXPECT_EQ(cookies.size(), phones.size());
    EXPECT_EQ(cookies.begin()->size(), std::string("tarv_device=").size() + DeviceCookies::ValueDigits);
    for (int round = 0; round < 2; ++round) {
        for (auto& phone : phones) {
            const Reply reply = phone->post("/api/reserve", reservation(round ? "100002" : "100001", "a"));
            ASSERT_EQ(reply.status, 200) << reply.body;
            ASSERT_EQ(phone->get("/api/queue").status, 200);
        }
    }
    EXPECT_EQ(desk.take().size(), 60u);
    EXPECT_EQ(readFileBytes(paths.queueRecord(), 64 << 20).value_or(QByteArray()).count('\n'), 60);

    // One phone over its own limit is told when to try again; the others are still served.
    for (int i = 2; i < options.reservationsPerMinute; ++i)
        ASSERT_EQ(phones[0]->post("/api/reserve", reservation("100003", "a")).status, 200);
    const Reply refused = phones[0]->post("/api/reserve", reservation("100003", "a"));
    EXPECT_EQ(refused.status, 429);
    EXPECT_GT(std::stoi(refused.retryAfter), 0);
    EXPECT_TRUE(refused.json()[u"error"_s].toString().contains(
        QStringLiteral("%1秒").arg(QString::fromStdString(refused.retryAfter))))
        << refused.body;
    EXPECT_EQ(phones[1]->post("/api/reserve", reservation("100003", "a")).status, 200);
}

// Through a karaoke session: each phone sees which waiting songs are its own, with the wait before
// each, and may cancel only those; the cancel is said on the strip as the keypad's and published.
TEST_F(GuestServerTest, APhoneSeesAndCancelsOnlyItsOwnWaitingSongs)
{
    options.durationSeconds = [](const SongNumber& number) -> std::optional<double> {
        return number.text() == u"100002"_s ? std::nullopt : std::optional(100.0);
    };
    options.videoSeconds = [](const QString& name) -> std::optional<double> {
        return name == u"000000"_s ? std::optional(100.0) : std::nullopt; // the intro
    };
    startServer();
    test::FakePlayer main, second;
    test::FakeClock clock;
    AppState state;
    KaraokeSession session(main, second, state, paths, clock);
    session.setQueueRecord(&record);
    session.setGuestDesk(&desk);
    session.start(); // the intro plays, so the reservations wait
    const auto carryOut = [&] {
        session.tmr_webcheck_Timer();
        session.stage().catchUp();
        session.tmr_sf_Timer();
    };
    Client mine(port(), "127.0.0.3"), other(port(), "127.0.0.3");
    ASSERT_EQ(mine.get("/").status, 200);
    ASSERT_EQ(other.get("/").status, 200);
    for (const char* number : {"100001", "100002", "100003"})
        ASSERT_EQ(mine.post("/api/reserve", reservation(number, "a")).status, 200);
    ASSERT_EQ(other.post("/api/reserve", reservation("100004", "b")).status, 200);
    // A script's request under a name with "$", which the queue file writes as it is.
    ASSERT_TRUE(saveFile(exchange(ExchangeFile::Request), "100001,Ta$ro\r\n").isEmpty());
    carryOut();

    const QJsonArray waiting = mine.get("/api/queue").json()[u"waiting"_s].toArray();
    ASSERT_EQ(waiting.size(), 5);
    EXPECT_EQ(waiting[4][u"user"_s].toString(), u"Ta$ro"_s);
    const QJsonArray seenByOther = other.get("/api/queue").json()[u"waiting"_s].toArray();
    const struct
    {
        bool mine;
        QJsonValue wait; // from the 100 s of the intro and of each song; none from 100002 (unknown) on
    } rows[] = {{true, 100},
                {true, 200},
                {true, QJsonValue::Undefined},
                {false, QJsonValue::Undefined},
                {false, QJsonValue::Undefined}};
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        EXPECT_EQ(waiting[i][u"mine"_s].toBool(), rows[i].mine) << i;
        EXPECT_EQ(seenByOther[i][u"mine"_s].toBool(), i == 3) << i;
        EXPECT_EQ(waiting[i][u"wait"_s], rows[i].wait) << i;
    }

    const QJsonObject cancelMine{{u"id"_s, waiting[1][u"id"_s]}};
    const Reply refused = other.post("/api/cancel", cancelMine);
    EXPECT_EQ(refused.status, 403);
    EXPECT_FALSE(refused.json()[u"error"_s].toString().isEmpty());
    ASSERT_EQ(mine.post("/api/cancel", cancelMine).status, 200);
    carryOut();
    EXPECT_EQ(session.stage().statusText(), u"予消(N/4)：(100002) - a - サクラ咲く"_s);
    EXPECT_EQ(session.stage().statusColour(), StatusColour::Cyan);
    QStringList left;
    for (const QJsonValue& entry : mine.get("/api/queue").json()[u"waiting"_s].toArray())
        left.append(entry[u"number"_s].toString());
    EXPECT_EQ(left, (QStringList{u"100001"_s, u"100003"_s, u"100004"_s, u"100001"_s})); // the queue file republished
    EXPECT_EQ(mine.post("/api/cancel", cancelMine).status, 404);                        // gone already

    // A break: only the phone that reserved a song holds it; held, it is passed over and has no wait.
    const QJsonObject holdFirst{{u"id"_s, mine.get("/api/queue").json()[u"waiting"_s][0][u"id"_s]}, {u"held"_s, true}};
    EXPECT_EQ(other.post("/api/hold", holdFirst).status, 403);
    EXPECT_EQ(Client(port(), "127.0.0.3").post("/api/hold", holdFirst).status, 403); // no device
    EXPECT_EQ(mine.post("/api/hold", QJsonObject{{u"id"_s, holdFirst[u"id"_s]}, {u"held"_s, u"yes"_s}}).status, 400);
    ASSERT_EQ(mine.post("/api/hold", holdFirst).status, 200);
    carryOut();
    const QJsonArray held = mine.get("/api/queue").json()[u"waiting"_s].toArray();
    const auto found =
        std::find_if(held.begin(), held.end(), [&](const QJsonValue& e) { return e[u"id"_s] == holdFirst[u"id"_s]; });
    ASSERT_NE(found, held.end());
    EXPECT_TRUE((*found)[u"held"_s].toBool());
    EXPECT_EQ((*found)[u"wait"_s], QJsonValue(QJsonValue::Undefined));
    EXPECT_EQ(held[0][u"number"_s].toString(), u"100003"_s);
    EXPECT_EQ(held[0][u"wait"_s].toInt(), 100); // the intro's 100 s, the held song not counted
}

// With a closing time, a phone's song that would end after it is refused, the phones count the minutes
// down, and the keypad still reserves.
TEST_F(GuestServerTest, APhonesSongThatWouldEndAfterClosingIsRefused)
{
    options.durationSeconds = [](const SongNumber&) -> std::optional<double> { return 240.0; };
    options.videoSeconds = [](const QString&) -> std::optional<double> { return 60.0; }; // the intro
    limitClock.set(QDateTime(QDate(2026, 3, 14), QTime(22, 50)));
    ASSERT_TRUE(saveClosingTime(paths, QTime(23, 0)).isEmpty());
    startServer();
    test::FakePlayer main, second;
    test::FakeClock clock;
    clock.set(limitClock.now());
    AppState state;
    KaraokeSession session(main, second, state, paths, clock);
    session.setQueueRecord(&record);
    session.setGuestDesk(&desk);
    session.start(); // the intro plays, its position not yet published: the queue starts now
    Client phone(port(), "127.0.0.3");
    ASSERT_EQ(phone.get("/").status, 200);
    EXPECT_EQ(phone.get("/api/queue").json()[u"closing"_s].toString(), u"閉店まであと 10 分"_s);
    ASSERT_EQ(phone.post("/api/reserve", reservation("100001", "a")).status, 200); // ends at 22:54
    ASSERT_EQ(phone.get("/api/queue").json()[u"waiting"_s].toArray().size(), 1);   // the build that has it
    const Reply late = phone.post("/api/reserve", reservation("100002", "a"));     // ends at 22:58
    EXPECT_EQ(late.status, 200) << late.body;
    ASSERT_EQ(phone.get("/api/queue").json()[u"waiting"_s].toArray().size(), 2);
    const Reply refused = phone.post("/api/reserve", reservation("100003", "a")); // would end at 23:02
    EXPECT_EQ(refused.status, 409);
    EXPECT_EQ(refused.json()[u"error"_s].toString(), ClosingRefusalText);
    session.entry().setText(u"100003"_s);
    session.entry().DoCommand();
    session.tmr_webcheck_Timer();
    session.stage().catchUp();
    EXPECT_EQ(phone.get("/api/queue").json()[u"waiting"_s].toArray().size(), 3);
}

// The waits count the playing song at its tempo and a time signal that fires while a waiting song plays.
TEST_F(GuestServerTest, TheWaitsCountTheTempoAndTheTimeSignalsAhead)
{
    options.durationSeconds = [](const SongNumber&) -> std::optional<double> { return 100.0; };
    options.videoSeconds = [](const QString& name) -> std::optional<double> {
        return name == u"001001"_s ? std::optional(10.0) : name == u"000000"_s ? std::optional(100.0) : std::nullopt;
    };
    startServer();
    struct AtNoon : TimeSignalSource
    {
        QList<TimeItem> times() const override { return {TimeItem::make(u"12:02"_s, u"001001"_s)}; }
        std::optional<QString> chooseVideo(const QString&) override { return u"001001"_s; }
        QStringList videosFor(const QString&) const override { return {u"001001"_s}; }
    } source;
    test::FakePlayer main, second;
    test::FakeClock clock;
    clock.set(QDateTime(QDate(2026, 3, 14), QTime(12, 0)));
    AppState state;
    state.setTimeSignalsOn(true);
    KaraokeSession session(main, second, state, paths, clock);
    session.setQueueRecord(&record);
    session.setGuestDesk(&desk);
    session.setTimeSignalSource(&source);
    session.start(); // the intro plays, 100 s here, at +25 %
    Client phone(port(), "127.0.0.3");
    ASSERT_EQ(phone.get("/").status, 200);
    for (const char* number : {"100001", "100002", "100003"})
        ASSERT_EQ(phone.post("/api/reserve", reservation(number, "a")).status, 200);
    session.tmr_webcheck_Timer();
    session.stage().catchUp();
    main.setTempo(25);
    session.tmr_sf_Timer();
    session.tmr_ziho_Timer();

    QList<int> waits;
    for (const QJsonValue& entry : phone.get("/api/queue").json()[u"waiting"_s].toArray())
        waits.append(entry[u"wait"_s].toInt(-1));
    EXPECT_EQ(waits, (QList<int>{80, 190, 290})); // the 10 s signal at 12:02 fires during 100001
    state.setTimeSignalsOn(false);
    session.tmr_ziho_Timer();
    waits.clear();
    for (const QJsonValue& entry : phone.get("/api/queue").json()[u"waiting"_s].toArray())
        waits.append(entry[u"wait"_s].toInt(-1));
    EXPECT_EQ(waits, (QList<int>{80, 180, 280}));
}

TEST_F(GuestServerTest, HostileRequestsAreAnsweredOrClosedWhileOthersAreServed)
{
    const auto stillServing = [&] { EXPECT_EQ(Client(port()).get("/api/queue").status, 200); };
    const auto answeredWith = [](const std::string& received, const std::string& status) {
        EXPECT_TRUE(received.empty() || received.rfind("HTTP/1.1 " + status, 0) == 0) << received.substr(0, 80);
    };

    answeredWith(
        rawExchange(port(), "GET / HTTP/1.1\r\nHost: localhost\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n"),
        "431");
    stillServing();
    answeredWith(
        rawExchange(port(), "POST /api/reserve HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
                            "Content-Length: 100000\r\n\r\n" +
                                std::string(100000, ' ')),
        "413");
    stillServing();
    answeredWith(rawExchange(port(), "BREW / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"), "405");
    answeredWith(rawExchange(port(), "GET /../../etc/passwd HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"),
                 "404");
    answeredWith(
        rawExchange(port(), "GET /%2e%2e/db/musiclist.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"),
        "404");
    answeredWith(
        rawExchange(port(), "GET /api/songs?q=%ff%fe HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"), "200");
    answeredWith(rawExchange(port(), "\x01\x02 garbage\r\n\r\n"), "400");
    stillServing();

    // A request sent and the sending side closed: answered, then closed.
    const std::string halfClosed = rawExchange(port(), "GET /api/queue HTTP/1.1\r\nHost: localhost\r\n\r\n", true);
    EXPECT_EQ(halfClosed.rfind("HTTP/1.1 200", 0), 0u) << halfClosed;

    // A client that never finishes its request is closed, and others are served meanwhile.
    std::string slow = "unset";
    std::thread slowClient([&] { slow = rawExchange(port(), "GET / HTTP/1.1\r\nHost: localhost\r\nX-Slow: "); });
    stillServing();
    slowClient.join();
    EXPECT_EQ(slow, std::string());
    stillServing();

    // At the cap of one address (a room of phones behind one router), a newcomer from it is served and
    // the connection of it that waited longest is closed to make room.
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < limits.connectionsPerClient; ++i) {
        crowd.push_back(std::make_unique<Client>(port(), "127.0.0.2"));
        ASSERT_EQ(crowd.back()->get("/api/queue").status, 200);
    }
    EXPECT_EQ(Client(port(), "127.0.0.2").get("/api/queue").status, 200);
    EXPECT_EQ(crowd.front()->get("/api/queue").status, 0);
    EXPECT_EQ(crowd.back()->get("/api/queue").status, 200);
    stillServing();
    EXPECT_EQ(requestFileContent(), QByteArray());
}

// A phone's failed actions count against that phone: a script that cancels what does not exist shuts
// out itself, not the room behind its Wi-Fi address.
TEST_F(GuestServerTest, FailedActionsCountAgainstThePhoneNotItsAddress)
{
    Client script(port(), "127.0.0.7"), guest(port(), "127.0.0.7"), anonymous(port(), "127.0.0.7");
    ASSERT_EQ(script.get("/").status, 200);
    ASSERT_EQ(guest.get("/").status, 200);
    std::map<int, int> answers;
    for (int i = 0; i < 300; ++i)
        ++answers[script.post("/api/cancel", {{u"id"_s, u"999999"_s}}).status];
    EXPECT_EQ(answers, (std::map<int, int>{{404, options.failuresPerMinute}, {429, 300 - options.failuresPerMinute}}));
    EXPECT_EQ(script.post("/api/reserve", reservation("100006", "s")).status, 429);
    const Reply accepted = guest.post("/api/reserve", reservation("100001", "g"));
    EXPECT_EQ(accepted.status, 200) << accepted.body;
    EXPECT_EQ(anonymous.post("/api/reserve", reservation("100001", "h")).status, 200);
}

// A device cookie the server did not sign is no cookie: its client is its address's anonymous phone,
// which sees none of the phone's songs as its own, cancels nothing, and has one phone's limit for all.
TEST_F(GuestServerTest, AForgedDeviceCookieIsNoDevice)
{
    Client real(port(), "127.0.0.4");
    ASSERT_EQ(real.get("/").status, 200);
    const std::string value = real.cookie.substr(real.cookie.find('=') + 1);
    const std::string id = value.substr(0, DeviceCookies::IdDigits);
    std::string otherMac = value.substr(DeviceCookies::IdDigits);
    otherMac[5] = otherMac[5] == '0' ? '1' : '0';
    // The phone's song, and one a client without a cookie reserved from the same address.
    desk.publishQueue(std::nullopt, {{7, SongNumber(100001), u"さくら"_s, u"a"_s, real.device()},
                                     {9, SongNumber(100001), u"さくら"_s, u"b"_s, u"address:127.0.0.4"_s}});
    const std::string forged[] = {id + otherMac, id + std::string(64, '0'),
                                  QString::fromStdString(value).toUpper().toStdString(), std::string(96, 'a'),
                                  value + "0"};
    static_assert(std::size(forged) == 5); // the anonymous phone's limit, used up by the rows together
    for (const std::string& cookie : forged) {
        SCOPED_TRACE(cookie);
        Client phone(port(), "127.0.0.4");
        phone.cookie = "tarv_device=" + cookie;
        EXPECT_FALSE(phone.get("/api/queue").json()[u"waiting"_s][0][u"mine"_s].toBool());
        for (const QString& id : {u"7"_s, u"9"_s}) {
            const Reply refused = phone.post("/api/cancel", {{u"id"_s, id}});
            EXPECT_EQ(refused.status, 403) << id.toStdString();
            EXPECT_FALSE(refused.json()[u"error"_s].toString().isEmpty());
        }
        EXPECT_EQ(phone.post("/api/reserve", reservation("100002", "f")).status, 200);
        EXPECT_EQ(desk.snapshot()->accepted.constLast().device, u"address:127.0.0.4"_s);
        // Nor does it buy its own share of the search workers.
        HttpRequest search{"GET", "/api/songs?q=a", {}, {}, {}, phone.cookie, {}, "127.0.0.4"};
        EXPECT_EQ(service->searchDevice(search).toStdString(), "address:127.0.0.4");
    }
    HttpRequest search{"GET", "/api/songs?q=a", {}, {}, {}, "other=1; " + real.cookie, {}, "127.0.0.4"};
    EXPECT_EQ(service->searchDevice(search).toStdString(), real.device().toStdString());
    Client last(port(), "127.0.0.4");
    last.cookie = "tarv_device=" + std::string(96, 'b');
    EXPECT_EQ(last.post("/api/reserve", reservation("100002", "f")).status, 429);
    EXPECT_EQ(real.post("/api/reserve", reservation("100002", "r")).status, 200);
}

// Thirty new devices an address in ten minutes; the next phone from it sees the room and searches,
// but reserves only once its address may have a new device again and it opens the page again.
TEST_F(GuestServerTest, AnAddressGetsThirtyNewDevicesInTenMinutes)
{
    limitClock.holdElapsed();
    std::vector<std::unique_ptr<Client>> phones;
    for (int i = 0; i < options.newDevicesPerAddress; ++i) {
        phones.push_back(std::make_unique<Client>(port(), "127.0.0.5"));
        ASSERT_EQ(phones.back()->get("/").status, 200);
        ASSERT_FALSE(phones.back()->cookie.empty()) << i;
        limitClock.advanceMs(1000);
    }
    Client late(port(), "127.0.0.5");
    const Reply page = late.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(late.cookie.empty());
    EXPECT_EQ(late.get("/api/queue").status, 200);
    EXPECT_EQ(late.get("/api/songs?q=abc").json()[u"total"_s].toInt(), 1);
    const Reply refused = late.post("/api/reserve", reservation("100001", "a"));
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.retryAfter, std::to_string(10 * 60 - options.newDevicesPerAddress));
    EXPECT_TRUE(refused.json()[u"error"_s].toString().contains(u"10分ほど待って"_s)) << refused.body;
    EXPECT_TRUE(desk.take().empty());
    EXPECT_EQ(phones.back()->post("/api/reserve", reservation("100001", "a")).status, 200);
    Client elsewhere(port(), "127.0.0.6");
    ASSERT_EQ(elsewhere.get("/").status, 200);
    EXPECT_FALSE(elsewhere.cookie.empty());

    limitClock.advanceMs(10 * 60 * 1000 - options.newDevicesPerAddress * 1000);
    ASSERT_EQ(late.get("/").status, 200);
    EXPECT_FALSE(late.cookie.empty());
    EXPECT_EQ(late.post("/api/reserve", reservation("100001", "a")).status, 200);
}

// A phone's cookie of before they were signed (32 hex digits): the songs it reserved under it stay its
// own, the answer gives it the signed cookie of the same device, and once that has had time to arrive
// the old value is no device. A value that owns no song is no device from the start.
TEST_F(GuestServerTest, AnUnsignedCookieOfBeforeIsReissuedOnceAndKeepsItsSongs)
{
    limitClock.holdElapsed();
    const QString old = u"0123456789abcdef0123456789abcdef"_s, other = u"fedcba9876543210fedcba9876543210"_s;
    // Restored from the queue record of the run before.
    record.setQueue(
        {{SongNumber(100001), u"a"_s, std::nullopt, old, 7}, {SongNumber(100002), u"b"_s, std::nullopt, other, 8}});
    desk.publishQueue(std::nullopt, {{7, SongNumber(100001), u"さくら"_s, u"a"_s, old},
                                     {8, SongNumber(100002), u"サクラ咲く"_s, u"b"_s, other}});
    const auto mine = [](Client& client) {
        QList<bool> out;
        for (const QJsonValue& entry : client.get("/api/queue").json()[u"waiting"_s].toArray())
            out.append(entry[u"mine"_s].toBool());
        return out;
    };
    const std::string oldCookie = "tarv_device=" + old.toStdString();
    Client phone(port()), inFlight(port()), late(port()), stranger(port());
    phone.cookie = inFlight.cookie = late.cookie = oldCookie;
    stranger.cookie = "tarv_device=" + std::string(32, 'c');
    EXPECT_EQ(mine(phone), (QList<bool>{true, false}));
    EXPECT_EQ(phone.device(), old);
    EXPECT_EQ(phone.cookie.size(), std::string("tarv_device=").size() + DeviceCookies::ValueDigits);
    limitClock.advanceMs(30'000);
    EXPECT_EQ(mine(inFlight), (QList<bool>{true, false}));
    limitClock.advanceMs(31'000);
    EXPECT_EQ(mine(late), (QList<bool>{false, false}));
    EXPECT_EQ(late.cookie, oldCookie);
    EXPECT_EQ(late.post("/api/cancel", {{u"id"_s, u"7"_s}}).status, 403);
    const Reply cancelled = phone.post("/api/cancel", {{u"id"_s, u"7"_s}});
    EXPECT_EQ(cancelled.status, 200) << cancelled.body;

    EXPECT_EQ(mine(stranger), (QList<bool>{false, false}));
    ASSERT_EQ(stranger.get("/").status, 200);
    EXPECT_NE(stranger.device(), QString(32, u'c'));
    EXPECT_EQ(stranger.cookie.size(), phone.cookie.size());
}

// HTTP as RFC 9110/9112 has it, and the Host check against pages of other sites (DNS rebinding).
TEST_F(GuestServerTest, HttpDetailsAndForeignHosts)
{
    const std::string at = ":" + std::to_string(port());
    const struct
    {
        std::string request;
        std::string answerStartsWith;
        std::string answerHas;
    } rows[] = {
        {"GET /api/queue HTTP/1.1\r\nHost: 127.0.0.1" + at + "\r\nConnection: close\r\n\r\n", "HTTP/1.1 200", ""},
        {"GET /api/queue HTTP/1.1\r\nHost: LocalHost.\r\nConnection: close\r\n\r\n", "HTTP/1.1 200", ""},
        {"GET /api/queue HTTP/1.1\r\nHost: evil.example" + at + "\r\nConnection: close\r\n\r\n", "HTTP/1.1 421", ""},
        {"GET /api/queue HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 400", ""},
        {"GET /api/queue HTTP/1.1\r\nHost: localhost\r\nHost: localhost\r\n\r\n", "HTTP/1.1 400", ""},
        {"GET /api/queue HTTP/1.0\r\nHost: localhost\r\nConnection: keep-alive\r\n\r\n", "HTTP/1.0 200",
         "Connection: keep-alive"},
        {"HEAD / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", "HTTP/1.1 200", "Content-Length: "},
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 414", ""},
        // A body whose end cannot be known: refused and closed, its bytes never read as a request.
        {"POST /api/reserve HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked, identity\r\n\r\n"
         "GET /api/queue HTTP/1.1\r\nHost: localhost\r\n\r\n",
         "HTTP/1.1 400", ""},
        // A target in absolute form is for the host it names, whatever the Host header says.
        {"GET http://evil.example" + at + "/api/queue HTTP/1.1\r\nHost: 127.0.0.1" + at + "\r\n\r\n", "HTTP/1.1 421",
         ""},
        {"GET http://localhost@evil.example/ HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 421", ""},
        {"GET evil.example/api/queue HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 421", ""},
        {"GET http://127.0.0.1" + at + "/api/queue HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
         "HTTP/1.1 200", ""},
    };
    for (const auto& row : rows) {
        const std::string received = rawExchange(port(), row.request);
        EXPECT_EQ(received.rfind(row.answerStartsWith, 0), 0u) << row.request.substr(0, 60) << "\n" << received;
        EXPECT_NE(received.find(row.answerHas), std::string::npos) << received;
        EXPECT_EQ(received.find("HTTP/1.1", 1), std::string::npos) << "answered twice: " << received;
    }
    // HEAD: the length of the page, and not the page.
    const std::string head = rawExchange(port(), rows[6].request);
    EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), std::string());

    // Expect: 100-continue gets its interim answer before the body is sent.
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port()));
    asio::write(socket, asio::buffer(std::string("POST /api/reserve HTTP/1.1\r\nHost: localhost\r\n"
                                                 "Content-Type: application/json\r\nContent-Length: 2\r\n"
                                                 "Expect: 100-continue\r\n\r\n")));
    char interim[64] = {};
    const std::size_t got = socket.read_some(asio::buffer(interim, 25));
    EXPECT_EQ(std::string(interim, got), "HTTP/1.1 100 Continue\r\n\r\n");
}

// Over the whole server's cap, the connection that waited longest makes room for a guest from
// another address; refusals say when to come back.
TEST_F(GuestServerTest, AFullServerShedsItsOldestIdleConnection)
{
    limits.connections = 8;
    startServer();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < limits.connections; ++i) {
        idle.push_back(std::make_unique<Client>(port(), "127.0.0." + std::to_string(10 + i)));
        ASSERT_EQ(idle.back()->get("/api/queue").status, 200);
    }
    EXPECT_EQ(Client(port(), "127.0.0.99").get("/api/queue").status, 200);
    EXPECT_EQ(idle.front()->get("/api/queue").status, 0);

    for (int i = 0; i < options.reservationsPerMinute; ++i)
        Client(port()).post("/api/reserve", reservation("100001", "a"));
    const std::string refused =
        rawExchange(port(), "POST /api/reserve HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
                            "Content-Length: 2\r\nConnection: close\r\n\r\n{}");
    EXPECT_EQ(refused.rfind("HTTP/1.1 429", 0), 0u) << refused;
    EXPECT_NE(refused.find("Retry-After: "), std::string::npos) << refused;
}

TEST_F(GuestServerTest, PageIsJapaneseAndBuildsItsListsFromText)
{
    Client client(port());
    const Reply page = client.get("/");
    ASSERT_EQ(page.status, 200);
    const QString html = QString::fromStdString(page.body);
    EXPECT_TRUE(html.contains(QStringLiteral("lang=\"ja\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("textContent")));
    EXPECT_FALSE(html.contains(QStringLiteral("innerHTML")));
    EXPECT_FALSE(html.contains(QStringLiteral("http://")) || html.contains(QStringLiteral("https://")));
    EXPECT_EQ(client.get("/index.html").status, 404);
}

TEST(GuestPort, ComesFromTheFileOrDefaults)
{
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    EXPECT_EQ(guestPort(paths), DefaultGuestPort);
    ASSERT_TRUE(QDir().mkpath(paths.dbDir()));
    const QString file = paths.file(QStringLiteral("db/webport.txt"));
    ASSERT_TRUE(saveFile(file, " 8123 \r\n").isEmpty());
    EXPECT_EQ(guestPort(paths), 8123);
    ASSERT_TRUE(saveFile(file, "70000").isEmpty());
    EXPECT_EQ(guestPort(paths), DefaultGuestPort);
}

TEST(GuestServerStart, APortInUseIsReportedNotFatal)
{
    WebServer first([](const HttpRequest&) { return HttpResponse{}; }, [] {});
    ASSERT_EQ(first.start(QStringLiteral("127.0.0.1"), 0), QString());
    WebServer second([](const HttpRequest&) { return HttpResponse{}; }, [] {});
    EXPECT_TRUE(second.start(QStringLiteral("127.0.0.1"), first.port()).contains(QString::number(first.port())));
}

// Fifty guests reserve at once while a poller takes them from the desk as karaoke mode does.
TEST_F(GuestServerTest, UnderLoadEveryAcceptedReservationArrivesOnceInOrder)
{
    constexpr int Clients = 50, Reservations = 20;
    options.reservationsPerMinute = Reservations;
    startServer();
    std::atomic<bool> stop = false;
    std::atomic<qsizetype> deliveredCount = 0;
    QList<Cmd::Reserve> delivered;
    std::thread poller([&] {
        while (!stop) {
            for (const Command& command : desk.take()) {
                delivered.append(std::get<Cmd::Reserve>(command));
                ++deliveredCount;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<QStringList> accepted(Clients);
    std::vector<std::thread> guests;
    for (int c = 0; c < Clients; ++c) {
        guests.emplace_back([&, c] {
            Client client(port(), "127.0.0." + std::to_string(10 + c));
            for (int i = 0; i < Reservations; ++i) {
                const QString number = QString::number(100010 + (c + i) % 50);
                Reply reply = client.post("/api/reserve", reservation(number, QStringLiteral("c%1").arg(c)));
                // Busy: the server's queue is full until the poller catches up.
                while (reply.status == 503) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    reply = client.post("/api/reserve", reservation(number, QStringLiteral("c%1").arg(c)));
                }
                if (reply.status == 200)
                    accepted[c].append(number);
            }
        });
    }
    for (auto& guest : guests)
        guest.join();
    qsizetype total = 0;
    for (const QStringList& numbers : accepted)
        total += numbers.size();
    eventually([&] { return deliveredCount >= total; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a late duplicate would show now
    stop = true;
    poller.join();

    for (int c = 0; c < Clients; ++c) {
        QStringList arrived;
        for (const Cmd::Reserve& request : delivered) {
            if (request.user == QStringLiteral("c%1").arg(c))
                arrived.append(request.number.text());
        }
        EXPECT_EQ(arrived, accepted[c]) << "client " << c;
    }
    EXPECT_EQ(delivered.size(), total);
    EXPECT_GT(total, 0);
    std::printf("%lld of %d reservations accepted and delivered\n", static_cast<long long>(total),
                Clients * Reservations);
}

// Guests reserve through the server of a forked child whose karaoke session queues what it takes from
// the desk; the child is killed at a random moment. Every reservation answered as accepted is
// in the queue record, in order with its user, and the next karaoke session, started with the record
// kept, queues and publishes exactly those, once each.
TEST_F(GuestServerTest, AcceptedReservationsOutliveAKill)
{
    server.reset();
    options.reservationsPerMinute = 100000;
    options.addressActionsPerMinute = 100000;
    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(saveFile(paths.queueRecord(), QByteArray()).isEmpty());
        ASSERT_TRUE(saveFile(exchange(ExchangeFile::Request), QByteArray()).isEmpty());
        const auto [child, childPort] = forkKaraoke(std::chrono::microseconds(500));
        const bool started = childPort != 0;
        std::thread killer([&, child = child] {
            std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(100, 800)));
            kill(child, SIGKILL);
        });
        QStringList accepted; // number/user/phone
        if (started) {
            Client client(childPort);
            for (int i = 0;; ++i) {
                const QString number = QString::number(100010 + i % 50), name = QStringLiteral("客%1").arg(i);
                const Reply reply = client.post("/api/reserve", reservation(number, name));
                if (reply.status == 0)
                    break;                 // the child is gone
                if (reply.status == 503) { // the child's queue is full until its session catches up
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                EXPECT_EQ(reply.status, 200) << reply.body;
                accepted.append(number + u'/' + name + QStringLiteral("/address:127.0.0.1"));
            }
        }
        killer.join();
        waitpid(child, nullptr, 0);
        ASSERT_TRUE(started);

        QueueRecord kept(paths.queueRecord());
        kept.load();
        const QList<RecordedReservation> recorded = kept.offered();
        QStringList expected;
        for (const RecordedReservation& r : recorded)
            expected.append(r.number.text() + u'/' + r.user + u'/' + r.device);
        // The one reservation in flight at the kill may be recorded without its answer.
        ASSERT_GE(recorded.size(), accepted.size()) << "round " << round;
        ASSERT_LE(recorded.size(), accepted.size() + 1) << "round " << round;
        EXPECT_EQ(expected.mid(0, accepted.size()).join(u' ').toStdString(), accepted.join(u' ').toStdString())
            << "round " << round;

        // The next start keeps them (はい) and starts karaoke mode.
        takeKeptRequest(paths, recorded);
        kept.keepOffered();
        test::FakePlayer main, second;
        test::FakeClock clock;
        AppState state;
        KaraokeSession session(main, second, state, paths, clock);
        session.setQueueRecord(&kept);
        session.start();
        session.tmr_webcheck_Timer(); // a request the kill left in the file is not queued twice
        session.stage().catchUp();
        QStringList queued;
        for (const Reservation& entry : session.stage().queue())
            queued.append(entry.number.text() + u'/' + entry.user + u'/' + entry.device);
        EXPECT_EQ(queued.join(u' ').toStdString(), expected.join(u' ').toStdString()) << "round " << round;
        EXPECT_EQ(readFileBytes(exchange(ExchangeFile::Queue), 64 << 20),
                  recorded.isEmpty() ? QByteArray()
                                     : fullQueueFile(session.stage().nowPlaying(), session.stage().queue()));
        std::printf("round %d: %lld accepted before the kill\n", round, static_cast<long long>(accepted.size()));
    }
}

// A phone reserves at chosen keys and tempos and cancels one of its waiting songs; the child is killed
// right after the cancel is answered, long before its session would carry it out. The next start brings
// back the song that was playing first, then the waiting ones at the keys and tempos chosen and with
// their phones, which can still cancel them; the cancelled one stays cancelled.
TEST_F(GuestServerTest, ARestoreBringsBackWhatThePhonesChoseAndNothingTheyCancelled)
{
    server.reset();
    ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
    for (const QString& number : {u"100010"_s, u"100011"_s, u"100012"_s, u"100013"_s})
        ASSERT_TRUE(saveFile(paths.video(number), "video").isEmpty());
    // What 花子 usually sings 100012 at; the phone chooses otherwise.
    ASSERT_TRUE(rememberKeyTempo(paths.singerKeys(), u"花子"_s, SongNumber(100012), {5, 20}).isEmpty());
    const auto chosen = [](const char* number, const char* name, QJsonValue key, QJsonValue tempo) {
        QJsonObject body = reservation(number, name);
        body.insert(u"key"_s, key);
        body.insert(u"tempo"_s, tempo);
        return body;
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(saveFile(paths.queueRecord(), QByteArray()).isEmpty());
        const auto [child, childPort] = forkKaraoke(std::chrono::milliseconds(50), true);
        ASSERT_NE(childPort, 0);
        Client phone(childPort), other(childPort);
        ASSERT_EQ(phone.get("/").status, 200);
        ASSERT_EQ(other.get("/").status, 200);
        ASSERT_EQ(phone.post("/api/reserve", chosen("100010", "花子", 3, -10)).status, 200); // plays at once
        ASSERT_TRUE(
            eventually([&] { return !phone.get("/api/queue").json()[u"playing"_s][u"number"_s].isUndefined(); }));
        ASSERT_EQ(phone.post("/api/reserve", reservation("100011", "花子")).status, 200);
        ASSERT_EQ(phone.post("/api/reserve", chosen("100012", "花子", -2, 0)).status, 200);
        ASSERT_EQ(other.post("/api/reserve", reservation("100013", "次郎")).status, 200);
        QJsonArray waiting;
        ASSERT_TRUE(eventually([&] {
            waiting = phone.get("/api/queue").json()[u"waiting"_s].toArray();
            return waiting.size() == 3 && waiting[0][u"id"_s].isString();
        }));
        const Reply cancelled = phone.post("/api/cancel", QJsonObject{{u"id"_s, waiting[0][u"id"_s]}});
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ASSERT_EQ(cancelled.status, 200) << cancelled.body;
        ASSERT_TRUE(cancelled.json()[u"message"_s].toString().startsWith(u"取り消しました"_s));

        ASSERT_EQ(record.load(), 3) << "round " << round;
        record.keepOffered();
        test::FakePlayer main, second;
        test::FakeClock clock;
        AppState state;
        KaraokeSession session(main, second, state, paths, clock);
        session.setQueueRecord(&record);
        session.setGuestDesk(&desk);
        session.start();
        session.stage().catchUp();
        const QString phoneDevice = phone.device(), otherDevice = other.device();
        const struct
        {
            QString number;
            KeyTempo keyTempo;
            QString device;
        } rows[] = {
            {u"100010"_s, {3, -10}, phoneDevice}, {u"100012"_s, {-2, 0}, phoneDevice}, {u"100013"_s, {}, otherDevice}};
        const QList<Reservation>& queue = session.stage().queue();
        ASSERT_EQ(queue.size(), std::size(rows)) << "round " << round;
        for (qsizetype i = 0; i < queue.size(); ++i) {
            EXPECT_EQ(queue[i].number.text().toStdString(), rows[i].number.toStdString()) << i;
            EXPECT_EQ(queue[i].keyTempo.key, rows[i].keyTempo.key) << i;
            EXPECT_EQ(queue[i].keyTempo.tempo, rows[i].keyTempo.tempo) << i;
            EXPECT_EQ(queue[i].device.toStdString(), rows[i].device.toStdString()) << i;
        }

        // The phone still owns its restored songs, and only those.
        startServer();
        Client again(port());
        again.cookie = phone.cookie;
        waiting = again.get("/api/queue").json()[u"waiting"_s].toArray();
        ASSERT_EQ(waiting.size(), 3);
        EXPECT_EQ(again.post("/api/cancel", QJsonObject{{u"id"_s, waiting[2][u"id"_s]}}).status, 403);
        const Reply mine = again.post("/api/cancel", QJsonObject{{u"id"_s, waiting[1][u"id"_s]}});
        EXPECT_EQ(mine.status, 200) << mine.body;
        server.reset();
        desk.take();
        record.clear();
    }
}

} // namespace
} // namespace tarv
