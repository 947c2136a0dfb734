#include "common/filetransaction.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <optional>

namespace tarv {
namespace {

// The journal:
//   tarv-changes 1 CR LF
//   write SIZE NAME CR LF, then SIZE bytes of content and CR LF (once per file)
//   end SHA-256 of everything above, in hex CR LF
// NAME is the name of a file of db/ (a JournalFile). Earlier versions wrote there the file's path
// relative to db/, percent-encoded, which for these files is the same name. Other kinds of step (a
// rename) can take a keyword of their own.
const QByteArray Header = "tarv-changes 1\r\n";

// The files saved together are the time-signal files, which are read up to this size.
constexpr qint64 MaxChangedFileBytes = 64 * 1024 * 1024;
constexpr qint64 MaxJournalBytes = 3 * MaxChangedFileBytes + 64 * 1024;

constexpr JournalFile JournalFiles[] = {JournalFile::InstalledSignals, JournalFile::EnabledSignals,
                                        JournalFile::SignalTimes};

QByteArray checksum(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString filePath(const AppPaths& paths, JournalFile file)
{
    return paths.file(QStringLiteral("db/") + journalFileName(file));
}

QString fileNames(const QList<FileChange>& changes)
{
    QStringList names;
    for (const FileChange& change : changes)
        names << journalFileName(change.file);
    return names.join(QStringLiteral(" と "));
}

// What to say of a journal that stays: it blocks every save of the files it names.
QString stuckJournal(const QString& problem, const QString& remedy)
{
    return QStringLiteral("前回中断された保存の記録 db/saving.txt %1。%2").arg(problem, remedy);
}

const QString CheckAndRemove =
    QStringLiteral("db/saving.txt の中身を確かめてから削除すると、保存できるようになります。");

} // namespace

QString journalFileName(JournalFile file)
{
    switch (file) {
    case JournalFile::InstalledSignals:
        return QStringLiteral("ziholist.txt");
    case JournalFile::EnabledSignals:
        return QStringLiteral("zihotrue.txt");
    case JournalFile::SignalTimes:
        return QStringLiteral("zihotime.txt");
    }
    return {};
}

QByteArray changeJournalContent(const QList<FileChange>& changes)
{
    QByteArray out = Header;
    for (const FileChange& change : changes) {
        out += "write " + QByteArray::number(change.content.size()) + ' ' + journalFileName(change.file).toLatin1() +
               "\r\n";
        out += change.content + "\r\n";
    }
    out += "end " + checksum(out) + "\r\n";
    return out;
}

ChangeJournal parseChangeJournal(QByteArrayView bytes)
{
    ChangeJournal journal; // torn until its end line is found and checked
    if (!bytes.startsWith(Header))
        return journal;
    QList<FileChange> changes;
    QString refused;
    qsizetype at = Header.size();
    for (;;) {
        const qsizetype lineEnd = bytes.indexOf("\r\n", at);
        if (lineEnd < 0)
            return journal;
        const QByteArrayView line = bytes.sliced(at, lineEnd - at);
        if (line.startsWith("end ")) {
            if (lineEnd + 2 != bytes.size() || line.sliced(4) != checksum(bytes.first(at)))
                return journal;
            if (!refused.isEmpty()) {
                journal.state = ChangeJournal::State::Refused;
                journal.refusedName = refused;
                return journal;
            }
            journal.state = ChangeJournal::State::Whole;
            journal.changes = changes;
            return journal;
        }
        const QList<QByteArray> fields = line.toByteArray().split(' ');
        bool ok = false;
        const qsizetype size = fields.size() == 3 && fields[0] == "write" ? fields[1].toLongLong(&ok) : -1;
        const qsizetype contentAt = lineEnd + 2;
        if (!ok || size < 0 || size > bytes.size() - contentAt - 2 || bytes.sliced(contentAt + size, 2) != "\r\n")
            return journal;
        const QString name = QUrl::fromPercentEncoding(fields[2]);
        const auto file = std::find_if(std::begin(JournalFiles), std::end(JournalFiles),
                                       [&name](JournalFile f) { return journalFileName(f) == name; });
        if (file != std::end(JournalFiles))
            changes.append({*file, bytes.sliced(contentAt, size).toByteArray()});
        else if (refused.isEmpty())
            refused = name;
        at = contentAt + size + 2;
    }
}

QString saveFilesTogether(const AppPaths& paths, const QList<FileChange>& changes)
{
    const QString names = fileNames(changes);
    const auto failed = [&names](const QString& outcome, const QString& reason) {
        return QStringLiteral("%1 を保存できませんでした。%2\r\n%3").arg(names, outcome, reason);
    };
    const QString unchanged = QStringLiteral("どのファイルも元のままです。");
    const QString journal = changeJournal(paths);

    QString error;
    finishFileChanges(paths, &error); // an earlier change that was left unfinished
    if (!error.isEmpty())
        return failed(unchanged, error);
    // The old contents, to put back should a later file fail; nullopt for a file that did not exist.
    QList<std::optional<QByteArray>> old;
    for (const FileChange& change : changes) {
        const QString path = filePath(paths, change.file);
        if (!QFileInfo::exists(path)) {
            old.append(std::nullopt);
            continue;
        }
        const auto bytes = readFileBytes(path, MaxChangedFileBytes, &error);
        if (!bytes)
            return failed(unchanged, error);
        old.append(*bytes);
    }

    error = saveFile(journal, changeJournalContent(changes));
    if (!error.isEmpty())
        return failed(unchanged, error);
    for (qsizetype i = 0; i < changes.size(); ++i) {
        error = saveFile(filePath(paths, changes[i].file), changes[i].content);
        if (error.isEmpty())
            continue;
        // The new contents cannot all be written now: the files already replaced get their old
        // contents back. That needs no more room than their new contents took.
        bool undone = true;
        for (qsizetype j = 0; j < i; ++j) {
            const QString path = filePath(paths, changes[j].file);
            undone = undone && (old[j] ? saveFile(path, *old[j]).isEmpty() : removeFileDurably(path));
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

QStringList finishFileChanges(const AppPaths& paths, QString* error)
{
    const QString journalPath = changeJournal(paths);
    if (!nameTaken(journalPath))
        return {};
    QString reason;
    const auto bytes = readFileBytes(journalPath, MaxJournalBytes, &reason);
    if (!bytes) {
        if (error)
            *error = stuckJournal(QStringLiteral("を読めません（%1）").arg(reason), CheckAndRemove);
        return {};
    }
    const ChangeJournal journal = parseChangeJournal(*bytes);
    if (journal.state == ChangeJournal::State::Refused) {
        if (error) {
            *error = stuckJournal(
                QStringLiteral(
                    "は時報のファイルではない「%1」を書き換えようとしているので、何も書き換えずにそのままにしました")
                    .arg(journal.refusedName),
                CheckAndRemove);
        }
        return {};
    }
    QStringList written;
    for (const FileChange& change : journal.changes) {
        reason = saveFile(filePath(paths, change.file), change.content);
        if (!reason.isEmpty()) {
            if (error) {
                *error = stuckJournal(
                    QStringLiteral("のとおりに %1 を書き込めません（%2）").arg(journalFileName(change.file), reason),
                    QStringLiteral(
                        "空き容量や書き込みの許可を確かめてください。保存を終えずに捨てるなら、db/saving.txt "
                        "を削除してください。"));
            }
            return written;
        }
        written << journalFileName(change.file);
    }
    removeFileDurably(journalPath);
    return written;
}

} // namespace tarv
