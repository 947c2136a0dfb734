// The room's memory on the phones, through the guests' service as the server calls it: each phone sees
// its own and its name's songs (after a restart too), stars songs for its name, and the rankings, new
// songs and songs by first sound come from the log, the list and the videos.
#include "common/cp932.h"
#include "common/savefile.h"
#include "history/favourites.h"
#include "history/playhistory.h"
#include "library/registrationdates.h"
#include "stage/guestdesk.h"
#include "support/appfolder.h"
#include "support/fakeclock.h"
#include "web/answers.h"
#include "web/devices.h"
#include "web/guestservice.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <future>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

class HistoryRoutes : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        const QString webRoot = dir.filePath(u"www"_s);
        ASSERT_TRUE(QDir().mkpath(webRoot + u"/cgi-bin/tarv"_s));
        ASSERT_TRUE(saveFile(paths.webRootFile(), webRoot.toUtf8() + "\r\n").isEmpty());
        QByteArray list;
        for (const auto& [number, title] : {std::pair{"100001", u"かもめ"_s}, {"100002", u"さよなら"_s},
                                            {"100003", u"さくら"_s}, {"100004", u"ざぶとん"_s}})
            list += QByteArray(number) + "\r\n" + encodeCp932(title) + "\r\n";
        ASSERT_TRUE(saveFile(paths.songList(), list).isEmpty());
        ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
        clock.holdElapsed();
        start();
    }
    // The program (again): the log read, the server's service on the same folder.
    void start()
    {
        service.reset();
        history = std::make_unique<PlayHistory>(paths, clock);
        history->load();
        favourites = std::make_unique<Favourites>(Favourites::file(paths));
        GuestServiceOptions options;
        options.clock = &clock;
        service = std::make_unique<GuestService>(paths, running, options);
        service->setGuestDesk(&desk);
        service->setHistory(history.get(), favourites.get());
    }

    struct Phone
    {
        std::string cookie;
        QString device() const { return QString::fromStdString(cookie.substr(cookie.find('=') + 1, DeviceCookies::IdDigits)); }
    };
    Phone phone()
    {
        const HttpResponse page = call(Phone{}, "GET", "/");
        return {page.setCookie.substr(0, page.setCookie.find(';'))};
    }
    HttpResponse call(const Phone& phone, std::string method, std::string target, const QJsonObject& body = {})
    {
        HttpRequest request{std::move(method), std::move(target), "application/json", {}, "127.0.0.1:8080",
                            phone.cookie, QJsonDocument(body).toJson().toStdString(), "127.0.0.9"};
        HttpResponse response = service->handle(request);
        if (!response.later)
            return response;
        std::promise<HttpResponse> given;
        response.later->onGiven([&given](HttpResponse later) { given.set_value(std::move(later)); });
        return given.get_future().get();
    }
    QJsonObject get(const Phone& phone, std::string target)
    {
        const HttpResponse response = call(phone, "GET", std::move(target));
        EXPECT_EQ(response.status, 200) << response.body;
        return QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
    }
    // The numbers of an answer's songs, each with what of it matters to the row (key, count, star...).
    static QStringList songs(const QJsonObject& answer, const QString& field = {})
    {
        QStringList out;
        for (const QJsonValue& song : answer.value(u"songs"_s).toArray()) {
            const QJsonObject s = song.toObject();
            out << s.value(u"number"_s).toString() + (field.isEmpty() ? QString() : u':' + s.value(field).toVariant().toString());
        }
        return out;
    }
    void sing(qint64 number, const QString& user, const QString& device, KeyTempo at, KeyTempo endedAt)
    {
        const quint64 id = history->songStarted({SongNumber(number), user, device, at});
        clock.advanceMs(200'000);
        history->songEnded(id, 200, endedAt);
    }

    test::FakeClock clock{QDateTime(QDate(2026, 12, 10), QTime(21, 0))};
    std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(true);
    GuestDesk desk;
    std::unique_ptr<PlayHistory> history;
    std::unique_ptr<Favourites> favourites;
    std::unique_ptr<GuestService> service;
};

TEST_F(HistoryRoutes, EachPhoneSeesItsOwnAndItsNamesSongsAfterARestartAndStarsThemForItsName)
{
    const Phone yuki = phone(), hal = phone(), yukisNewPhone = phone();
    ASSERT_EQ(call(yuki, "POST", "/api/login", {{u"name"_s, u"ユキ"_s}}).status, 200);
    sing(100002, u"ユキ"_s, yuki.device(), {2, 0}, {3, 0}); // taken up once more while she sang
    sing(100003, u"ハル"_s, hal.device(), {}, {});

    EXPECT_EQ(songs(get(yuki, "/api/history"), u"key"_s), (QStringList{u"100002:3"_s}));
    EXPECT_EQ(songs(get(hal, "/api/history")), (QStringList{u"100003"_s})) << "not another phone's songs";
    EXPECT_TRUE(songs(get(yukisNewPhone, "/api/history")).isEmpty()) << "no name given yet";
    ASSERT_EQ(call(yukisNewPhone, "POST", "/api/login", {{u"name"_s, u"ユキ"_s}}).status, 200);
    EXPECT_EQ(songs(get(yukisNewPhone, "/api/history")), (QStringList{u"100002"_s})) << "her name's songs";

    // Stars are the name's: a phone without a name is told to log in, and a number no song has is refused.
    EXPECT_EQ(call(yuki, "POST", "/api/favourite", {{u"number"_s, u"100003"_s}, {u"on"_s, true}}).status, 200);
    EXPECT_EQ(call(hal, "POST", "/api/favourite", {{u"number"_s, u"100003"_s}, {u"on"_s, true}}).status, 409);
    for (const QString& wrong : {u"100009"_s, u"100003x"_s, u"10003"_s, u""_s})
        EXPECT_EQ(call(yuki, "POST", "/api/favourite", {{u"number"_s, wrong}, {u"on"_s, true}}).status, 404) << wrong.toStdString();
    EXPECT_EQ(songs(get(yukisNewPhone, "/api/favourites")), (QStringList{u"100003"_s}));
    EXPECT_EQ(songs(get(yuki, "/api/songs?q=%E3%81%95"), u"favourite"_s),
              (QStringList{u"100002:false"_s, u"100003:true"_s}));
    EXPECT_EQ(songs(get(hal, "/api/songs?q=%E3%81%95"), u"favourite"_s),
              (QStringList{u"100002:false"_s, u"100003:false"_s}));

    // A restart: the phone's songs come back from the log, though the server no longer knows its name.
    start();
    EXPECT_EQ(songs(get(yuki, "/api/history")), (QStringList{u"100002"_s}));
    EXPECT_EQ(get(yuki, "/api/history").value(u"name"_s).toString(), QString());
}

TEST_F(HistoryRoutes, RankingsNewSongsAndFirstSoundsAnswerFromTheLogTheListAndTheVideos)
{
    const Phone guest = phone();
    sing(100003, u"ユキ"_s, guest.device(), {}, {});
    sing(100003, u"ハル"_s, guest.device(), {}, {});
    sing(100002, u"ハル"_s, guest.device(), {}, {});
    sing(100001, u"ナツ"_s, guest.device(), {}, {});
    EXPECT_EQ(songs(get(guest, "/api/ranking?period=all"), u"rank"_s),
              (QStringList{u"100003:1"_s, u"100001:2"_s, u"100002:2"_s}));
    EXPECT_EQ(songs(get(guest, "/api/ranking?period=tonight"), u"count"_s),
              (QStringList{u"100003:2"_s, u"100001:1"_s, u"100002:1"_s}));
    EXPECT_EQ(call(guest, "GET", "/api/ranking?period=year").status, 400);
    // The next month has no plays yet.
    clock.set(QDateTime(QDate(2027, 1, 1), QTime(0, 5)));
    EXPECT_TRUE(songs(get(guest, "/api/ranking?period=month")).isEmpty());
    EXPECT_EQ(songs(get(guest, "/api/ranking?period=all")).size(), 3);

    // New: the day a drop noted, else the day the video was written; a song without a video is none.
    for (const char* number : {"100001", "100002", "100003"}) {
        QFile video(paths.video(QString::fromLatin1(number)));
        ASSERT_TRUE(video.open(QIODevice::WriteOnly));
    }
    const QDate today = clock.now().date();
    ASSERT_TRUE(noteRegistered(paths, {100001}, today.addDays(-40)).isEmpty());
    ASSERT_TRUE(noteRegistered(paths, {100002}, today.addDays(-3)).isEmpty());
    ASSERT_TRUE(noteRegistered(paths, {100003}, today.addDays(-29)).isEmpty());
    const QDate written = QFileInfo(paths.video(u"100002"_s)).lastModified().date();
    ASSERT_GE(written, today.addDays(-29)) << "the machine's clock is far from the test's";
    EXPECT_EQ(songs(get(guest, "/api/new"), u"registered"_s),
              (QStringList{u"100002:"_s + today.addDays(-3).toString(Qt::ISODate),
                           u"100003:"_s + today.addDays(-29).toString(Qt::ISODate)}));

    // First sounds: voiced kana under the plain one, in the order of the kana table (さく, ざふ, さよ).
    EXPECT_EQ(songs(get(guest, "/api/initial?kana=%E3%81%95")), (QStringList{u"100003"_s, u"100004"_s, u"100002"_s}));
    EXPECT_EQ(songs(get(guest, "/api/initial?kana=%E3%81%8B")), (QStringList{u"100001"_s}));
    EXPECT_EQ(call(guest, "GET", "/api/initial?kana=x").status, 400);
}

} // namespace
} // namespace tarv
