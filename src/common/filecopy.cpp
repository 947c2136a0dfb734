#include "common/filecopy.h"

#include "common/savefile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarv {
namespace {

int openRegular(const QString& path, struct stat* st)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Fills the buffer unless the file ends first; the bytes read, or -1.
qint64 readFull(int fd, char* buffer, size_t size)
{
    size_t used = 0;
    while (used < size) {
        const ssize_t n = ::read(fd, buffer + used, size - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        used += size_t(n);
    }
    return qint64(used);
}

} // namespace

QString copyFileSafely(const QString& source, const QString& destination, bool* sourceFault)
{
    bool unreadable = false;
    if (!sourceFault)
        sourceFault = &unreadable;
    *sourceFault = false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *sourceFault = true;
        return in.errorString();
    }
    QString readError;
    const QString error = saveFile(destination, [&in, &readError](QIODevice& out) {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const qint64 got = in.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                readError = in.errorString();
                return false;
            }
            if (got == 0)
                return true;
            if (out.write(buffer.data(), got) != got)
                return false;
        }
    });
    if (!readError.isEmpty()) {
        *sourceFault = true;
        return readError;
    }
    return error;
}

bool isCopyOf(const QString& copy, const QString& original)
{
    struct stat a, b;
    const int fa = openRegular(copy, &a);
    const auto closeA = qScopeGuard([fa] {
        if (fa >= 0)
            ::close(fa);
    });
    const int fb = openRegular(original, &b);
    const auto closeB = qScopeGuard([fb] {
        if (fb >= 0)
            ::close(fb);
    });
    if (fa < 0 || fb < 0 || a.st_size != b.st_size || (a.st_dev == b.st_dev && a.st_ino == b.st_ino))
        return false;
    std::vector<char> x(1 << 20), y(1 << 20);
    for (;;) {
        const qint64 got = readFull(fa, x.data(), x.size());
        if (got < 0 || readFull(fb, y.data(), size_t(got)) != got || std::memcmp(x.data(), y.data(), size_t(got)))
            return false;
        if (got < qint64(x.size())) // the copy ended: so must the original
            return readFull(fb, y.data(), 1) == 0;
    }
}

std::optional<QString> uncopyableReason(const QString& path, const QString& folderReason)
{
    const QFileInfo info(path);
    if (info.isDir())
        return folderReason;
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (!info.isFile())
        return QStringLiteral("通常のファイルではありません");
    if (!info.isReadable())
        return QStringLiteral("読み込めません");
    return std::nullopt;
}

} // namespace tarv
