#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstring>
#include <optional>

namespace tarv {

// Whether a name is taken in the folder, whatever it names: a file, a folder, a device, or a
// symbolic link, dangling or not.
bool nameTaken(const QString& path);

// Whether a read follows a symbolic link. Files of the application folder may be links the operator
// made; files that other programs write (the exchange folder) are never followed.
enum class Links { Follow, Refuse };

// The one reader of a file that others may have put in place: opened without waiting (so a pipe in
// the file's place is seen for what it is), read only when it is a regular file, and never more than
// maxBytes + 1 bytes, so a longer file is seen to be too long without being read whole. nullopt for
// a missing file (*error left empty) and for one that is refused or cannot be read (the reason, in
// words, in *error).
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, Links links, QString* error);

// Reads a whole file of the application folder through readRegularFile(), refusing one longer than
// maxBytes (choose it for what the file holds). nullopt with the reason in *error when it is missing,
// refused or unreadable; a refusal (not a missing file) is also logged, once per file and reason.
std::optional<QByteArray> readFileBytes(const QString& path, qint64 maxBytes, QString* error = nullptr);

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

// Reads a CP932 text file (through readFileBytes()) as decoded lines; nullopt when it cannot be read.
std::optional<QStringList> readTextLines(const QString& path, qint64 maxBytes, QString* error = nullptr);

// Encodes lines to CP932 with CR LF after each.
QByteArray encodeTextLines(const QStringList& lines);

} // namespace tarv
