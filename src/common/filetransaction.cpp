#include "common/filetransaction.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <optional>

namespace tarv {
namespace {

// The journal:
//   tarv-changes 1 CR LF
//   write SIZE PATH CR LF, then SIZE bytes of content and CR LF (once per file)
//   end SHA-256 of everything above, in hex CR LF
// PATH is relative to the journal's folder and percent-encoded, so it is one line whatever it holds.
// Other kinds of step (a rename) can take a keyword of their own.
const QByteArray Header = "tarv-changes 1\r\n";

// The files saved together are small lists; a journal holds a few of them.
constexpr qint64 MaxChangedFileBytes = 64 * 1024 * 1024;
constexpr qint64 MaxJournalBytes = 4 * MaxChangedFileBytes;

QByteArray checksum(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray journalContent(const QString& journal, const QList<FileChange>& changes)
{
    const QDir folder = QFileInfo(journal).absoluteDir();
    QByteArray out = Header;
    for (const FileChange& change : changes) {
        out += "write " + QByteArray::number(change.content.size()) + ' ' +
               QUrl::toPercentEncoding(folder.relativeFilePath(change.path), "/") + "\r\n";
        out += change.content + "\r\n";
    }
    out += "end " + checksum(out) + "\r\n";
    return out;
}

// The changes of a whole journal; nullopt for a torn one.
std::optional<QList<FileChange>> parseJournal(const QString& journal, const QByteArray& bytes)
{
    if (!bytes.startsWith(Header))
        return std::nullopt;
    const QDir folder = QFileInfo(journal).absoluteDir();
    QList<FileChange> changes;
    qsizetype at = Header.size();
    for (;;) {
        const qsizetype lineEnd = bytes.indexOf("\r\n", at);
        if (lineEnd < 0)
            return std::nullopt;
        const QByteArray line = bytes.sliced(at, lineEnd - at);
        if (line.startsWith("end ")) {
            if (lineEnd + 2 != bytes.size() || line.sliced(4) != checksum(QByteArrayView(bytes).first(at)))
                return std::nullopt;
            return changes;
        }
        const QList<QByteArray> fields = line.split(' ');
        bool ok = false;
        const qsizetype size = fields.size() == 3 && fields[0] == "write" ? fields[1].toLongLong(&ok) : -1;
        const qsizetype contentAt = lineEnd + 2;
        if (!ok || size < 0 || size > bytes.size() - contentAt - 2 || bytes.sliced(contentAt + size, 2) != "\r\n")
            return std::nullopt;
        changes.append({QDir::cleanPath(folder.absoluteFilePath(QUrl::fromPercentEncoding(fields[2]))),
                        bytes.sliced(contentAt, size)});
        at = contentAt + size + 2;
    }
}

QString fileNames(const QList<FileChange>& changes)
{
    QStringList names;
    for (const FileChange& change : changes)
        names << QFileInfo(change.path).fileName();
    return names.join(QStringLiteral(" と "));
}

} // namespace

QString saveFilesTogether(const QString& journal, const QList<FileChange>& changes)
{
    const QString names = fileNames(changes);
    const auto failed = [&names](const QString& outcome, const QString& reason) {
        return QStringLiteral("%1 を保存できませんでした。%2\r\n%3").arg(names, outcome, reason);
    };
    const QString unchanged = QStringLiteral("どのファイルも元のままです。");

    QString error;
    finishFileChanges(journal, &error); // an earlier change that was left unfinished
    if (!error.isEmpty())
        return failed(unchanged, error);
    // The old contents, to put back should a later file fail; nullopt for a file that did not exist.
    QList<std::optional<QByteArray>> old;
    for (const FileChange& change : changes) {
        if (!QFileInfo::exists(change.path)) {
            old.append(std::nullopt);
            continue;
        }
        const auto bytes = readFileBytes(change.path, MaxChangedFileBytes, &error);
        if (!bytes)
            return failed(unchanged, QStringLiteral("%1: %2").arg(change.path, error));
        old.append(*bytes);
    }

    error = saveFile(journal, journalContent(journal, changes));
    if (!error.isEmpty())
        return failed(unchanged, error);
    for (qsizetype i = 0; i < changes.size(); ++i) {
        error = saveFile(changes[i].path, changes[i].content);
        if (error.isEmpty())
            continue;
        // The new contents cannot all be written now: the files already replaced get their old
        // contents back. That needs no more room than their new contents took.
        bool undone = true;
        for (qsizetype j = 0; j < i; ++j) {
            undone =
                undone && (old[j] ? saveFile(changes[j].path, *old[j]).isEmpty() : removeFileDurably(changes[j].path));
        }
        if (!undone)
            return failed(QStringLiteral("元に戻すこともできなかったので、次に起動したときに保存を完了します。"),
                          error);
        removeFileDurably(journal);
        return failed(unchanged, error);
    }
    // Should the removal fail, the next start writes the same contents again.
    removeFileDurably(journal);
    return {};
}

QStringList finishFileChanges(const QString& journal, QString* error)
{
    if (!QFileInfo::exists(journal))
        return {};
    QString reason;
    const auto bytes = readFileBytes(journal, MaxJournalBytes, &reason);
    if (!bytes) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(journal, reason);
        return {};
    }
    const auto changes = parseJournal(journal, *bytes);
    QStringList written;
    for (const FileChange& change : changes.value_or(QList<FileChange>{})) {
        reason = saveFile(change.path, change.content);
        if (!reason.isEmpty()) {
            if (error)
                *error = reason;
            return written;
        }
        written << change.path;
    }
    removeFileDurably(journal);
    return written;
}

} // namespace tarv
