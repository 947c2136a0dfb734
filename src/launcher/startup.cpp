#include "launcher/startup.h"

#include "common/savefile.h"
#include "common/webroot.h"
#include "library/songlist.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>

namespace tarv {

Q_LOGGING_CATEGORY(lcStartup, "tarv.launcher")

InstanceGuard::InstanceGuard(const AppPaths& paths)
{
    // The folder's real path, so that a second copy started through a symbolic link is refused too.
    const QString canonical = QFileInfo(paths.root()).canonicalFilePath();
    const QString folder = canonical.isEmpty() ? paths.root() : canonical;
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha1).toHex();
    m_path = QDir(QDir::tempPath()).filePath(QStringLiteral("tarv-%1.lock").arg(QString::fromLatin1(key.left(16))));
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // a lock left by a crashed copy is recognised by its dead process
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::acquire()
{
    return m_lock->tryLock(0);
}

QString InstanceGuard::lockPath() const
{
    return m_path;
}

QString startupBackup(const AppPaths& paths, const QDateTime& now, QString* error)
{
    if (!QFileInfo(paths.songList()).isFile() || !QFileInfo(paths.backupDir()).isDir())
        return {};
    if (const QString reason = backupSongList(paths, now); !reason.isEmpty()) {
        // The start goes on without a backup, but not without saying so.
        std::fprintf(stderr, "tarv: no backup of the song list was made: %s\n", qPrintable(reason));
        if (error)
            *error = reason;
        return {};
    }
    return QDir(paths.backupDir()).filePath(backupFileName(now));
}

QStringList removeLeftoverTemporaries(const AppPaths& paths)
{
    QStringList folders{paths.dbDir(), paths.backupDir(), paths.srcDir()};
    if (const auto root = readWebRoot(paths))
        folders << QFileInfo(exchangeFile(*root, QStringLiteral("x"))).absolutePath();
    QStringList removed;
    for (const QString& folder : folders) {
        for (const QString& name : removeStaleSaveTemporaries(folder)) {
            removed << QDir(folder).filePath(name);
            qCInfo(lcStartup) << "removed a temporary file left by an interrupted save:" << removed.constLast();
        }
    }
    return removed;
}

QString informationText(const QString& version, const QString& executablePath, const QString& songListPath,
                        const QLocale& locale)
{
    const auto modified = [&locale](const QString& path) {
        const QFileInfo info(path);
        return info.exists() ? locale.toString(info.lastModified(), QLocale::ShortFormat) : QString();
    };
    return QStringList{
        QStringLiteral("System Version:") + version,
        QString(25, QChar(0xFFE3)),
        QStringLiteral("Softwere Last UpDate:") + modified(executablePath),
        QStringLiteral("DB Last UpDate:") + modified(songListPath),
    }
        .join(QStringLiteral("\r\n"));
}

QString versionText(const QString& version)
{
    return QStringList{
        QStringLiteral("Application Name : Tarv"), QStringLiteral("System Version : ") + version, QString(), MakerPage,
        QStringLiteral("アクセスしますか？"),
    }
        .join(QStringLiteral("\r\n"));
}

} // namespace tarv
