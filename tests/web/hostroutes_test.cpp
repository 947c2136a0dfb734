// The host's routes, through the guests' service as the server calls it: the route table, the PIN and
// its lock, and what a host cookie opens.
#include "common/savefile.h"
#include "common/textfile.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/turnsettings.h"
#include "support/appfolder.h"
#include "support/fakeclock.h"
#include "web/answers.h"
#include "web/guestservice.h"
#include "web/hostaccess.h"
#include "web/routes.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <future>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

class HostRoutes : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        // The exchange folder that tells the guests' pages where to hand their requests.
        const QString webRoot = dir.filePath(u"www"_s);
        ASSERT_TRUE(QDir().mkpath(webRoot + u"/cgi-bin/tarv"_s));
        ASSERT_TRUE(saveFile(paths.webRootFile(), webRoot.toUtf8() + "\r\n").isEmpty());
        clock.holdElapsed();
        hostAccess = std::make_unique<HostAccess>(paths, clock); // the first start makes the PIN
        service.setQueueRecord(&record);
        service.setGuestDesk(&desk);
        service.setHostAccess(hostAccess.get());
    }

    HttpResponse call(std::string method, std::string target, const QJsonObject& body = {}, std::string cookie = {},
                      std::string client = "127.0.0.9", std::string origin = {})
    {
        HttpRequest request{std::move(method),
                            std::move(target),
                            "application/json",
                            std::move(origin),
                            "127.0.0.1:8080",
                            std::move(cookie),
                            QJsonDocument(body).toJson().toStdString(),
                            std::move(client)};
        HttpResponse response = service.handle(request);
        if (!response.later)
            return response;
        // An action is answered from the action thread, as the server would wait for it.
        std::promise<HttpResponse> given;
        response.later->onGiven([&given](HttpResponse later) { given.set_value(std::move(later)); });
        return given.get_future().get();
    }
    static QJsonObject answer(const HttpResponse& response)
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
    }
    // The host cookie a login with the right PIN sets, as the browser sends it back.
    std::string logIn(std::string client = "127.0.0.9")
    {
        const HttpResponse granted =
            call("POST", "/api/host/login", {{u"pin"_s, hostAccess->pin()}}, {}, std::move(client));
        EXPECT_EQ(granted.status, 200) << granted.body;
        EXPECT_NE(granted.setCookie.find("HttpOnly; SameSite=Strict"), std::string::npos) << granted.setCookie;
        return granted.setCookie.substr(0, granted.setCookie.find(';'));
    }

    test::FakeClock clock;
    std::shared_ptr<std::atomic<bool>> karaoke = std::make_shared<std::atomic<bool>>(true);
    GuestDesk desk;
    QueueRecord record{paths.queueRecord()};
    std::unique_ptr<HostAccess> hostAccess;
    GuestService service{paths, karaoke};
};

TEST_F(HostRoutes, EveryRouteIsInTheTableAndNoHostRouteOpensWithoutAValidHostCookie)
{
    // What the two pages fetch is in the table, and nothing else is served.
    for (const QString& page : {u":/tarv/web/guestpage.html"_s, u":/tarv/web/hostpage.html"_s}) {
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << page.toStdString();
        const QString html = QString::fromUtf8(file.readAll());
        for (const auto& match : QRegularExpression(u"\"(/api/[a-z/]+)"_s).globalMatch(html))
            EXPECT_TRUE(findRoute(match.captured(1).toStdString())) << match.captured(1).toStdString();
    }
    EXPECT_EQ(call("GET", "/api/host/anything").status, 404);
    EXPECT_EQ(call("GET", "/api/cancel").status, 405);

    const std::string granted = logIn();
    const std::string forged = std::string(HostCookie) + '=' + std::string(32, 'a') + '.' + std::string(64, 'b');
    const std::string beforePinChange = logIn();
    hostAccess->renewPin();
    const std::string current = logIn();
    const std::string lastSession = logIn();
    hostAccess->endSession();
    const std::string now = logIn();
    EXPECT_NE(granted, now);
    int hostRoutes = 0;
    for (const Route& route : routeTable()) {
        SCOPED_TRACE(std::string(route.method) + ' ' + std::string(route.path));
        EXPECT_EQ(call(route.method == "GET" ? "POST" : "GET", std::string(route.path)).status, 405);
        if (route.access == RouteAccess::Guest) {
            // Logging in is the only host thing a guest may try; no guest route plays, stops or skips.
            EXPECT_TRUE(!route.path.starts_with("/api/host/") || route.path == "/api/host/login");
            continue;
        }
        ++hostRoutes;
        for (const std::string& cookie : {std::string(), forged, beforePinChange, lastSession, current})
            EXPECT_EQ(call(std::string(route.method), std::string(route.path), {}, cookie).status, 403) << cookie;
        EXPECT_TRUE(desk.take().empty());
        EXPECT_NE(call(std::string(route.method), std::string(route.path), {}, now).status, 403);
        desk.take();
    }
    EXPECT_GE(hostRoutes, 9);
}

TEST_F(HostRoutes, TheHostRunsTheRoomFromAPhone)
{
    const std::string cookie = logIn();
    const auto post = [&](const char* path, const QJsonObject& body = {}) {
        return call("POST", path, body, cookie).status;
    };
    EXPECT_EQ(post("/api/host/skip"), 200);
    EXPECT_EQ(post("/api/host/pause"), 200);
    EXPECT_EQ(post("/api/host/volume", {{u"level"_s, 11}}), 400);
    EXPECT_EQ(post("/api/host/volume", {{u"level"_s, 7}}), 200);
    // A phone's song and a keypad song wait.
    desk.publishQueue(std::nullopt, {{4, SongNumber(100001), u"A"_s, u"Guest"_s},
                                     {5, SongNumber(100001), u"A"_s, u"troll"_s, u"address:127.0.0.7"_s}});
    EXPECT_EQ(post("/api/host/move", {{u"id"_s, u"5"_s}, {u"to"_s, 1}}), 200);
    EXPECT_EQ(post("/api/host/move", {{u"id"_s, u"9"_s}, {u"to"_s, 1}}), 404);
    EXPECT_EQ(post("/api/host/block", {{u"id"_s, u"4"_s}}), 400); // no phone to stop
    const std::vector<Command> taken = desk.take();
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_TRUE(std::holds_alternative<Cmd::Skip>(taken[0]));
    EXPECT_TRUE(std::holds_alternative<Cmd::Pause>(taken[1]));
    EXPECT_EQ(std::get<Cmd::Volume>(taken[2]).level, 7);
    EXPECT_EQ(std::get<Cmd::Move>(taken[3]).id, 5u);

    // The stopped phone reserves nothing more; another phone still does.
    EXPECT_EQ(post("/api/host/block", {{u"id"_s, u"5"_s}}), 200);
    const QJsonArray waiting = answer(call("GET", "/api/host/queue", {}, cookie))[u"waiting"_s].toArray();
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_TRUE(waiting[1][u"blocked"_s].toBool());
    EXPECT_FALSE(answer(call("GET", "/api/host/queue", {}, cookie)).toVariantMap().contains(u"device"_s));
    EXPECT_EQ(call("POST", "/api/reserve", {{u"number"_s, u"100001"_s}}, {}, "127.0.0.7").status, 403);
    // A cross-site page cannot use the host's cookie.
    EXPECT_EQ(call("POST", "/api/host/stop", {}, cookie, "127.0.0.9", "http://evil.example").status, 403);
    EXPECT_TRUE(desk.take().empty());
}

// The order and the closing time from the host's phone: saved as the operator's menu saves them, and
// read again by the session; a wrong value saves nothing.
TEST_F(HostRoutes, TheHostSetsTheOrderAndTheClosingTime)
{
    const std::string cookie = logIn();
    const struct
    {
        QJsonObject body;
        int status;
        QueueOrder order;
        std::optional<QTime> closing;
    } rows[] = {
        {{{u"order"_s, u"rotation"_s}, {u"closing"_s, u"23:30"_s}}, 200, QueueOrder::Rotation, QTime(23, 30)},
        {{{u"order"_s, u"fifo"_s}, {u"closing"_s, u"25:00"_s}}, 400, QueueOrder::Rotation, QTime(23, 30)},
        {{{u"order"_s, u"random"_s}}, 400, QueueOrder::Rotation, QTime(23, 30)},
        {{{u"closing"_s, u"23:30\nfifo"_s}}, 400, QueueOrder::Rotation, QTime(23, 30)},
        {{{u"closing"_s, QJsonValue::Null}}, 200, QueueOrder::Rotation, std::nullopt},
        {{{u"order"_s, u"fifo"_s}}, 200, QueueOrder::Fifo, std::nullopt},
    };
    for (const auto& row : rows) {
        const HttpResponse response = call("POST", "/api/host/settings", row.body, cookie);
        EXPECT_EQ(response.status, row.status) << response.body;
        EXPECT_EQ(desk.takeSettingsChanged(), row.status == 200) << response.body;
        EXPECT_EQ(readQueueOrder(paths), row.order) << response.body;
        EXPECT_EQ(readClosingTime(paths), row.closing) << response.body;
    }
    const QJsonObject shown = answer(call("GET", "/api/host/queue", {}, cookie));
    EXPECT_EQ(shown[u"order"_s].toString(), u"fifo"_s);
    EXPECT_TRUE(shown[u"closing"_s].isNull());
}

TEST_F(HostRoutes, FiveWrongPinsLockEvenTheRightOneForFiveMinutes)
{
    const QString wrong = hostAccess->pin() == u"000000"_s ? u"000001"_s : u"000000"_s;
    for (int i = 0; i < HostAccess::TriesPerWindow; ++i)
        EXPECT_EQ(call("POST", "/api/host/login", {{u"pin"_s, wrong}}).status, 403);
    const HttpResponse locked = call("POST", "/api/host/login", {{u"pin"_s, hostAccess->pin()}});
    EXPECT_EQ(locked.status, 429);
    EXPECT_EQ(locked.retryAfter, 300);
    EXPECT_EQ(call("POST", "/api/host/login", {{u"pin"_s, hostAccess->pin()}}, {}, "127.0.0.10").status, 200);
    clock.advanceMs(HostAccess::WindowMs - 1000);
    EXPECT_EQ(call("POST", "/api/host/login", {{u"pin"_s, hostAccess->pin()}}).status, 429);
    clock.advanceMs(1000);
    logIn();
}

TEST_F(HostRoutes, ThePinIsKeptForItsOwnerAlone)
{
    EXPECT_FALSE(QFile::exists(paths.hostPin())); // a start alone writes nothing
    hostAccess->pin();
    EXPECT_EQ(QFile::permissions(paths.hostPin()) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    EXPECT_EQ(readFileBytes(paths.hostPin(), 64).value_or(QByteArray()), hostAccess->pin().toLatin1() + '\n');
    EXPECT_EQ(HostAccess(paths).pin(), hostAccess->pin()); // the next start
    hostAccess->renewPin();
    EXPECT_EQ(HostAccess(paths).pin(), hostAccess->pin());
}

} // namespace
} // namespace tarv
