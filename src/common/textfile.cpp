#include "common/textfile.h"

#include "common/cp932.h"

#include <QFile>
#include <QStringList>

namespace tarv {

std::optional<QByteArray> readFileBytes(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return file.readAll();
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

std::optional<QStringList> readTextLines(const QString& path, QString* error)
{
    const auto bytes = readFileBytes(path, error);
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
