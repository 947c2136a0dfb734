#pragma once

#include <QDir>
#include <QString>

namespace tarv {

// Files and folders under the application folder (the executable's folder unless --app-dir names another).
class AppPaths
{
public:
    explicit AppPaths(const QString& root) : m_root(QDir(root).absolutePath()) {}

    QString root() const { return m_root; }
    QString file(const QString& relative) const { return QDir(m_root).filePath(relative); }

    QString dbDir() const { return file(QStringLiteral("db")); }
    QString songList() const { return file(QStringLiteral("db/musiclist.txt")); }
    QString backupDir() const { return file(QStringLiteral("db/bu")); }
    QString webRootFile() const { return file(QStringLiteral("db/path.txt")); }
    QString remoteAddressFile() const { return file(QStringLiteral("db/ip.txt")); }
    QString queueRecord() const { return file(QStringLiteral("db/queue.txt")); }
    QString singerKeys() const { return file(QStringLiteral("db/singerkeys.txt")); }
    QString hostPin() const { return file(QStringLiteral("db/hostpin.txt")); }
    QString queueOrderFile() const { return file(QStringLiteral("db/queueorder.txt")); }
    QString closingTimeFile() const { return file(QStringLiteral("db/closing.txt")); }
    QString webSecret() const { return file(QStringLiteral("db/websecret.txt")); } // signs the phones' cookies
    QString srcDir() const { return file(QStringLiteral("src")); }

    // The video of a song or time signal: src/ + the number text, no extension.
    QString video(const QString& numberText) const { return srcDir() + u'/' + numberText; }
    QString introVideo() const { return video(QStringLiteral("000000")); }

private:
    QString m_root;
};

} // namespace tarv
