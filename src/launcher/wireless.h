#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace tarv {

class SaveFile;

// The remote PC's address: the first line of db/ip.txt, without blanks around it; empty (with the
// reason in *error) when the file is missing or its first line is empty.
QString readRemoteAddress(const AppPaths& paths, QString* error);

// "http://" + address + "/db/musiclist.txt".
QUrl remoteSongListUrl(const QString& address);

// Why received bytes are not a whole song list, or an empty text when they are: an empty body, a
// last line without its line end (a body cut off), or any line the song list reader would skip
// (an error page, say).
QString songListProblem(const QByteArray& body);

// Fetches the remote PC's song list into db/musiclist.txt, on the event loop (no call waits).
//
// The body is streamed into the save helper's temporary file, never more than maxBytes of it, and
// the list is replaced by exactly the bytes received only when the answer is complete (status 200,
// as long as its Content-Length says) and songListProblem() finds nothing. On any failure, and on
// cancel(), the local list stays as it was and finished() gives the reason.
class SongListDownload : public QObject
{
    Q_OBJECT

public:
    // A 100,001-song list is about 4 MB.
    static constexpr qint64 DefaultMaxBytes = 16 * 1024 * 1024;

    SongListDownload(const AppPaths& paths, const QString& address, QObject* parent = nullptr);
    ~SongListDownload() override;

    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    // How long the answer may stall before the download gives up.
    void setStallTimeout(int ms) { m_stallMs = ms; }

    void start();
    void cancel();

    bool isRunning() const;
    bool wasCancelled() const { return m_cancelled; }
    qint64 bytesReceived() const { return m_received; }

signals:
    // Once per start: an empty text on success, otherwise the reason.
    void finished(const QString& error);
    void progress(qint64 bytesReceived);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void fail(const QString& error);
    void end(const QString& error);
    QString commitBody();
    QString tooLargeText() const;

    AppPaths m_paths;
    QString m_address;
    QUrl m_url;
    qint64 m_maxBytes = DefaultMaxBytes;
    int m_stallMs = 15000;

    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<SaveFile> m_file;
    qint64 m_received = 0;
    QString m_error; // the first failure, set before the reply is aborted
    bool m_cancelled = false;
};

} // namespace tarv
