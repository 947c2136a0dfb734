#include "library/registrationdates.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarv {

namespace {

// A line is about 18 bytes: a library of a million songs registered twice over fits.
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

QHash<qint64, QDate> readRegistered(const AppPaths& paths)
{
    QHash<qint64, QDate> dates;
    const auto content = readFileBytes(registeredFile(paths), MaxFileBytes);
    if (!content)
        return dates;
    forEachLine(*content, [&dates](QByteArrayView line) {
        const qsizetype tab = line.indexOf('\t');
        if (tab != 6)
            return;
        bool ok = false;
        const qint64 number = line.first(6).toByteArray().toLongLong(&ok);
        const QDate date = QDate::fromString(QString::fromLatin1(line.sliced(7).trimmed()), Qt::ISODate);
        if (ok && number > 0 && date.isValid())
            dates.insert(number, date);
    });
    return dates;
}

} // namespace

QString registeredFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/registered.txt"));
}

QString noteRegistered(const AppPaths& paths, const QList<qint64>& numbers, const QDate& date)
{
    if (numbers.isEmpty())
        return {};
    QByteArray lines;
    for (qint64 number : numbers)
        lines += QByteArray::number(number).rightJustified(6, '0') + '\t' + date.toString(Qt::ISODate).toLatin1() + '\n';
    const QString path = registeredFile(paths);
    QDir().mkpath(paths.dbDir());
    // Without waiting, so that a pipe in the file's place is refused rather than waited on.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          0644);
    if (fd < 0)
        return fileErrorText(errno);
    QString error;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("通常のファイルではありません");
    } else {
        // A line a crash tore is left out when read; the line after it starts on a line of its own.
        char last = '\n';
        if (st.st_size > 0 && (::pread(fd, &last, 1, st.st_size - 1) != 1 || last != '\n'))
            lines.prepend('\n');
        for (qsizetype written = 0; written < lines.size();) {
            const ssize_t n = ::write(fd, lines.constData() + written, size_t(lines.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = fileErrorText(n < 0 ? errno : ENOSPC);
                break;
            }
            written += n;
        }
    }
    ::close(fd);
    return error;
}

std::vector<RegisteredSong> songsRegisteredSince(const AppPaths& paths, const std::vector<qint64>& numbers,
                                                 const QDate& since)
{
    const QHash<qint64, QDate> noted = readRegistered(paths);
    std::vector<RegisteredSong> out;
    for (qint64 number : numbers) {
        QDate date = noted.value(number);
        if (!date.isValid()) {
            const QFileInfo video(paths.video(QString::number(number).rightJustified(6, u'0')));
            if (!video.isFile())
                continue;
            date = video.lastModified().date();
        }
        if (date >= since)
            out.push_back({number, date});
    }
    std::sort(out.begin(), out.end(), [](const RegisteredSong& a, const RegisteredSong& b) {
        return a.registered != b.registered ? a.registered > b.registered : a.number < b.number;
    });
    return out;
}

} // namespace tarv
