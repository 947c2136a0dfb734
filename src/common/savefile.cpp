#include "common/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarv {
namespace {

const QString TemporaryMark = QStringLiteral(".tarv-save-");

std::mutex faultMutex;
std::optional<SaveFault> installedFault;
QString faultyFile; // empty: every file

std::optional<SaveFault> currentFault(const QString& path)
{
    std::lock_guard lock(faultMutex);
    if (!faultyFile.isEmpty() && QFileInfo(path).fileName() != faultyFile)
        return std::nullopt;
    return installedFault;
}

// Why a save that never follows a link leaves this name alone; empty for a regular file or a
// missing one.
QString refusalOfName(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("シンボリックリンクなので書き換えません");
    if (S_ISDIR(st.st_mode))
        return fileErrorText(EISDIR);
    return QStringLiteral("通常のファイルではない（デバイスやパイプなど）ので書き換えません");
}

QString randomSuffix()
{
    static const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))]);
    return suffix;
}

// The temporary file: write-only, unbuffered, every failure kept as its system error number.
class TemporaryDevice : public QIODevice
{
public:
    int fd = -1;
    int failure = 0;
    qint64 written = 0;
    std::optional<SaveFault> fault;

    bool isSequential() const override { return true; }

    void setFailure(int error)
    {
        if (failure == 0)
            failure = error;
        setErrorString(fileErrorText(failure));
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 size) override
    {
        if (failure != 0 || fd < 0)
            return -1;
        qint64 allowed = size;
        const bool injected = fault && fault->step == SaveFault::Step::Write && written + size > fault->afterBytes;
        if (injected)
            allowed = std::max<qint64>(0, fault->afterBytes - written);
        qint64 done = 0;
        while (done < allowed) {
            const ssize_t n = ::write(fd, data + done, size_t(allowed - done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                setFailure(errno);
                return -1;
            }
            done += n;
        }
        written += done;
        if (injected) {
            setFailure(fault->error);
            return -1;
        }
        return done;
    }
};

} // namespace

struct SaveFile::Private
{
    QString path;   // as the caller named it, for messages
    QString target; // the file replaced: symbolic links followed unless the target is NameOnly
    QString temporary;
    TemporaryDevice device;
    QString error;
    bool committed = false;
    Durability durability = Durability::Synced;
    SaveTarget mode = SaveTarget::FollowLinks;
    bool ownerOnly = false;

    void fail(const QString& reason) { error = QStringLiteral("%1: %2").arg(path, reason); }
    void fail(int error) { fail(fileErrorText(error)); }

    void discard()
    {
        if (device.fd >= 0) {
            ::close(device.fd);
            device.fd = -1;
        }
        if (device.isOpen())
            device.close();
        if (!temporary.isEmpty()) {
            ::unlink(QFile::encodeName(temporary).constData());
            temporary.clear();
        }
    }
};

SaveFile::SaveFile(const QString& path, Durability durability, SaveTarget target) : d(std::make_unique<Private>())
{
    d->path = path;
    d->target = path;
    d->durability = durability;
    d->mode = target;
}

SaveFile::~SaveFile()
{
    if (!d->committed)
        d->discard();
}

void SaveFile::setOwnerOnly()
{
    d->ownerOnly = true;
}

bool SaveFile::open()
{
    d->discard();
    d->error.clear();
    d->device.failure = 0;
    d->device.written = 0;
    d->device.fault = currentFault(d->path);

    QFileInfo target(d->path);
    if (d->mode == SaveTarget::FollowLinks) {
        // A symbolic link stays a link; the file it points to is replaced.
        for (int depth = 0; depth < 128 && target.isSymLink(); ++depth)
            target.setFile(target.symLinkTarget());
        d->target = target.isSymLink() ? d->path : target.filePath();
        // Never through a link onto a device or a pipe (a link to /dev/zero): that is not our file.
        struct stat st;
        if (d->target != d->path && ::stat(QFile::encodeName(d->target).constData(), &st) == 0 &&
            !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
            d->fail(QStringLiteral("通常のファイルではない（デバイスやパイプなど）へのリンクなので書き換えません"));
            return false;
        }
    } else if (const QString refusal = refusalOfName(d->path); !refusal.isEmpty()) {
        d->fail(refusal);
        return false;
    }
    if (target.isDir()) {
        d->fail(EISDIR);
        return false;
    }
    if (target.exists() && !target.isWritable()) {
        d->fail(EACCES);
        return false;
    }

    const QString folder = target.absolutePath();
    const QString prefix = QDir(folder).filePath(u'.' + target.fileName() + TemporaryMark);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        d->temporary = prefix + randomSuffix();
        // 0666 less the umask, as a new file gets; an existing file's permissions are copied below.
        fd = ::open(QFile::encodeName(d->temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    d->ownerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        d->fail(errno);
        d->temporary.clear();
        return false;
    }
    struct stat existing;
    const QByteArray targetName = QFile::encodeName(d->target);
    const int found = d->mode == SaveTarget::NameOnly ? ::lstat(targetName.constData(), &existing)
                                                      : ::stat(targetName.constData(), &existing);
    if (d->ownerOnly)
        ::fchmod(fd, 0600); // whatever the umask or the old file allowed
    else if (found == 0 && S_ISREG(existing.st_mode))
        ::fchmod(fd, existing.st_mode & 07777);
    d->device.fd = fd;
    d->device.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return true;
}

QIODevice& SaveFile::device()
{
    return d->device;
}

QString SaveFile::temporaryPath() const
{
    return d->temporary;
}

bool SaveFile::commit()
{
    if (d->device.fd < 0) {
        if (d->error.isEmpty())
            d->fail(EBADF);
        return false;
    }
    const auto& fault = d->device.fault;
    const auto injected = [&fault](SaveFault::Step step) { return fault && fault->step == step; };
    int error = d->device.failure;
    if (error == 0) {
        if (injected(SaveFault::Step::Flush))
            error = fault->error;
        else if (d->durability == Durability::Synced && ::fsync(d->device.fd) != 0 && errno != EINVAL)
            error = errno;
    }
    const int fd = d->device.fd;
    d->device.fd = -1;
    d->device.close();
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    // rename() replaces the name itself, never what a link points to; a link or a pipe put in the
    // file's place while it was written is still left alone.
    QString refusal;
    if (error == 0 && d->mode == SaveTarget::NameOnly)
        refusal = refusalOfName(d->path);
    if (error == 0 && refusal.isEmpty()) {
        if (injected(SaveFault::Step::Rename))
            error = fault->error;
        else if (::rename(QFile::encodeName(d->temporary).constData(), QFile::encodeName(d->target).constData()) != 0)
            error = errno;
    }
    if (error != 0 || !refusal.isEmpty()) {
        if (refusal.isEmpty())
            d->fail(error);
        else
            d->fail(refusal);
        d->discard();
        return false;
    }
    d->temporary.clear();
    d->committed = true;
    if (d->durability == Durability::Synced)
        syncFolder(QFileInfo(d->target).absolutePath());
    return true;
}

void SaveFile::cancel()
{
    d->discard();
}

QString SaveFile::error() const
{
    if (d->error.isEmpty() && d->device.failure != 0)
        return QStringLiteral("%1: %2").arg(d->path, fileErrorText(d->device.failure));
    return d->error;
}

namespace {

QString save(SaveFile& file, const QString& path, const std::function<bool(QIODevice&)>& writer)
{
    if (!file.open())
        return file.error();
    if (!writer(file.device())) {
        QString error = file.error();
        if (error.isEmpty())
            error = QStringLiteral("%1: 書き込みを中止しました").arg(path);
        file.cancel();
        return error;
    }
    if (!file.commit())
        return file.error();
    return {};
}

} // namespace

QString saveFile(const QString& path, const std::function<bool(QIODevice&)>& writer, Durability durability,
                 SaveTarget target)
{
    SaveFile file(path, durability, target);
    return save(file, path, writer);
}

QString saveOwnerOnlyFile(const QString& path, const QByteArray& content)
{
    SaveFile file(path, Durability::Synced, SaveTarget::NameOnly);
    file.setOwnerOnly();
    return save(file, path, [&content](QIODevice& device) { return device.write(content) == content.size(); });
}

QString saveFile(const QString& path, const QByteArray& content, Durability durability, SaveTarget target)
{
    return saveFile(
        path, [&content](QIODevice& device) { return device.write(content) == content.size(); }, durability, target);
}

void syncFolder(const QString& folder)
{
    const QByteArray dir = QFile::encodeName(folder);
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // The file itself is complete and synced; a folder that cannot be synced only risks the
        // old file coming back after a power cut, so this is not reported.
        ::fsync(fd);
        ::close(fd);
    }
}

int openForAppending(const QString& path, qint64* size, bool* endsLine, QString* error)
{
    // Read too, for its last byte.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        *error = fileErrorText(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("通常のファイルではない（デバイスやパイプなど）ので書き込みません");
        return -1;
    }
    char last = '\n';
    *size = st.st_size;
    *endsLine = st.st_size == 0 || (::pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n');
    return fd;
}

int writeAll(int fd, QByteArrayView bytes, qsizetype* written)
{
    *written = 0;
    while (*written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + *written, size_t(bytes.size() - *written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        *written += n;
    }
    return 0;
}

QString fileErrorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("ディスクの空き容量が足りません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量の上限に達しました");
    case EROFS:
        return QStringLiteral("ディスクが読み取り専用です");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込みが許可されていません");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("フォルダがありません");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダがあります");
    case EIO:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case ENAMETOOLONG:
        return QStringLiteral("名前が長すぎます");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます");
    default:
        return QString::fromStdString(std::generic_category().message(error));
    }
}

namespace {

// ".NAME.tarv-save-XXXXXX": a dot, a name of at least one character, the mark, six letters or digits.
// Checked on the bytes, so a folder of a hundred thousand videos is scanned without decoding a name.
bool isSaveTemporaryBytes(QByteArrayView name)
{
    constexpr QByteArrayView Mark = ".tarv-save-";
    constexpr qsizetype SuffixLength = 6;
    const qsizetype markAt = name.size() - SuffixLength - Mark.size();
    if (markAt < 2 || name.front() != '.' || name.sliced(markAt, Mark.size()) != Mark)
        return false;
    const QByteArrayView suffix = name.last(SuffixLength);
    return std::all_of(suffix.begin(), suffix.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

} // namespace

bool isSaveTemporaryName(const QString& fileName)
{
    return fileName.startsWith(u'.') && isSaveTemporaryBytes(QFile::encodeName(fileName));
}

bool removeFileDurably(const QString& path)
{
    if (!QFile::remove(path) && QFileInfo::exists(path))
        return false;
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

QStringList removeStaleSaveTemporaries(const QString& folder)
{
    QStringList removed;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return removed;
    // A plain walk of the names: src/ may hold a hundred thousand videos, and only hidden names matter.
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name.front() != '.' || !isSaveTemporaryBytes(name))
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            removed << QFile::decodeName(entry->d_name);
    }
    ::closedir(dir);
    return removed;
}

ScopedSaveFault::ScopedSaveFault(const SaveFault& fault, const QString& onlyFile)
{
    std::lock_guard lock(faultMutex);
    installedFault = fault;
    faultyFile = onlyFile;
}

ScopedSaveFault::~ScopedSaveFault()
{
    std::lock_guard lock(faultMutex);
    installedFault.reset();
    faultyFile.clear();
}

} // namespace tarv
