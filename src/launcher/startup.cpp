#include "launcher/startup.h"

#include "common/filetransaction.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "common/webroot.h"
#include "exchange/exchange.h"
#include "library/library.h"
#include "library/recovery.h"
#include "library/songlist.h"
#include "timesignal/signalinstallation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tarv {

Q_LOGGING_CATEGORY(lcLauncher, "tarv.launcher")

namespace {

// db/ is put together under this name and renamed last, so that an interrupted first start leaves no
// half-made db/ that the next start would have to keep as a library.
const QString StagingFolder = QStringLiteral(".tarv-first-start");

// Makes the empty library; returns the failure, empty on success. *webRootError is the reason db/path.txt
// could not be written (a web root with a comma or a character without CP932 form), which leaves the web
// root to be set in the library window.
QString createLibrary(const AppPaths& paths, QString* webRootError)
{
    const auto cannotMake = [](const QString& folder) {
        return QStringLiteral("フォルダ %1 を作成できません。").arg(QDir::toNativeSeparators(folder));
    };
    const QString webRoot = paths.file(QStringLiteral("www"));
    const AppPaths staging(paths.file(StagingFolder));
    for (const QString& folder : {webRoot + QStringLiteral("/cgi-bin/tarv"), staging.backupDir(), paths.srcDir()}) {
        if (!QDir().mkpath(folder))
            return cannotMake(folder);
    }
    for (const char* name : {"db/musiclist.txt", "db/ziholist.txt", "db/zihotrue.txt", "db/zihotime.txt"}) {
        if (const QString error = saveFile(staging.file(QLatin1String(name)), QByteArray()); !error.isEmpty())
            return error;
    }
    *webRootError = saveWebRoot(staging, webRoot);
    if (!QDir().rename(staging.dbDir(), paths.dbDir()))
        return cannotMake(paths.dbDir());
    QDir().rmdir(staging.root());
    return {};
}

} // namespace

QString applicationFolder(const QStringList& arguments, const QString& executableDir, const QString& dataDir)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QStringLiteral("--app-dir") && i + 1 < arguments.size())
            return arguments[i + 1];
        if (arg.startsWith(QStringLiteral("--app-dir=")))
            return arg.mid(10);
    }
    // Even where it could (root, a prefix in the home folder), an installed copy keeps no data beside
    // the other programs of its bin/ folder.
    const bool installed =
        QFileInfo::exists(executableDir + QStringLiteral("/../share/applications/" TARV_APP_ID ".desktop"));
    if (QFileInfo(executableDir).isWritable() && !installed)
        return executableDir;
    return dataDir;
}

bool holdsLibrary(const AppPaths& paths)
{
    if (nameTaken(paths.dbDir()))
        return true;
    // An empty src/ alone is what an interrupted first start leaves, and holds nothing to keep.
    const QFileInfo src(paths.srcDir());
    return nameTaken(paths.srcDir()) &&
           (src.isSymLink() || !src.isDir() ||
            !QDir(paths.srcDir()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

QString prepareApplicationFolder(const AppPaths& paths)
{
    if (holdsLibrary(paths))
        return {};
    QString webRootError;
    if (const QString error = createLibrary(paths, &webRootError); !error.isEmpty()) {
        qCWarning(lcLauncher).noquote() << "no library could be made in" << paths.root() << ":" << error;
        return QStringLiteral("ライブラリを作成できませんでした：\n%1").arg(error);
    }
    qCInfo(lcLauncher).noquote() << "made an empty library in" << paths.root();
    QString notice = QStringLiteral("空のライブラリを作成しました：%1\n動画は「オプション」→「DB操作」で登録できます。")
                         .arg(QDir::toNativeSeparators(paths.root()));
    if (!webRootError.isEmpty())
        notice += QStringLiteral("\nWebルートは「DB操作」で設定してください：") +
                  webRootError.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return notice;
}

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
        qCWarning(lcLauncher).noquote() << "no backup of the song list was made:" << reason;
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
        folders << QFileInfo(exchangeFile(*root, ExchangeFile::Queue)).absolutePath();
    QStringList removed;
    for (const QString& folder : folders) {
        for (const QString& name : removeStaleSaveTemporaries(folder)) {
            removed << QDir(folder).filePath(name);
            qCInfo(lcLauncher) << "removed a temporary file left by an interrupted save:" << removed.constLast();
        }
    }
    return removed;
}

QString finishInterruptedSaves(const AppPaths& paths, QStringList* finished)
{
    QString error;
    const QStringList written = finishFileChanges(paths, &error);
    for (const QString& name : written)
        qCInfo(lcLauncher) << "finished the interrupted save of" << name;
    if (finished)
        *finished = written;
    if (error.isEmpty())
        return {};
    qCWarning(lcLauncher).noquote() << "an interrupted save could not be finished:" << error;
    return error;
}

bool takeKeptRequest(const AppPaths& paths, const QList<RecordedReservation>& kept)
{
    const auto file = existingExchangeFile(paths, ExchangeFile::Request);
    if (!file)
        return false;
    // Only a small regular file can be a request our guest pages wrote.
    constexpr qint64 MaxKeptRequestBytes = 4096;
    QString error;
    const auto content = readExchangeFile(*file, MaxKeptRequestBytes, &error);
    if (!content || content->isEmpty() || content->size() > MaxKeptRequestBytes)
        return false;
    const auto request = parseRequest(*content);
    if (!request)
        return false;
    const RecordedReservation requested = requestedReservation(SongNumber::fromText(request->code), request->user);
    const bool known = std::any_of(kept.cbegin(), kept.cend(), [&requested](const RecordedReservation& r) {
        return r.number == requested.number && r.user == requested.user;
    });
    if (!known)
        return false;
    return takeRequest(*file).request.has_value();
}

void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

StartupReport prepareRun(const AppPaths& paths, const QDateTime& now)
{
    StartupReport report;
    removeLeftoverTemporaries(paths);
    QStringList saved;
    Recovery recovery;
    recovery.error = finishInterruptedSaves(paths, &saved);
    if (!saved.isEmpty())
        recovery.done << QStringLiteral("中断された時報の保存を終えました: ") + saved.join(QStringLiteral(", "));
    recovery.add(recoverInterruptedChanges(paths));
    recovery.add(recoverInterruptedInstallation(paths));
    report.recovery = recoveryText(recovery);
    if (!report.recovery.isEmpty())
        qCInfo(lcLauncher).noquote() << report.recovery;
    report.notice = prepareApplicationFolder(paths);
    startupBackup(paths, now, &report.backupError);
    return report;
}

QString recoveryText(const Recovery& recovery)
{
    QStringList lines;
    if (!recovery.done.isEmpty())
        lines << QStringLiteral("前回中断された変更を片付けました:");
    for (const QString& line : recovery.done)
        lines << QStringLiteral("・") + line;
    QStringList left = recovery.refused;
    if (!recovery.error.isEmpty())
        left << recovery.error;
    if (!left.isEmpty())
        lines << QStringLiteral("前回中断された変更のうち、次のものはそのままにしました:");
    for (const QString& line : std::as_const(left))
        lines << QStringLiteral("・") + line;
    return lines.join(u'\n');
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
