#include "web/hostservice.h"

#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/turnsettings.h"
#include "web/hostaccess.h"
#include "web/webreplies.h"

#include <QFile>
#include <QJsonArray>
#include <QLoggingCategory>

#include <cmath>

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcHost)

namespace {

const QString GoneText = QStringLiteral("その予約はもう待っていません（演奏中か、取り消し済みです）。");

// A whole number in a JSON value (a number, or digits in a string); none for anything else.
std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        return ok ? std::optional(number) : std::nullopt;
    }
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || !std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > 1e15)
        return std::nullopt;
    return qint64(number);
}

HttpResponse hostPage()
{
    static const std::string html = [] {
        QFile file(QStringLiteral(":/tarv/web/hostpage.html"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    if (html.empty())
        return {500, "text/plain; charset=utf-8", "page missing", {}};
    return {200, "text/html; charset=utf-8", html, {}};
}

} // namespace

HostService::HostService(const AppPaths& paths, HostAccess& access,
                         std::shared_ptr<const std::atomic<bool>> karaokeRunning)
    : m_paths(paths), m_access(access), m_karaokeRunning(std::move(karaokeRunning))
{
}

std::optional<HttpResponse> HostService::admit(const HttpRequest& request, QJsonObject* body) const
{
    if (!sameOrigin(request))
        return failureReply(403, QStringLiteral("別のサイトからの操作は受け付けません。"));
    if (!QString::fromStdString(request.contentType).startsWith(u"application/json", Qt::CaseInsensitive))
        return failureReply(415, QStringLiteral("JSON で送ってください。"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failureReply(400, QStringLiteral("要求を読めませんでした。"));
    *body = document.object();
    return std::nullopt;
}

HttpResponse HostService::handle(const HttpRequest& request, const Route& route, const QString& device)
{
    if (route.path == "/host")
        return hostPage();
    if (route.path == "/api/host/queue")
        return queue();
    QJsonObject body;
    if (auto refused = admit(request, &body))
        return *refused;
    if (route.path == "/api/host/login")
        return login(request, device);
    if (route.path == "/api/host/settings")
        return settings(body);
    if (!m_karaokeRunning->load() || !m_desk)
        return failureReply(409, QStringLiteral("カラオケが始まっていません。"));
    const std::optional<qint64> id = wholeNumber(body.value(QStringLiteral("id")));
    if (route.path == "/api/host/stop") {
        m_desk->submit(Cmd::Stop{});
        return doneReply(QStringLiteral("演奏を中止しました"));
    }
    if (route.path == "/api/host/skip") {
        m_desk->submit(Cmd::Skip{});
        return doneReply(QStringLiteral("次の曲へ進みました"));
    }
    if (route.path == "/api/host/pause") {
        m_desk->submit(Cmd::Pause{});
        return doneReply(QStringLiteral("一時停止／再開しました"));
    }
    if (route.path == "/api/host/again") {
        m_desk->submit(Cmd::SingAgain{});
        return doneReply(QStringLiteral("最初から歌い直します"));
    }
    if (route.path == "/api/host/volume") {
        const auto level = wholeNumber(body.value(QStringLiteral("level")));
        if (!level || *level < 1 || *level > 10)
            return failureReply(400, QStringLiteral("音量は 1 から 10 で選んでください。"));
        m_desk->submit(Cmd::Volume{double(*level)});
        return doneReply(QStringLiteral("音量を %1 にしました").arg(*level));
    }
    if (!id || *id <= 0)
        return failureReply(400, QStringLiteral("どの予約かわかりませんでした。"));
    if (route.path == "/api/host/move") {
        const auto to = wholeNumber(body.value(QStringLiteral("to")));
        if (!to || *to < 1 || *to > 100000)
            return failureReply(400, QStringLiteral("移す先の順番がわかりませんでした。"));
        const auto room = m_desk->snapshot();
        if (std::none_of(room->waiting.cbegin(), room->waiting.cend(),
                         [&id](const QueueEntry& e) { return e.id == quint64(*id); }))
            return failureReply(404, GoneText);
        m_desk->submit(Cmd::Move{quint64(*id), int(*to)});
        return doneReply(QStringLiteral("%1 番目に移しました").arg(*to));
    }
    if (route.path == "/api/host/remove")
        return remove(quint64(*id));
    if (route.path == "/api/host/block")
        return block(quint64(*id));
    return {404, "text/plain; charset=utf-8", "not found", {}};
}

HttpResponse HostService::login(const HttpRequest& request, const QString& device)
{
    QJsonObject body;
    if (auto refused = admit(request, &body))
        return *refused;
    const HostAccess::Login tried =
        m_access.login(body.value(QStringLiteral("pin")).toString(), device, QString::fromStdString(request.client));
    switch (tried.result) {
    case HostAccess::Login::Locked: {
        HttpResponse refused = failureReply(
            429, QStringLiteral("PIN の入力に何度も失敗したため、%1秒ほど待ってからどうぞ。").arg(tried.retryAfter));
        refused.retryAfter = tried.retryAfter;
        return refused;
    }
    case HostAccess::Login::Wrong:
        return failureReply(403, QStringLiteral("PIN が違います。"));
    case HostAccess::Login::Granted:
        break;
    }
    HttpResponse granted = doneReply(QStringLiteral("ホストとしてログインしました"));
    // Until karaoke mode ends or the PIN changes; the browser forgets it when it closes.
    granted.setCookie =
        std::string(HostCookie) + '=' + tried.cookie.toStdString() + "; Path=/; HttpOnly; SameSite=Strict";
    return granted;
}

HttpResponse HostService::queue() const
{
    static const auto none = std::make_shared<const QueueSnapshot>();
    const auto room = m_desk ? m_desk->snapshot() : none;
    // Each song with its singer; a blocked phone's songs are marked. Device ids never leave the server.
    const auto shown = [this](const QueueEntry& entry) {
        QJsonObject out{{QStringLiteral("number"), entry.number.text()},
                        {QStringLiteral("title"), entry.title},
                        {QStringLiteral("user"), entry.user},
                        {QStringLiteral("phone"), !entry.device.isEmpty()},
                        {QStringLiteral("blocked"), !entry.device.isEmpty() && m_access.isBlocked(entry.device)}};
        if (entry.id != 0)
            out.insert(QStringLiteral("id"), QString::number(entry.id));
        return out;
    };
    QJsonArray waiting;
    for (const QueueEntry& entry : room->waiting)
        waiting.append(shown(entry));
    for (const QueueEntry& entry : room->accepted) {
        QJsonObject accepted = shown(entry);
        accepted.insert(QStringLiteral("accepted"), true);
        waiting.append(accepted);
    }
    QJsonObject out = settingsShown();
    out.insert(QStringLiteral("version"), QString::number(room->version));
    out.insert(QStringLiteral("playing"), room->playing ? QJsonValue(shown(*room->playing)) : QJsonValue());
    out.insert(QStringLiteral("waiting"), waiting);
    return jsonReply(200, out);
}

HttpResponse HostService::remove(quint64 id)
{
    const auto room = m_desk->snapshot();
    if (std::none_of(room->waiting.cbegin(), room->waiting.cend(), [id](const QueueEntry& e) { return e.id == id; }))
        return failureReply(404, GoneText);
    // As a guest's cancel: out of the record before it is answered as done.
    QString error;
    if (m_record && !m_record->cancel(id, &error)) {
        if (!error.isEmpty())
            return failureReply(503, QStringLiteral("取り消しを記録できませんでした。"));
        return failureReply(404, GoneText);
    }
    m_desk->submit(Cmd::CancelReservation{id});
    return doneReply(QStringLiteral("取り消しました"));
}

HttpResponse HostService::block(quint64 id)
{
    const auto room = m_desk->snapshot();
    for (const QList<QueueEntry>* part : {&room->waiting, &room->accepted}) {
        for (const QueueEntry& entry : *part) {
            if (entry.id != id)
                continue;
            if (entry.device.isEmpty())
                return failureReply(
                    400,
                    QStringLiteral("キーパッドやリクエストファイルの予約です。止めるスマートフォンがありません。"));
            m_access.block(entry.device);
            qCInfo(lcHost).noquote() << "the host stopped the phone of reservation" << id;
            return doneReply(QStringLiteral("このスマートフォンからの予約を止めました"));
        }
    }
    return failureReply(404, GoneText);
}

QJsonObject HostService::settingsShown() const
{
    const std::optional<QTime> closing = readClosingTime(m_paths);
    return {{QStringLiteral("order"),
             readQueueOrder(m_paths) == QueueOrder::Rotation ? QStringLiteral("rotation") : QStringLiteral("fifo")},
            {QStringLiteral("closing"),
             closing ? QJsonValue(closing->toString(QStringLiteral("HH:mm"))) : QJsonValue(QJsonValue::Null)}};
}

// {"order": "fifo" | "rotation", "closing": "hh:mm" | null}, each optional: what is given is saved, and
// the answer shows both as they stand. Nothing is saved unless all that is given is right.
HttpResponse HostService::settings(const QJsonObject& body)
{
    std::optional<QueueOrder> order;
    if (const QJsonValue value = body.value(QStringLiteral("order")); !value.isUndefined()) {
        if (value == QStringLiteral("fifo"))
            order = QueueOrder::Fifo;
        else if (value == QStringLiteral("rotation"))
            order = QueueOrder::Rotation;
        else
            return failureReply(400, QStringLiteral("予約の順番は「予約順」か「交代制」で選んでください。"));
    }
    std::optional<std::optional<QTime>> closing;
    if (const QJsonValue value = body.value(QStringLiteral("closing")); !value.isUndefined()) {
        const QString text = value.toString();
        if (value.isNull() || text.isEmpty() || text == u"none")
            closing = std::optional<QTime>();
        else if (const auto time = closingTimeFromContent(text.toLatin1()); time && text.size() <= 5)
            closing = time;
        else
            return failureReply(400, QStringLiteral("閉店時刻は 23:30 のように入力してください。"));
    }
    QStringList said;
    if (order) {
        if (const QString error = saveQueueOrder(m_paths, *order); !error.isEmpty())
            return failureReply(503, QStringLiteral("予約の順番を保存できません。") + error);
        said.append(*order == QueueOrder::Rotation ? QStringLiteral("予約の順番を交代制にしました")
                                                   : QStringLiteral("予約の順番を予約順にしました"));
    }
    if (closing) {
        if (const QString error = saveClosingTime(m_paths, *closing); !error.isEmpty())
            return failureReply(503, QStringLiteral("閉店時刻を保存できません。") + error);
        said.append(
            *closing
                ? QStringLiteral("閉店時刻を %1 にしました").arg(closing->value().toString(QStringLiteral("HH:mm")))
                : QStringLiteral("閉店時刻をなしにしました"));
    }
    // The session reads them again at its next look at the desk, within a second.
    if (m_desk && !said.isEmpty())
        m_desk->settingsChanged();
    QJsonObject out = settingsShown();
    out.insert(QStringLiteral("ok"), true);
    out.insert(QStringLiteral("message"), said.isEmpty() ? QStringLiteral("変更はありません") : said.join(u'。'));
    qCInfo(lcHost).noquote() << "settings from the host's phone:" << out.value(QStringLiteral("message")).toString();
    return jsonReply(200, out);
}

} // namespace tarv
