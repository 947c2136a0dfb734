#include "launcher/wireless.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace tarv {

QString readRemoteAddress(const AppPaths& paths, QString* error)
{
    const auto bytes = readFileBytes(paths.remoteAddressFile());
    if (!bytes) {
        *error = QStringLiteral("%1 がありません").arg(paths.remoteAddressFile());
        return {};
    }
    const QList<QByteArray> lines = splitLines(*bytes);
    const QString address = lines.isEmpty() ? QString() : decodeCp932(lines.constFirst()).trimmed();
    if (address.isEmpty())
        *error = QStringLiteral("%1 に接続先のアドレスがありません").arg(paths.remoteAddressFile());
    return address;
}

QUrl remoteSongListUrl(const QString& address)
{
    return QUrl(QStringLiteral("http://") + address + QStringLiteral("/db/musiclist.txt"));
}

QString downloadSongList(const AppPaths& paths, const QString& address, int timeoutMs)
{
    const QUrl url = remoteSongListUrl(address);
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("接続先のアドレスが正しくありません: %1").arg(address);

    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs + 1000, &loop, [reply] { reply->abort(); });
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    const QByteArray body = reply->readAll();
    const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString error;
    if (reply->error() != QNetworkReply::NoError)
        error = QStringLiteral("%1 から曲リストを取得できませんでした: %2").arg(url.toString(), reply->errorString());
    else if (status != 200)
        error = QStringLiteral("%1 から曲リストを取得できませんでした (HTTP %2)").arg(url.toString()).arg(status);
    else if (body.isEmpty())
        error = QStringLiteral("%1 の曲リストが空です").arg(url.toString());
    reply->deleteLater();
    if (!error.isEmpty())
        return error;
    return saveFile(paths.songList(), body);
}

} // namespace tarv
