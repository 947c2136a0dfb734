#include "library/exports.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/webroot.h"
#include "exchange/exchange.h"

#include <QFileInfo>

#include <algorithm>
#include <charconv>

namespace tarv {
namespace {

void appendHtmlEscaped(QByteArray& out, QByteArrayView raw)
{
    // In CP932 the bytes of < > & never occur inside a double-byte character, so the raw title can
    // be escaped byte by byte and keeps bytes that do not decode.
    for (char c : raw) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out += c;
        }
    }
}

QByteArray line(const QString& text)
{
    return encodeCp932(text) + "\r\n";
}

std::optional<SongTable> orderedSongList(const AppPaths& paths, QString* error)
{
    QString readError;
    const auto list = sharedSongTable(paths.songList(), &readError);
    if (!list) {
        *error = QStringLiteral("曲目リストを読み込めません: ") + readError;
        return std::nullopt;
    }
    SongTable ordered = *list;
    ordered.order();
    return ordered;
}

QByteArray songBook(const SongTable& ordered, const QString& lastUpdate, const QString& systemVersion)
{
    QByteArray out;
    out.reserve(1024 + ordered.size() * 48);
    out += line(QStringLiteral("<html><head><title>Tarv楽曲DB - [DBLastUpDate:") + lastUpdate +
                QStringLiteral("] [SystemVersion:") + systemVersion +
                QStringLiteral("]</title></head><body><font style=\"font-family:ＭＳ ゴシック\">"));
    static const QByteArray help =
        line(QStringLiteral("楽曲予約：[nnnnnn]→[送信]　※「-」は入力不要<br>")) +
        line(QStringLiteral("予約確認：[送信]を押すたびに切り替え<br>")) +
        line(QStringLiteral("予約取消：予約確認画面で[99]→[送信]<br>")) +
        line(QStringLiteral("予約割込：予約画面で[11]→[送信]、予約確認画面で[11]→[送信]<br>")) +
        line(QStringLiteral("再生終了：[44]→[送信]→確認画面で[44]→[送信]<br>")) +
        line(QStringLiteral("歌い直し：[55]→[送信]→確認画面で[55]→[送信]<br>")) +
        line(QStringLiteral("音量調整：[1]~[10]→[送信]<hr>"));
    out += help;
    out += line(QStringLiteral("曲 番 号| 楽 曲 名 (") + QString::number(ordered.size()) + QStringLiteral(")<br>"));

    const QByteArray rule = QByteArray(8, '-') + '+' + QByteArray(66, '-') + "<br>\r\n";
    char group[2] = {'0', '0'};
    qsizetype groupSize = 2;
    for (const SongTable::Entry& entry : ordered.entries()) {
        char buffer[24];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, entry.number);
        const QByteArrayView digits(buffer, end - buffer);
        const QByteArrayView lead = digits.first(std::min<qsizetype>(2, digits.size()));
        if (lead != QByteArrayView(group, groupSize)) {
            out += rule;
            std::copy(lead.begin(), lead.end(), group);
            groupSize = lead.size();
        }
        out += lead;
        out += '-';
        out += digits.last(std::min<qsizetype>(4, digits.size()));
        out += " | ";
        appendHtmlEscaped(out, ordered.rawTitle(entry));
        out += "<br>\r\n";
    }
    out += "</font></body></html>\r\n";
    return out;
}

QByteArray webSongFile(const SongTable& ordered)
{
    QByteArray out;
    qsizetype size = 0;
    for (const SongTable::Entry& entry : ordered.entries())
        size += entry.titleSize + 28;
    out.reserve(size);
    for (const SongTable::Entry& entry : ordered.entries()) {
        char buffer[24];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, entry.number);
        out += exchangeRecord({QByteArrayView(buffer, end - buffer), ordered.rawTitle(entry)});
    }
    return out;
}

} // namespace

QString generalDateText(const QDateTime& when)
{
    if (when.time() == QTime(0, 0))
        return when.toString(QStringLiteral("yyyy/MM/dd"));
    return when.toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

QByteArray songBookHtml(const QList<Song>& ordered, const QString& lastUpdate, const QString& systemVersion)
{
    return songBook(SongTable::fromSongs(ordered), lastUpdate, systemVersion);
}

QByteArray webSongFileContent(const QList<Song>& ordered)
{
    return webSongFile(SongTable::fromSongs(ordered));
}

ExportResult exportSongBook(const AppPaths& paths, const QString& systemVersion)
{
    QString error;
    const auto songs = orderedSongList(paths, &error);
    if (!songs)
        return {ExportResult::Status::Failed, error};
    const QFileInfo list(paths.songList());
    const QString lastUpdate = list.exists() ? generalDateText(list.lastModified()) : QString();
    const QString path = paths.file(QStringLiteral("db/db.html"));
    if (!QFileInfo(paths.dbDir()).isDir())
        return {ExportResult::Status::Failed, QStringLiteral("フォルダ %1 がありません").arg(paths.dbDir())};
    error = saveFile(path, songBook(*songs, lastUpdate, systemVersion));
    if (!error.isEmpty())
        return {ExportResult::Status::Failed, error};
    return {};
}

ExportResult exportWebSongFile(const AppPaths& paths)
{
    const auto file = existingExchangeFile(paths, ExchangeFile::Songs);
    if (!file)
        return {ExportResult::Status::PathError, WebRootErrorText};
    QString error;
    const auto songs = orderedSongList(paths, &error);
    if (!songs)
        return {ExportResult::Status::Failed, error};
    error = writeExchangeFile(*file, webSongFile(*songs));
    if (!error.isEmpty())
        return {ExportResult::Status::Failed, error};
    return {};
}

} // namespace tarv
