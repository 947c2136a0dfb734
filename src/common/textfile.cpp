#include "common/textfile.h"

#include "common/cp932.h"

#include "common/savefile.h"

#include <QFile>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarv {
namespace {

Q_LOGGING_CATEGORY(lcFiles, "tarv.files")

QString sizeText(qint64 bytes)
{
    return bytes >= (qint64(1) << 20) ? QStringLiteral("%1 MiB").arg((bytes + (1 << 20) - 1) >> 20)
                                      : QStringLiteral("%1 KiB").arg((bytes + 1023) >> 10);
}

// A file refused at every poll is still said only once.
void logRefusalOnce(const QString& reason)
{
    static std::mutex mutex;
    static QSet<QString> said;
    const std::lock_guard lock(mutex);
    if (!said.contains(reason)) {
        said.insert(reason);
        qCWarning(lcFiles).noquote() << reason;
    }
}

// A file longer than the limit: read its first limit + 1 bytes, or refuse it without reading.
enum class Oversize { Prefix, Refuse };

std::optional<QByteArray> readRegular(const QString& path, qint64 maxBytes, Links links, Oversize oversize,
                                      QString* error)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, reason);
        return std::nullopt;
    };
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        if (errno == ELOOP && links == Links::Refuse)
            return fail(QStringLiteral("シンボリックリンクなので読みません"));
        return fail(errno == EACCES ? QStringLiteral("読み取りが許可されていません") : fileErrorText(errno));
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(fileErrorText(errno));
    if (S_ISDIR(st.st_mode))
        return fail(fileErrorText(EISDIR));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("通常のファイルではない（デバイスやパイプなど）ので読みません"));
    const QString tooLarge = QStringLiteral("%1 を超えているので読みません").arg(sizeText(maxBytes));
    if (oversize == Oversize::Refuse && st.st_size > maxBytes)
        return fail(tooLarge);

    const qint64 limit = maxBytes + 1;
    QByteArray bytes(qsizetype(std::min<qint64>(st.st_size + 1, limit)), Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used >= limit) // longer than maxBytes: the caller needs to know no more
                break;
            bytes.resize(qsizetype(std::min<qint64>(limit, qint64(used) * 2 + 4096)));
        }
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(fileErrorText(errno));
        if (n == 0)
            break;
        used += n;
    }
    if (oversize == Oversize::Refuse && used > maxBytes) // grown since
        return fail(tooLarge);
    bytes.truncate(used);
    return bytes;
}

} // namespace

bool nameTaken(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, Links links, QString* error)
{
    return readRegular(path, maxBytes, links, Oversize::Prefix, error);
}

std::optional<QByteArray> readFileBytes(const QString& path, qint64 maxBytes, QString* error)
{
    QString reason;
    auto bytes = readRegular(path, maxBytes, Links::Follow, Oversize::Refuse, &reason);
    if (!bytes) {
        if (reason.isEmpty())
            reason = QStringLiteral("%1: ファイルがありません").arg(path);
        else
            logRefusalOnce(reason);
        if (error)
            *error = reason;
    }
    return bytes;
}

QList<QByteArray> splitLines(const QByteArray& content)
{
    QList<QByteArray> lines;
    forEachLine(content, [&lines](QByteArrayView line) { lines << line.toByteArray(); });
    return lines;
}

QByteArray joinLines(const QList<QByteArray>& lines)
{
    QByteArray out;
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    out.reserve(size);
    for (const QByteArray& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::optional<QStringList> readTextLines(const QString& path, qint64 maxBytes, QString* error)
{
    const auto bytes = readFileBytes(path, maxBytes, error);
    if (!bytes)
        return std::nullopt;
    QStringList lines;
    for (const QByteArray& line : splitLines(*bytes))
        lines << decodeCp932(line);
    return lines;
}

QByteArray encodeTextLines(const QStringList& lines)
{
    QList<QByteArray> encoded;
    encoded.reserve(lines.size());
    for (const QString& line : lines)
        encoded << encodeCp932(line);
    return joinLines(encoded);
}

} // namespace tarv
