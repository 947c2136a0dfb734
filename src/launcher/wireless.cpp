#include "launcher/wireless.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/songlist.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace tarv {

QString readRemoteAddress(const AppPaths& paths, QString* error)
{
    const auto bytes = readFileBytes(paths.remoteAddressFile(), 4096);
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

QString songListProblem(const QByteArray& body)
{
    if (body.isEmpty())
        return QStringLiteral("曲リストが空です");
    if (!body.endsWith('\n'))
        return QStringLiteral("最後の行が途中で切れています");
    const SongListLoad list = parseSongList(body);
    if (!list.warnings.isEmpty())
        return QStringLiteral("曲リストとして読めません: ") + list.warnings.constFirst();
    if (list.songs.isEmpty())
        return QStringLiteral("曲リストが空です");
    return {};
}

SongListDownload::SongListDownload(const AppPaths& paths, const QString& address, QObject* parent)
    : QObject(parent), m_paths(paths), m_address(address), m_url(remoteSongListUrl(address))
{
}

SongListDownload::~SongListDownload()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void SongListDownload::start()
{
    if (isRunning())
        return;
    m_error.clear();
    m_cancelled = false;
    m_received = 0;
    const auto endSoon = [this](const QString& error) { QTimer::singleShot(0, this, [this, error] { end(error); }); };
    if (!m_url.isValid() || m_url.host().isEmpty()) {
        endSoon(QStringLiteral("接続先のアドレスが正しくありません: %1").arg(m_address));
        return;
    }
    m_file = std::make_unique<SaveFile>(m_paths.songList());
    if (!m_file->open()) {
        endSoon(QStringLiteral("曲リストを保存できません: ") + m_file->error());
        return;
    }

    m_network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(m_url);
    request.setTransferTimeout(m_stallMs);
    // The list comes from the PC named in db/ip.txt and from nowhere else.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The bytes as stored, not a compressed form that could unpack to any size.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_network->get(request);
    // Qt holds no more than this of the body before it is written out.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &SongListDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &SongListDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &SongListDownload::onFinished);
}

bool SongListDownload::isRunning() const
{
    return !m_reply.isNull();
}

void SongListDownload::cancel()
{
    if (!isRunning())
        return;
    m_cancelled = true;
    fail(QStringLiteral("キャンセルしました"));
}

void SongListDownload::onMetaData()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200) {
        // Not aborted: Qt reports the status itself, and an abort on top makes it complain. The
        // body is dropped as it comes, within the same limit.
        if (m_error.isEmpty())
            m_error =
                QStringLiteral("%1 から曲リストを取得できませんでした (HTTP %2)").arg(m_url.toString()).arg(status);
        return;
    }
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_maxBytes)
        fail(tooLargeText());
}

void SongListDownload::onReadyRead()
{
    if (!m_reply || !m_reply->isOpen())
        return;
    const QByteArray chunk = m_reply->readAll();
    m_received += chunk.size();
    if (m_received > m_maxBytes) {
        fail(tooLargeText());
        return;
    }
    if (!m_error.isEmpty())
        return; // the answer is refused; what still comes is dropped
    if (m_file->device().write(chunk) != chunk.size()) {
        fail(QStringLiteral("曲リストを保存できません: ") + m_file->error());
        return;
    }
    emit progress(m_received);
}

QString SongListDownload::tooLargeText() const
{
    return QStringLiteral("%1 の曲リストが大きすぎます (%2 MB を超えています)")
        .arg(m_url.toString())
        .arg(m_maxBytes / (1024 * 1024));
}

void SongListDownload::fail(const QString& error)
{
    if (m_error.isEmpty())
        m_error = error;
    // Aborted once the reply's own signal has returned; finished() follows. (Qt may still warn of an
    // error reported twice when the server closes the connection at the same moment.)
    if (m_reply) {
        QMetaObject::invokeMethod(
            m_reply.data(),
            [reply = m_reply] {
                if (reply && reply->isRunning())
                    reply->abort();
            },
            Qt::QueuedConnection);
    }
}

void SongListDownload::onFinished()
{
    if (!m_reply)
        return;
    onReadyRead(); // what came with the end
    QString error = m_error;
    if (error.isEmpty() && m_reply->error() != QNetworkReply::NoError)
        error =
            QStringLiteral("%1 から曲リストを取得できませんでした: %2").arg(m_url.toString(), m_reply->errorString());
    if (error.isEmpty()) {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() != m_received)
            error = QStringLiteral("%1 の曲リストが途中で切れています").arg(m_url.toString());
    }
    if (error.isEmpty())
        error = commitBody();
    m_reply->deleteLater();
    m_reply = nullptr;
    end(error);
}

QString SongListDownload::commitBody()
{
    QFile received(m_file->temporaryPath());
    if (!received.open(QIODevice::ReadOnly))
        return QStringLiteral("受信した曲リストを読み返せません: ") + received.errorString();
    if (const QString problem = songListProblem(received.readAll()); !problem.isEmpty())
        return QStringLiteral("%1 から受信したものは曲リストではありません: %2").arg(m_url.toString(), problem);
    if (!m_file->commit())
        return QStringLiteral("曲リストを保存できません: ") + m_file->error();
    return {};
}

void SongListDownload::end(const QString& error)
{
    m_file.reset(); // an uncommitted list goes with its temporary file
    // The manager goes once the reply that called here has returned.
    if (m_network)
        m_network.release()->deleteLater();
    emit finished(error);
}

} // namespace tarv
