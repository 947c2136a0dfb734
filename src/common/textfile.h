#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstring>
#include <optional>

namespace tarv {

// Reads a whole file; nullopt (and the reason in *error) when it cannot be read.
std::optional<QByteArray> readFileBytes(const QString& path, QString* error = nullptr);

// Calls onLine(line) for every line of file content, each a view into the content without its
// end. Lines end in CR LF; a lone LF also ends a line (files edited by hand), and a last line
// without an end counts when it is not empty.
template <typename OnLine> void forEachLine(QByteArrayView content, OnLine onLine)
{
    const char* const begin = content.data();
    const qsizetype size = content.size();
    qsizetype start = 0;
    while (start < size) {
        const void* found = std::memchr(begin + start, '\n', size_t(size - start));
        const qsizetype end = found ? static_cast<const char*>(found) - begin : size;
        qsizetype lineEnd = end;
        if (found && lineEnd > start && begin[lineEnd - 1] == '\r')
            --lineEnd;
        onLine(QByteArrayView(begin + start, lineEnd - start));
        start = end + 1;
    }
}

// The lines of file content as forEachLine() finds them, copied.
QList<QByteArray> splitLines(const QByteArray& content);

// Joins lines, each followed by CR LF.
QByteArray joinLines(const QList<QByteArray>& lines);

// Reads a CP932 text file as decoded lines; nullopt when it cannot be read.
std::optional<QStringList> readTextLines(const QString& path, QString* error = nullptr);

// Encodes lines to CP932 with CR LF after each.
QByteArray encodeTextLines(const QStringList& lines);

} // namespace tarv
