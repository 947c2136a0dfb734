#include "web/guestservice.h"

#include "common/songnumber.h"

#include "common/cp932.h"
#include "search/songcatalog.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/singerkeys.h"
#include "stage/turnsettings.h"
#include "web/answers.h"
#include "web/hostaccess.h"
#include "web/historyservice.h"
#include "web/hostservice.h"
#include "web/roomfeed.h"
#include "web/routes.h"
#include "web/webreplies.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace tarv {

Q_LOGGING_CATEGORY(lcGuests, "tarv.web.guests")

namespace {

// The song number a phone sent: a string of digits or a whole JSON number; none for anything else.
SongNumber reservedNumber(const QJsonValue& value)
{
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        return ok ? SongNumber(number) : SongNumber();
    }
    if (value.isDouble() && value.toDouble() >= 0 && value.toDouble() <= double(LastSongNumber))
        return SongNumber::fromValue(value.toDouble());
    return {};
}

const QString GoneText = QStringLiteral("その予約はもう待っていません（演奏中か、取り消し済みです）。");
const QString NotRunningText = QStringLiteral("カラオケが始まっていないため、今は予約できません。");
const QString NoWebRootText = QStringLiteral("予約の受付先が設定されていません。お店の人に伝えてください。");

// Seconds as a 429 says them: at least one.
int secondsUntil(qint64 leftMs)
{
    return std::max(1, int((leftMs + 999) / 1000));
}

constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 MintWindowMs = 10 * MinuteMs;
// What the limit tables remember at most: more phones and addresses than a room holds. Beyond it the
// one quiet longest is forgotten.
constexpr qsizetype LimitKeys = 8192;
// An unsigned cookie re-issued is honoured a little longer, for the requests its page had in flight.
constexpr qint64 ReissueGraceMs = MinuteMs;
constexpr qint64 DayMs = 24 * 60 * MinuteMs;

const QString AnonymousPrefix = QStringLiteral("address:");

// A key or tempo in a reservation: absent, null or "" for none chosen; otherwise a whole number of
// steps within the limit. False for anything else.
bool chosenStep(const QJsonValue& value, int limit, int step, std::optional<int>* chosen)
{
    if (value.isUndefined() || value.isNull() || value == QJsonValue(QString()))
        return true;
    bool ok = value.isDouble();
    const double number = value.isString() ? value.toString().toDouble(&ok) : value.toDouble();
    if (!ok || !std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > limit ||
        int(number) % step != 0)
        return false;
    *chosen = int(number);
    return true;
}

} // namespace

bool isSearch(const HttpRequest& request)
{
    // Each may be the first to index a changed catalog (a tenth of a second at 100,001 songs).
    for (std::string_view path : {"/api/songs", "/api/new", "/api/initial", "/api/history", "/api/ranking",
                                  "/api/favourites"}) {
        if (request.target.starts_with(path))
            return true;
    }
    return false;
}

QString guestName(QStringView name)
{
    QString out;
    const QString trimmed = name.trimmed().toString();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const qsizetype length = (trimmed[i].isHighSurrogate() && i + 1 < trimmed.size()) ? 2 : 1;
        const QStringView one = QStringView(trimmed).mid(i, length);
        if (one == u"$")
            out += u'＄';
        else
            out += encodableInCp932(one) ? one.toString() : QStringLiteral("?");
        i += length - 1;
    }
    return storedUserName(out);
}

GuestService::GuestService(const AppPaths& paths, std::shared_ptr<const std::atomic<bool>> karaokeRunning,
                           GuestServiceOptions options)
    : m_paths(paths), m_karaokeRunning(std::move(karaokeRunning)), m_options(std::move(options)),
      m_clock(m_options.clock ? *m_options.clock : systemClock()), m_cookies(paths), m_floods(MinuteMs, LimitKeys),
      m_phones(MinuteMs, LimitKeys), m_failures(MinuteMs, LimitKeys), m_minted(MintWindowMs, LimitKeys),
      m_names(DayMs, LimitKeys), m_reissued(DayMs, RecordContent::MaxEntries),
      m_songs(std::make_unique<SongCatalog>(paths)), m_lookup(paths.songList()),
      m_feed(std::make_unique<RoomFeed>(nullptr, QueueLengths{})), m_actions(std::make_unique<SerialWorker>())
{
}

GuestService::~GuestService() = default;

void GuestService::setGuestDesk(GuestDesk* desk)
{
    m_desk = desk;
    m_feed = std::make_unique<RoomFeed>(desk, QueueLengths{m_options.durationSeconds, m_options.videoSeconds}, m_clock);
}

HttpResponse GuestService::handle(const HttpRequest& request)
{
    const QUrl url(QString::fromUtf8(request.target.data(), qsizetype(request.target.size())), QUrl::StrictMode);
    const QString path = url.path(QUrl::FullyEncoded);
    // Every route is in the one table; a host route answers nothing without the host cookie.
    const Route* route = findRoute(path.toStdString());
    if (!route)
        return {404, "text/plain; charset=utf-8", "not found", {}};
    if (request.method != route->method)
        return {405, "text/plain; charset=utf-8", "method not allowed", std::string(route->method)};
    if (route->access == RouteAccess::Host && !isHost(request))
        return failureReply(403, QStringLiteral("ホストとしてログインしてください。"));
    if (path == u"/")
        return page(request);
    const QUrlQuery query(url);
    if (path == u"/api/songs")
        return songs(query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded),
                     query.queryItemValue(QStringLiteral("page")).toInt(), nameOf(searchDevice(request)));
    const Caller caller = identify(request);
    HttpResponse response;
    if (path.startsWith(u"/host") || path.startsWith(u"/api/host/")) {
        if (!m_host)
            return {404, "text/plain; charset=utf-8", "not found", {}};
        if (request.method == "POST") {
            return later(
                [this, request, route, device = caller.device] {
                    const std::lock_guard lock(m_actionMutex);
                    return m_host->handle(request, *route, device);
                },
                caller.setCookie);
        }
        const std::lock_guard lock(m_actionMutex);
        response = m_host->handle(request, *route, caller.device);
    } else if (path == u"/api/queue") {
        response = m_feed->answer(caller.device);
    } else if (path == u"/api/live") {
        // A page of another site may open a WebSocket here too: its Origin tells it apart.
        if (!sameOrigin(request))
            return failureReply(403, QStringLiteral("別のサイトからは接続できません。"));
        response.live = m_feed->channel(caller.device);
    } else if (route->method == "GET" && (path == u"/api/history" || path == u"/api/ranking" || path == u"/api/new" ||
                                          path == u"/api/initial" || path == u"/api/favourites")) {
        response = memory(path, query, caller);
    } else if (path == u"/api/keytempo") {
        response = usualKeyTempo(query.queryItemValue(QStringLiteral("number"), QUrl::FullyDecoded),
                                 query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded), caller);
    } else {
        return later(
            [this, request, path, caller] {
                const std::lock_guard lock(m_actionMutex);
                return path == u"/api/cancel"    ? cancel(request, caller)
                       : path == u"/api/hold"    ? hold(request, caller)
                       : path == u"/api/reserve" ? reserve(request, caller)
                       : path == u"/api/favourite" ? favourite(request, caller)
                                                 : login(request, caller);
            },
            caller.setCookie);
    }
    if (response.later && !caller.setCookie.empty()) {
        // A queue answered once its build is done carries the re-issued cookie too.
        auto given = std::make_shared<LaterAnswer>();
        response.later->onGiven([given, cookie = caller.setCookie](HttpResponse later) {
            if (later.setCookie.empty())
                later.setCookie = cookie;
            given->give(std::move(later));
        });
        response.later = std::move(given);
    }
    // A phone's cookie of before is re-issued another time.
    if (response.setCookie.empty())
        response.setCookie = caller.setCookie;
    return response;
}

HttpResponse GuestService::later(std::function<HttpResponse()> action, std::string setCookie)
{
    HttpResponse answer;
    answer.later = std::make_shared<LaterAnswer>();
    m_actions->post([action = std::move(action), setCookie = std::move(setCookie), later = answer.later] {
        HttpResponse response;
        try {
            response = action();
        } catch (const std::exception& e) {
            qCWarning(lcGuests) << "action failed:" << e.what();
            response = {500, "text/plain; charset=utf-8", "internal error", {}};
        }
        // The host's login sets its own cookie; a phone's cookie of before is re-issued another time.
        if (response.setCookie.empty())
            response.setCookie = setCookie;
        later->give(std::move(response));
    });
    return answer;
}

bool GuestService::isHost(const HttpRequest& request) const
{
    const auto cookie = cookieValue(request.cookie, HostCookie);
    return m_hostAccess && cookie && m_hostAccess->isHost(*cookie);
}

void GuestService::setHostAccess(HostAccess* access)
{
    m_hostAccess = access;
    m_host = access ? std::make_unique<HostService>(m_paths, *access, m_karaokeRunning) : nullptr;
    if (m_host) {
        m_host->setGuestDesk(m_desk);
        m_host->setQueueRecord(m_record);
    }
}

GuestService::Caller GuestService::identify(const HttpRequest& request)
{
    const QStringList sent = sentDeviceCookies(request.cookie);
    for (const QString& value : sent) {
        if (const auto id = m_cookies.verify(value))
            return {*id, true};
    }
    for (const QString& value : sent) {
        if (const auto id = DeviceCookies::unsignedId(value); id && reissue(*id))
            return {*id, true, deviceCookieHeader(m_cookies.valueFor(*id))};
    }
    return {AnonymousPrefix + QString::fromStdString(request.client)};
}

QString GuestService::searchDevice(const HttpRequest& request) const
{
    // Only signed cookies: a phone with a cookie of before they were signed searches as its address
    // until its next action or page re-issues it one.
    for (const QString& value : sentDeviceCookies(request.cookie)) {
        if (const auto id = m_cookies.verify(value))
            return *id;
    }
    return AnonymousPrefix + QString::fromStdString(request.client);
}

bool GuestService::reissue(const QString& id)
{
    const qint64 now = m_clock.elapsedMs();
    const std::lock_guard lock(m_deviceMutex);
    if (const qint64* first = m_reissued.find(id, now))
        return now - *first < ReissueGraceMs;
    // Anyone may send 32 hex digits: only a phone that reserved a song under them, before the cookies
    // were signed, is that phone (the ids of the room's queue are never shown to the phones).
    const auto room = m_desk ? m_desk->snapshot() : nullptr;
    if (room != m_ownersRoom) {
        m_ownersRoom = room;
        m_owners.clear();
        if (room) {
            if (room->playing)
                m_owners.insert(room->playing->device);
            for (const QList<QueueEntry>* part : {&room->waiting, &room->accepted}) {
                for (const QueueEntry& entry : *part)
                    m_owners.insert(entry.device);
            }
        }
    }
    if (!m_owners.contains(id))
        return false;
    m_reissued.touch(id, now) = now;
    return true;
}

qint64 GuestService::newDeviceWait(const std::string& client, bool issue)
{
    const QString address = QString::fromStdString(client);
    const qint64 now = m_clock.elapsedMs();
    const std::lock_guard lock(m_deviceMutex);
    const qint64 wait = m_minted.waitMs(address, m_options.newDevicesPerAddress, now);
    if (wait == 0 && issue)
        m_minted.add(address, now);
    return wait;
}

// The page, with the phone's device cookie: the one it holds, kept for another year, or a new one
// while its address may have one.
HttpResponse GuestService::page(const HttpRequest& request)
{
    static const std::string html = [] {
        QFile file(QStringLiteral(":/tarv/web/guestpage.html"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    if (html.empty())
        return {500, "text/plain; charset=utf-8", "page missing", {}};
    HttpResponse response{200, "text/html; charset=utf-8", html, {}};
    const Caller caller = identify(request);
    if (caller.issued)
        response.setCookie = deviceCookieHeader(m_cookies.valueFor(caller.device));
    else if (newDeviceWait(request.client, true) == 0)
        response.setCookie = deviceCookieHeader(m_cookies.issue());
    return response;
}

void GuestService::setHistory(PlayHistory* history, Favourites* favourites)
{
    m_memory = history && favourites ? std::make_unique<HistoryService>(m_paths, *history, *favourites, *m_songs,
                                                                         m_clock, m_options.pageSize)
                                     : nullptr;
}

QString GuestService::nameOf(const QString& device)
{
    const std::lock_guard lock(m_deviceMutex);
    const QString* name = m_names.find(device, m_clock.elapsedMs());
    return name ? *name : QString();
}

HttpResponse GuestService::memory(const QString& path, const QUrlQuery& query, const Caller& caller)
{
    if (!m_memory)
        return {404, "text/plain; charset=utf-8", "not found", {}};
    const QString name = nameOf(caller.device);
    if (path == u"/api/history")
        return m_memory->history(caller.device, name);
    if (path == u"/api/ranking")
        return m_memory->ranking(query.queryItemValue(QStringLiteral("period")), name);
    if (path == u"/api/new")
        return m_memory->newSongs(name);
    if (path == u"/api/initial")
        return m_memory->initial(query.queryItemValue(QStringLiteral("kana"), QUrl::FullyDecoded),
                                 query.queryItemValue(QStringLiteral("page")).toInt(), name);
    return m_memory->favourites(name);
}

HttpResponse GuestService::favourite(const HttpRequest& request, const Caller& caller)
{
    QJsonObject body;
    if (auto refused = admit(request, caller, &body, false, false))
        return *refused;
    if (!m_memory)
        return failureReply(404, QStringLiteral("マイリストは使えません。"));
    HttpResponse answer = m_memory->setFavourite(reservedNumber(body.value(QStringLiteral("number"))),
                                                 body.value(QStringLiteral("on")).toBool(), nameOf(caller.device));
    if (answer.status == 200)
        counted(request, caller, false);
    else if (answer.status == 404)
        return failed(caller, std::move(answer));
    return answer;
}

HttpResponse GuestService::songs(const QString& query, int page, const QString& name)
{
    m_songs->refresh();
    const auto index = m_songs->index();
    const std::vector<qsizetype> found = index->search(query.left(100));
    const int pages = int((qsizetype(found.size()) + m_options.pageSize - 1) / m_options.pageSize);
    page = qBound(0, page, qMax(0, pages - 1));
    QJsonArray list;
    for (qsizetype i = qsizetype(page) * m_options.pageSize;
         i < qsizetype(found.size()) && i < qsizetype(page + 1) * m_options.pageSize; ++i) {
        const CatalogSong& song = index->songs()[size_t(found[size_t(i)])];
        list.append(m_memory ? m_memory->song(song.number, song.title, name)
                             : QJsonObject{{QStringLiteral("number"), QString::number(song.number)},
                                           {QStringLiteral("title"), song.title}});
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("total"), qint64(found.size())},
                                      {QStringLiteral("page"), page},
                                      {QStringLiteral("pages"), pages},
                                      {QStringLiteral("songs"), list}});
}

namespace {

// A 429 that says how long to wait, in the words of text (%1: the limit, %2: the seconds).
HttpResponse tooMany(qint64 waitMs, int limit, const QString& text)
{
    const int seconds = secondsUntil(waitMs);
    HttpResponse refused = failureReply(429, text.arg(limit).arg(seconds));
    refused.retryAfter = seconds;
    return refused;
}

} // namespace

std::optional<HttpResponse> GuestService::admit(const HttpRequest& request, const Caller& caller, QJsonObject* body,
                                                bool limited, bool ofTheRoom)
{
    if (!sameOrigin(request))
        return failureReply(403, QStringLiteral("別のサイトからの予約は受け付けません。"));
    if (!QString::fromStdString(request.contentType).startsWith(u"application/json", Qt::CaseInsensitive))
        return failureReply(415, QStringLiteral("JSON で送ってください。"));
    const qint64 now = m_clock.elapsedMs();
    if (const qint64 wait = m_failures.waitMs(caller.device, m_options.failuresPerMinute, now))
        return tooMany(wait, m_options.failuresPerMinute,
                       QStringLiteral("受け付けられない操作が続いたため、少し休みます（1分間に%1回まで）。"
                                      "%2秒ほど待ってからどうぞ。"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failed(caller, failureReply(400, QStringLiteral("要求を読めませんでした。")));
    *body = document.object();
    if (ofTheRoom && !m_karaokeRunning->load())
        return failureReply(409, NotRunningText);
    if (ofTheRoom && (!m_desk || !existingExchangeFile(m_paths, ExchangeFile::Request)))
        return failureReply(503, NoWebRootText);
    const QString address = QString::fromStdString(request.client);
    if (const qint64 wait = m_floods.waitMs(address, m_options.addressActionsPerMinute, now))
        return tooMany(wait, m_options.addressActionsPerMinute,
                       QStringLiteral("この Wi-Fi からの予約が混み合っています（1分間に%1回まで）。"
                                      "%2秒ほど待ってからどうぞ。"));
    if (limited) {
        if (const qint64 wait = m_phones.waitMs(caller.device, m_options.reservationsPerMinute, now))
            return tooMany(wait, m_options.reservationsPerMinute,
                           QStringLiteral("予約とログインは1分間に%1回までです。%2秒ほど待ってからどうぞ。"));
    }
    return std::nullopt;
}

void GuestService::counted(const HttpRequest& request, const Caller& caller, bool limited)
{
    const qint64 now = m_clock.elapsedMs();
    m_floods.add(QString::fromStdString(request.client), now);
    if (limited)
        m_phones.add(caller.device, now);
}

HttpResponse GuestService::failed(const Caller& caller, HttpResponse refusal)
{
    m_failures.add(caller.device, m_clock.elapsedMs());
    return refusal;
}

void GuestService::rememberName(const Caller& caller, const QString& user)
{
    if (!caller.issued)
        return; // every client of the address would share it
    const std::lock_guard lock(m_deviceMutex);
    m_names.touch(caller.device, m_clock.elapsedMs()) = user;
}

HttpResponse GuestService::reserve(const HttpRequest& request, const Caller& caller)
{
    QJsonObject body;
    if (auto refused = admit(request, caller, &body, true))
        return *refused;
    // The page without a device, once its address has had its new devices: its guest waits for one
    // (and a script that sheds its cookies gets no more than that).
    if (!caller.issued) {
        if (const qint64 wait = newDeviceWait(request.client, false)) {
            HttpResponse refused = failureReply(
                429, QStringLiteral("この Wi-Fi から新しくつながったスマートフォンが多いため、今は予約できません。"
                                    "%1分ほど待ってから、ページを開き直してください。")
                         .arg((secondsUntil(wait) + 59) / 60));
            refused.retryAfter = secondsUntil(wait);
            return refused;
        }
    }
    const SongNumber number = reservedNumber(body.value(QStringLiteral("number")));
    const std::optional<Song> song = number.isSongNumber() ? m_lookup.find(number) : std::nullopt;
    const QString name = guestName(body.value(QStringLiteral("name")).toString());
    if (m_hostAccess && m_hostAccess->isBlocked(caller.device))
        return failureReply(403, QStringLiteral("このスマートフォンからは予約できません。お店の人に伝えてください。"));
    if (!song)
        return failed(caller, failureReply(404, QStringLiteral("その曲番号はありません。")));
    // A key or tempo the guest chose; what they leave as usual is what they last sang the song at.
    std::optional<int> key, tempo;
    if (!chosenStep(body.value(QStringLiteral("key")), KeyTempo::MaxKey, 1, &key) ||
        !chosenStep(body.value(QStringLiteral("tempo")), KeyTempo::MaxTempo, KeyTempo::TempoStep, &tempo)) {
        return failed(caller, failureReply(400, QStringLiteral("キーは♭6から♯6まで、テンポは-25%から+25%まで"
                                                               "（5%きざみ）で選んでください。")));
    }
    // Recorded as the stage will queue it.
    RecordedReservation recorded = requestedReservation(number, name);
    if (key || tempo) {
        KeyTempo chosen = rememberedKeyTempo(m_paths.singerKeys(), recorded.user, number).value_or(KeyTempo{});
        chosen.key = key.value_or(chosen.key);
        chosen.tempo = tempo.value_or(chosen.tempo);
        recorded.keyTempo = chosen;
    }
    recorded.device = caller.device;
    if (endsAfterClosing(number, recorded))
        return failureReply(409, ClosingRefusalText);
    if (m_record) {
        if (const QString error = m_record->accept(recorded); !error.isEmpty())
            return failureReply(503, QStringLiteral("予約を記録できませんでした。お店の人に伝えてください。"));
    }
    counted(request, caller, true);
    rememberName(caller, recorded.user);
    m_desk->submitReservation(Cmd::Reserve{number, recorded.user, recorded.device, recorded.keyTempo}, song->title());
    return jsonReply(200, QJsonObject{{QStringLiteral("ok"), true},
                                      {QStringLiteral("message"),
                                       QStringLiteral("予約しました: %1 %2").arg(number.text(), song->title())}});
}

// What the phone's own name last sang the song at, the original when nothing is remembered: the phone
// shows it as the usual key and tempo. For any other name, and for a client without a device, the
// answer is the original too, so it tells nothing of what others sing at.
HttpResponse GuestService::usualKeyTempo(const QString& number, const QString& name, const Caller& caller)
{
    const SongNumber song = SongNumber::fromText(number);
    const QString user = requestedReservation(song, guestName(name)).user;
    bool own = false;
    if (caller.issued) {
        const std::lock_guard lock(m_deviceMutex);
        const QString* last = m_names.find(caller.device, m_clock.elapsedMs());
        own = last && *last == user;
    }
    const KeyTempo usual = own ? rememberedKeyTempo(m_paths.singerKeys(), user, song).value_or(KeyTempo{}) : KeyTempo{};
    return jsonReply(200, QJsonObject{{QStringLiteral("key"), usual.key}, {QStringLiteral("tempo"), usual.tempo}});
}

HttpResponse GuestService::login(const HttpRequest& request, const Caller& caller)
{
    QJsonObject body;
    if (auto refused = admit(request, caller, &body, true))
        return *refused;
    const QString name = guestName(body.value(QStringLiteral("name")).toString());
    if (name.isEmpty())
        return failed(caller, failureReply(400, QStringLiteral("名前を入力してください。")));
    counted(request, caller, true);
    rememberName(caller, name);
    m_desk->submit(Cmd::Login{name});
    return jsonReply(200, QJsonObject{{QStringLiteral("ok"), true},
                                      {QStringLiteral("message"), QStringLiteral("%1 さん、ようこそ").arg(name)}});
}

std::optional<HttpResponse> GuestService::ownWaiting(const Caller& caller, const QJsonObject& body,
                                                     const QString& notYours, QueueEntry* entry)
{
    // Every client of an address without a device is the same phone: none of them can tell its own.
    if (!caller.issued)
        return failed(
            caller, failureReply(403, QStringLiteral("このスマートフォンは登録されていないため、予約を変えられません。"
                                                     "ページを開き直してからどうぞ。")));
    const quint64 id = body.value(QStringLiteral("id")).toString().toULongLong();
    const auto room = m_desk->snapshot();
    const auto found = std::find_if(room->waiting.cbegin(), room->waiting.cend(),
                                    [id](const QueueEntry& e) { return id && e.id == id; });
    if (found == room->waiting.cend())
        return failed(caller, failureReply(404, GoneText));
    if (found->device != caller.device)
        return failed(caller, failureReply(403, notYours));
    *entry = *found;
    return std::nullopt;
}

HttpResponse GuestService::cancel(const HttpRequest& request, const Caller& caller)
{
    QJsonObject body;
    if (auto refused = admit(request, caller, &body, false))
        return *refused;
    QueueEntry entry;
    if (auto refused = ownWaiting(caller, body,
                                  QStringLiteral("ほかの人の予約は取り消せません。"
                                                 "予約したスマートフォンから取り消してください。"),
                                  &entry))
        return *refused;
    // Answered as cancelled only once the record no longer holds it.
    QString error;
    if (m_record && !m_record->cancel(entry.id, &error)) {
        if (!error.isEmpty())
            return failureReply(503, QStringLiteral("取り消しを記録できませんでした。お店の人に伝えてください。"));
        return failed(caller, failureReply(404, GoneText));
    }
    counted(request, caller, false);
    m_desk->submit(Cmd::CancelReservation{entry.id});
    return jsonReply(
        200, QJsonObject{{QStringLiteral("ok"), true},
                         {QStringLiteral("message"), QStringLiteral("取り消しました: %1").arg(entry.number.text())}});
}

// "あとで歌う" ({"id": …, "held": true}) and "戻る" (held false) for one of the phone's own waiting songs.
HttpResponse GuestService::hold(const HttpRequest& request, const Caller& caller)
{
    QJsonObject body;
    if (auto refused = admit(request, caller, &body, false))
        return *refused;
    QueueEntry entry;
    if (auto refused = ownWaiting(caller, body, QStringLiteral("ほかの人の予約は保留にできません。"), &entry))
        return *refused;
    const QJsonValue held = body.value(QStringLiteral("held"));
    if (!held.isBool())
        return failed(caller, failureReply(400, QStringLiteral("要求を読めませんでした。")));
    counted(request, caller, false);
    m_desk->submit(Cmd::Hold{entry.id, held.toBool()});
    return jsonReply(200,
                     QJsonObject{{QStringLiteral("ok"), true},
                                 {QStringLiteral("message"), (held.toBool() ? QStringLiteral("あとで歌います: %1 %2")
                                                                            : QStringLiteral("予約に戻しました: %1 %2"))
                                                                 .arg(entry.number.text(), entry.title)}});
}

// Whether a phone's reservation of that song, sung after the queue, would end after closing time.
bool GuestService::endsAfterClosing(const SongNumber& number, const RecordedReservation& recorded) const
{
    const std::optional<QTime> closing = m_desk->closing();
    if (!closing)
        return false;
    const QDateTime now = m_clock.now();
    std::optional<QDateTime> end;
    const auto free = m_feed->secondsUntilFree();
    const auto length = m_options.durationSeconds ? m_options.durationSeconds(number) : std::nullopt;
    if (free && length) {
        const int tempo = recorded.keyTempo ? recorded.keyTempo->tempo : 0;
        end = now.addMSecs(qint64((*free + *length * 100.0 / (100 + KeyTempo::clampTempo(tempo))) * 1000));
    }
    return tarv::endsAfterClosing(now, closing, end);
}

void GuestService::pump()
{
    // A sync may wait for the disk: on the action thread, after the actions before it.
    if (m_record && !m_syncQueued.exchange(true)) {
        m_actions->post([this] {
            m_syncQueued = false;
            m_record->syncIfDue();
        });
    }
    if (!m_karaokeRunning->load() && m_desk)
        m_desk->clear();
}

} // namespace tarv
