#include "library/registrationdates.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
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
    qint64 size = 0;
    bool endsLine = true;
    QString error;
    const int fd = openForAppending(path, &size, &endsLine, &error);
    if (fd < 0)
        return error;
    // A line a crash tore is left out when read; the line after it starts on a line of its own.
    if (!endsLine)
        lines.prepend('\n');
    qsizetype written = 0;
    const int failure = writeAll(fd, lines, &written);
    ::close(fd);
    return failure ? fileErrorText(failure) : QString();
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
