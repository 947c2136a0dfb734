#include "web/guestservice.h"

#include "common/songnumber.h"

#include "common/cp932.h"
#include "search/songcatalog.h"
#include "stage/queuerecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QUrl>
#include <QUrlQuery>

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

HttpResponse page()
{
    static const std::string html = [] {
        QFile file(QStringLiteral(":/tarv/web/guestpage.html"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    if (html.empty())
        return {500, "text/plain; charset=utf-8", "page missing", {}};
    return {200, "text/html; charset=utf-8", html, {}};
}

// Records of the exchange files: "field$field$...$ENT". Titles may hold "$", names never do, so the
// first field is the number, the last the name (when asked for), and the rest the title.
struct Record
{
    QString number;
    QString title;
    QString user;
};

std::optional<Record> parseRecord(QStringView line, bool withUser)
{
    if (!line.endsWith(u"$ENT"))
        return std::nullopt;
    line.chop(4);
    const qsizetype first = line.indexOf(u'$');
    if (first < 0)
        return std::nullopt;
    Record record{line.left(first).toString(), line.mid(first + 1).toString(), {}};
    if (withUser) {
        const qsizetype last = record.title.lastIndexOf(u'$');
        if (last < 0)
            return std::nullopt;
        record.user = record.title.mid(last + 1);
        record.title.truncate(last);
    }
    return record;
}

QList<Record> readRecords(const QString& file, bool withUser)
{
    QList<Record> records;
    QString error; // a file the guests' pages cannot read is shown to them as empty
    const auto bytes = readExchangeFile(file, MaxRecordFileBytes, &error);
    if (!bytes || bytes->size() > MaxRecordFileBytes)
        return records;
    const QString text = decodeCp932(*bytes);
    for (QStringView line : QStringView(text).split(u"\r\n", Qt::SkipEmptyParts)) {
        if (auto record = parseRecord(line, withUser))
            records.append(*record);
    }
    return records;
}

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

} // namespace

QString guestName(QStringView name)
{
    QString out;
    const QString trimmed = name.trimmed().toString();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const qsizetype length = (trimmed[i].isHighSurrogate() && i + 1 < trimmed.size()) ? 2 : 1;
        const QStringView one = QStringView(trimmed).mid(i, length);
        out += encodableInCp932(one) ? one.toString() : QStringLiteral("?");
        i += length - 1;
    }
    return storedUserName(out);
}

GuestService::GuestService(const AppPaths& paths, std::shared_ptr<const std::atomic<bool>> karaokeRunning,
                           GuestServiceOptions options)
    : m_paths(paths), m_karaokeRunning(std::move(karaokeRunning)), m_options(options),
      m_songs(std::make_unique<SongCatalog>(paths))
{
}

GuestService::~GuestService() = default;

HttpResponse GuestService::handle(const HttpRequest& request)
{
    const QUrl url(QString::fromUtf8(request.target.data(), qsizetype(request.target.size())), QUrl::StrictMode);
    const QString path = url.path(QUrl::FullyEncoded);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (path == u"/") {
        if (!get)
            return {405, "text/plain; charset=utf-8", "method not allowed", "GET"};
        return page();
    }
    if (path == u"/api/songs" || path == u"/api/queue") {
        if (!get)
            return {405, "text/plain; charset=utf-8", "method not allowed", "GET"};
        if (path == u"/api/queue")
            return queue();
        const QUrlQuery query(url);
        const int page = query.queryItemValue(QStringLiteral("page")).toInt();
        return songs(query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded), page);
    }
    if (path == u"/api/reserve" || path == u"/api/login") {
        if (!post)
            return {405, "text/plain; charset=utf-8", "method not allowed", "POST"};
        return path == u"/api/reserve" ? reserve(request) : login(request);
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

HttpResponse GuestService::queue()
{
    QJsonObject out{{QStringLiteral("playing"), QJsonValue::Null}, {QStringLiteral("waiting"), QJsonArray()}};
    const auto queueFile = existingExchangeFile(m_paths, ExchangeFile::Queue);
    if (!queueFile)
        return json(200, out);
    const QList<Record> records = readRecords(*queueFile, true);
    QJsonArray waiting;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QJsonObject entry{{QStringLiteral("number"), records[i].number},
                                {QStringLiteral("title"), records[i].title},
                                {QStringLiteral("user"), records[i].user}};
        if (i == 0)
            out.insert(QStringLiteral("playing"), entry);
        else
            waiting.append(entry);
    }
    out.insert(QStringLiteral("waiting"), waiting);
    return json(200, out);
}

std::optional<HttpResponse> GuestService::admit(const HttpRequest& request, QJsonObject* body)
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
    if (!existingExchangeFile(m_paths, ExchangeFile::Request))
        return failure(503, NoWebRootText);
    if (m_pending.size() >= m_options.maxPending)
        return failure(503, QStringLiteral("混み合っています。少し待ってからもう一度どうぞ。"));
    const QString client = QString::fromStdString(request.client);
    auto& recent = m_recent[client];
    const auto now = SteadyClock::now();
    while (!recent.empty() && now - recent.front() >= std::chrono::minutes(1))
        recent.pop_front();
    if (recent.size() >= std::size_t(m_options.reservationsPerMinute))
        return failure(429, QStringLiteral("予約が続いています。1分ほど待ってからどうぞ。"));
    // Forget clients that have been quiet for a minute, so the table stays small.
    if (m_recent.size() > 1000) {
        for (auto it = m_recent.begin(); it != m_recent.end();)
            it = (it->empty() || now - it->back() >= std::chrono::minutes(1)) ? m_recent.erase(it) : std::next(it);
    }
    m_recent[client].push_back(now);
    return std::nullopt;
}

HttpResponse GuestService::reserve(const HttpRequest& request)
{
    QJsonObject body;
    if (auto refused = admit(request, &body))
        return *refused;
    const SongNumber number = reservedNumber(body.value(QStringLiteral("number")));
    m_songs->refresh();
    const auto index = m_songs->index();
    const CatalogSong* song = number.isSongNumber() ? index->find(number.value()) : nullptr;
    const auto guestRequest =
        song ? GuestRequest::song(number.value(), guestName(body.value(QStringLiteral("name")).toString()))
             : std::nullopt;
    auto& recent = m_recent[QString::fromStdString(request.client)];
    if (!guestRequest) {
        recent.pop_back(); // a mistyped number does not count
        return failure(404, QStringLiteral("その曲番号はありません。"));
    }
    if (m_record) {
        // Recorded as the stage will read it back from the request file.
        const WebRequest sent = *parseRequest(guestRequest->fileContent());
        if (const QString error = m_record->accept(requestedReservation(sent.code, sent.user)); !error.isEmpty()) {
            recent.pop_back();
            return failure(503, QStringLiteral("予約を記録できませんでした。お店の人に伝えてください。"));
        }
    }
    enqueue(*guestRequest);
    return json(200, QJsonObject{{QStringLiteral("ok"), true},
                                 {QStringLiteral("message"),
                                  QStringLiteral("予約しました: %1 %2").arg(number.text(), song->title)}});
}

HttpResponse GuestService::login(const HttpRequest& request)
{
    QJsonObject body;
    if (auto refused = admit(request, &body))
        return *refused;
    const QString name = guestName(body.value(QStringLiteral("name")).toString());
    if (name.isEmpty()) {
        m_recent[QString::fromStdString(request.client)].pop_back();
        return failure(400, QStringLiteral("名前を入力してください。"));
    }
    enqueue(GuestRequest::login(name));
    return json(200, QJsonObject{{QStringLiteral("ok"), true},
                                 {QStringLiteral("message"), QStringLiteral("%1 さん、ようこそ").arg(name)}});
}

void GuestService::enqueue(GuestRequest request)
{
    m_pending.push_back(std::move(request));
    pump();
}

void GuestService::pump()
{
    if (m_record)
        m_record->syncIfDue();
    if (!m_karaokeRunning->load()) {
        m_pending.clear();
        return;
    }
    if (m_pending.empty())
        return;
    const auto requestFile = existingExchangeFile(m_paths, ExchangeFile::Request);
    if (!requestFile)
        return;
    QString error;
    switch (writeGuestRequest(*requestFile, m_pending.front(), &error)) {
    case GuestWrite::Written:
        m_pending.pop_front();
        break;
    case GuestWrite::Busy:
        break;
    case GuestWrite::Failed:
        qCWarning(lcGuests).noquote() << "request not written, kept for the next try:" << error;
        break;
    }
}

} // namespace tarv
