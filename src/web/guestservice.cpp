#include "web/guestservice.h"

#include "common/songnumber.h"

#include "common/cp932.h"
#include "search/songcatalog.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/singerkeys.h"
#include "web/answers.h"
#include "web/roomfeed.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRandomGenerator>
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

const QString NotRunningText = QStringLiteral("カラオケが始まっていないため、今は予約できません。");
const QString NoWebRootText = QStringLiteral("予約の受付先が設定されていません。お店の人に伝えてください。");

HttpResponse json(int status, const QJsonObject& object)
{
    return {status,
            "application/json; charset=utf-8",
            QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
            {}};
}

HttpResponse failure(int status, const QString& message)
{
    return json(status, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}});
}

const char DeviceCookie[] = "tarv_device";
constexpr qsizetype DeviceHexDigits = 32; // 128 bits

std::optional<QString> deviceCookie(const std::string& header)
{
    for (const QString& pair : QString::fromLatin1(header).split(u';')) {
        const QString trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals < 0 || trimmed.left(equals) != QLatin1StringView(DeviceCookie))
            continue;
        const QString value = trimmed.mid(equals + 1);
        const bool hex = value.size() == DeviceHexDigits && std::all_of(value.cbegin(), value.cend(), [](QChar c) {
                             return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
                         });
        if (hex)
            return value;
    }
    return std::nullopt;
}

// The page, with the phone's device cookie: the one it holds, kept for another year, or a new one.
HttpResponse page(const HttpRequest& request)
{
    static const std::string html = [] {
        QFile file(QStringLiteral(":/tarv/web/guestpage.html"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    if (html.empty())
        return {500, "text/plain; charset=utf-8", "page missing", {}};
    QString device = deviceCookie(request.cookie).value_or(QString());
    if (device.isEmpty()) {
        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        for (quint32 word : words)
            device += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    }
    HttpResponse response{200, "text/html; charset=utf-8", html, {}};
    response.setCookie = std::string(DeviceCookie) + '=' + device.toStdString() +
                         "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict";
    return response;
}

// Seconds as a 429 says them: at least one.
int secondsUntil(qint64 leftMs)
{
    return std::max(1, int((leftMs + 999) / 1000));
}

constexpr qint64 MinuteMs = 60 * 1000;

// The Origin of a cross-site page differs from the host it posts to; a form post from another site
// is stopped here and by the JSON content type.
bool sameOrigin(const HttpRequest& request)
{
    if (request.origin.empty())
        return true;
    const QUrl origin(QString::fromStdString(request.origin));
    const QString host = QString::fromStdString(request.host);
    const QString originHost =
        origin.port() < 0 ? origin.host() : origin.host() + u':' + QString::number(origin.port());
    return originHost.compare(host, Qt::CaseInsensitive) == 0;
}

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
    return request.target.starts_with("/api/songs");
}

QString deviceOf(const HttpRequest& request)
{
    if (auto device = deviceCookie(request.cookie))
        return *device;
    return QStringLiteral("address:") + QString::fromStdString(request.client);
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
      m_clock(m_options.clock ? *m_options.clock : systemClock()), m_songs(std::make_unique<SongCatalog>(paths)),
      m_lookup(paths.songList()), m_feed(std::make_unique<RoomFeed>(nullptr, QueueLengths{})),
      m_actions(std::make_unique<SerialWorker>())
{
}

GuestService::~GuestService() = default;

void GuestService::setGuestDesk(GuestDesk* desk)
{
    m_desk = desk;
    m_feed = std::make_unique<RoomFeed>(desk, QueueLengths{m_options.durationSeconds, m_options.videoSeconds});
}

HttpResponse GuestService::handle(const HttpRequest& request)
{
    const QUrl url(QString::fromUtf8(request.target.data(), qsizetype(request.target.size())), QUrl::StrictMode);
    const QString path = url.path(QUrl::FullyEncoded);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (path == u"/") {
        if (!get)
            return {405, "text/plain; charset=utf-8", "method not allowed", "GET"};
        return page(request);
    }
    if (path == u"/api/songs" || path == u"/api/queue" || path == u"/api/keytempo" || path == u"/api/live") {
        if (!get)
            return {405, "text/plain; charset=utf-8", "method not allowed", "GET"};
        if (path == u"/api/queue")
            return m_feed->answer(deviceOf(request));
        if (path == u"/api/live") {
            // A page of another site may open a WebSocket here too: its Origin tells it apart.
            if (!sameOrigin(request))
                return failure(403, QStringLiteral("別のサイトからは接続できません。"));
            HttpResponse upgrade;
            upgrade.live = m_feed->channel(deviceOf(request));
            return upgrade;
        }
        const QUrlQuery query(url);
        if (path == u"/api/keytempo")
            return usualKeyTempo(query.queryItemValue(QStringLiteral("number"), QUrl::FullyDecoded),
                                 query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded));
        const int page = query.queryItemValue(QStringLiteral("page")).toInt();
        return songs(query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded), page);
    }
    if (path == u"/api/reserve" || path == u"/api/login" || path == u"/api/cancel") {
        if (!post)
            return {405, "text/plain; charset=utf-8", "method not allowed", "POST"};
        HttpResponse answer;
        answer.later = std::make_shared<LaterAnswer>();
        m_actions->post([this, request, path, later = answer.later] {
            try {
                const std::lock_guard lock(m_actionMutex);
                if (path == u"/api/cancel")
                    later->give(cancel(request));
                else
                    later->give(path == u"/api/reserve" ? reserve(request) : login(request));
            } catch (const std::exception& e) {
                qCWarning(lcGuests) << "action failed:" << e.what();
                later->give({500, "text/plain; charset=utf-8", "internal error", {}});
            }
        });
        return answer;
    }
    return {404, "text/plain; charset=utf-8", "not found", {}};
}

HttpResponse GuestService::songs(const QString& query, int page)
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
        list.append(QJsonObject{{QStringLiteral("number"), QString::number(song.number)},
                                {QStringLiteral("title"), song.title}});
    }
    return json(200, QJsonObject{{QStringLiteral("total"), qint64(found.size())},
                                 {QStringLiteral("page"), page},
                                 {QStringLiteral("pages"), pages},
                                 {QStringLiteral("songs"), list}});
}

std::optional<HttpResponse> GuestService::limit(const QString& key, int perMinute, const QString& text)
{
    auto& recent = m_recent[key];
    const qint64 now = m_clock.elapsedMs();
    while (!recent.empty() && now - recent.front() >= MinuteMs)
        recent.pop_front();
    if (recent.size() < std::size_t(perMinute))
        return std::nullopt;
    const int seconds = secondsUntil(recent.front() + MinuteMs - now);
    HttpResponse refused = failure(429, text.arg(perMinute).arg(seconds));
    refused.retryAfter = seconds;
    return refused;
}

std::optional<HttpResponse> GuestService::admit(const HttpRequest& request, QJsonObject* body, bool limited)
{
    if (!sameOrigin(request))
        return failure(403, QStringLiteral("別のサイトからの予約は受け付けません。"));
    if (!QString::fromStdString(request.contentType).startsWith(u"application/json", Qt::CaseInsensitive))
        return failure(415, QStringLiteral("JSON で送ってください。"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failure(400, QStringLiteral("要求を読めませんでした。"));
    *body = document.object();
    if (!m_karaokeRunning->load())
        return failure(409, NotRunningText);
    if (!m_desk || !existingExchangeFile(m_paths, ExchangeFile::Request))
        return failure(503, NoWebRootText);
    const QString device = deviceOf(request);
    const QString address = QStringLiteral("address-flood:") + QString::fromStdString(request.client);
    if (auto refused = limit(address, m_options.addressActionsPerMinute,
                             QStringLiteral("この Wi-Fi からの予約が混み合っています（1分間に%1回まで）。"
                                            "%2秒ほど待ってからどうぞ。")))
        return refused;
    if (limited) {
        if (auto refused = limit(device, m_options.reservationsPerMinute,
                                 QStringLiteral("予約とログインは1分間に%1回までです。%2秒ほど待ってからどうぞ。")))
            return refused;
    }
    const qint64 now = m_clock.elapsedMs();
    // Forget phones and addresses that have been quiet for a minute, so the table stays small.
    if (m_recent.size() > 1000) {
        for (auto it = m_recent.begin(); it != m_recent.end();)
            it = (it->empty() || now - it->back() >= MinuteMs) ? m_recent.erase(it) : std::next(it);
    }
    m_recent[address].push_back(now);
    if (limited)
        m_recent[device].push_back(now);
    return std::nullopt;
}

void GuestService::forgetLastAction(const HttpRequest& request)
{
    m_recent[deviceOf(request)].pop_back();
    m_recent[QStringLiteral("address-flood:") + QString::fromStdString(request.client)].pop_back();
}

HttpResponse GuestService::reserve(const HttpRequest& request)
{
    QJsonObject body;
    if (auto refused = admit(request, &body, true))
        return *refused;
    const SongNumber number = reservedNumber(body.value(QStringLiteral("number")));
    const std::optional<Song> song = number.isSongNumber() ? m_lookup.find(number) : std::nullopt;
    const QString name = guestName(body.value(QStringLiteral("name")).toString());
    if (!song) {
        forgetLastAction(request);
        return failure(404, QStringLiteral("その曲番号はありません。"));
    }
    // A key or tempo the guest chose; what they leave as usual is what they last sang the song at.
    std::optional<int> key, tempo;
    if (!chosenStep(body.value(QStringLiteral("key")), KeyTempo::MaxKey, 1, &key) ||
        !chosenStep(body.value(QStringLiteral("tempo")), KeyTempo::MaxTempo, KeyTempo::TempoStep, &tempo)) {
        forgetLastAction(request);
        return failure(400,
                       QStringLiteral("キーは♭6から♯6まで、テンポは-25%から+25%まで（5%きざみ）で選んでください。"));
    }
    // Recorded as the stage will queue it.
    RecordedReservation recorded = requestedReservation(number, name);
    if (key || tempo) {
        KeyTempo chosen = rememberedKeyTempo(m_paths.singerKeys(), recorded.user, number).value_or(KeyTempo{});
        chosen.key = key.value_or(chosen.key);
        chosen.tempo = tempo.value_or(chosen.tempo);
        recorded.keyTempo = chosen;
    }
    recorded.device = deviceOf(request);
    if (m_record) {
        if (const QString error = m_record->accept(recorded); !error.isEmpty()) {
            forgetLastAction(request);
            return failure(503, QStringLiteral("予約を記録できませんでした。お店の人に伝えてください。"));
        }
    }
    m_desk->submitReservation(Cmd::Reserve{number, recorded.user, recorded.device, recorded.keyTempo}, song->title());
    return json(200, QJsonObject{{QStringLiteral("ok"), true},
                                 {QStringLiteral("message"),
                                  QStringLiteral("予約しました: %1 %2").arg(number.text(), song->title())}});
}

// What the name last sang the song at, the original when nothing is remembered: the phone shows it as
// the usual key and tempo.
HttpResponse GuestService::usualKeyTempo(const QString& number, const QString& name)
{
    const SongNumber song = SongNumber::fromText(number);
    const QString user = requestedReservation(song, guestName(name)).user;
    const KeyTempo usual = rememberedKeyTempo(m_paths.singerKeys(), user, song).value_or(KeyTempo{});
    return json(200, QJsonObject{{QStringLiteral("key"), usual.key}, {QStringLiteral("tempo"), usual.tempo}});
}

HttpResponse GuestService::login(const HttpRequest& request)
{
    QJsonObject body;
    if (auto refused = admit(request, &body, true))
        return *refused;
    const QString name = guestName(body.value(QStringLiteral("name")).toString());
    if (name.isEmpty()) {
        forgetLastAction(request);
        return failure(400, QStringLiteral("名前を入力してください。"));
    }
    m_desk->submit(Cmd::Login{name});
    return json(200, QJsonObject{{QStringLiteral("ok"), true},
                                 {QStringLiteral("message"), QStringLiteral("%1 さん、ようこそ").arg(name)}});
}

HttpResponse GuestService::cancel(const HttpRequest& request)
{
    QJsonObject body;
    if (auto refused = admit(request, &body, false))
        return *refused;
    const quint64 id = body.value(QStringLiteral("id")).toString().toULongLong();
    const auto room = m_desk->snapshot();
    const auto entry = std::find_if(room->waiting.cbegin(), room->waiting.cend(),
                                    [id](const QueueEntry& e) { return id && e.id == id; });
    const auto gone = [] {
        return failure(404, QStringLiteral("その予約はもう待っていません（演奏中か、取り消し済みです）。"));
    };
    if (entry == room->waiting.cend())
        return gone();
    if (entry->device != deviceOf(request))
        return failure(
            403, QStringLiteral("ほかの人の予約は取り消せません。予約したスマートフォンから取り消してください。"));
    // Answered as cancelled only once the record no longer holds it.
    QString error;
    if (m_record && !m_record->cancel(id, &error)) {
        if (!error.isEmpty())
            return failure(503, QStringLiteral("取り消しを記録できませんでした。お店の人に伝えてください。"));
        return gone();
    }
    m_desk->submit(Cmd::CancelReservation{id});
    return json(
        200, QJsonObject{{QStringLiteral("ok"), true},
                         {QStringLiteral("message"), QStringLiteral("取り消しました: %1").arg(entry->number.text())}});
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
