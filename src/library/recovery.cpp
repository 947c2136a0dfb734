#include "library/recovery.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/entryrules.h"
#include "library/songlist.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>

namespace tarv {
namespace {

Q_LOGGING_CATEGORY(lcLibrary, "tarv.library")

QSet<qint64> listedNumbers(const SongTable& table)
{
    QSet<qint64> listed;
    listed.reserve(table.size());
    for (const SongTable::Entry& entry : table.entries())
        listed.insert(entry.number);
    return listed;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

void settleEdit(const AppPaths& paths, const PendingEdit& edit, const QSet<qint64>& listed)
{
    const QString video = paths.video(QString::number(edit.number));
    if (edit.kind == PendingEdit::Kind::Delete) {
        if (!listed.contains(edit.number) && exists(video) && QFile::remove(video))
            qCInfo(lcLibrary) << "finished an interrupted delete:" << video;
        return;
    }
    const QString newVideo = paths.video(QString::number(edit.newNumber));
    // The list says which name the video must have; move it there when the other one holds it.
    const bool done = listed.contains(edit.newNumber) && !listed.contains(edit.number);
    const QString& from = done ? video : newVideo;
    const QString& to = done ? newVideo : video;
    if (exists(from) && !exists(to) && QFile::rename(from, to))
        qCInfo(lcLibrary) << "settled an interrupted renumber:" << from << "->" << to;
}

} // namespace

QString pendingCopiesFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/dropping.txt"));
}

QString notePendingCopies(const AppPaths& paths, const QList<PendingCopy>& copies)
{
    return notePendingCopies(pendingCopiesFile(paths), copies);
}

QString pendingEditFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/editing.txt"));
}

QString notePendingEdit(const AppPaths& paths, const PendingEdit& edit)
{
    const QByteArray note = edit.kind == PendingEdit::Kind::Delete ? "delete " + QByteArray::number(edit.number)
                                                                   : "renumber " + QByteArray::number(edit.number) +
                                                                         ' ' + QByteArray::number(edit.newNumber);
    return saveFile(pendingEditFile(paths), note + "\r\n");
}

std::optional<PendingEdit> readPendingEdit(const AppPaths& paths)
{
    const auto bytes = readFileBytes(pendingEditFile(paths), 4096);
    if (!bytes)
        return std::nullopt;
    const QList<QByteArray> words = bytes->trimmed().split(' ');
    const auto number = parseSongNumber(QString::fromLatin1(words.value(1)));
    if (words.value(0) == "delete" && number && words.size() == 2)
        return PendingEdit{PendingEdit::Kind::Delete, *number, 0};
    const auto newNumber = parseSongNumber(QString::fromLatin1(words.value(2)));
    if (words.value(0) == "renumber" && number && newNumber && words.size() == 3)
        return PendingEdit{PendingEdit::Kind::Renumber, *number, *newNumber};
    return std::nullopt;
}

Recovery recoverInterruptedChanges(const AppPaths& paths)
{
    Recovery recovery;
    const bool dropNoted = QFileInfo::exists(pendingCopiesFile(paths));
    const bool editNoted = QFileInfo::exists(pendingEditFile(paths));
    if (!dropNoted && !editNoted)
        return recovery;
    QString error;
    const auto shared = sharedSongTable(paths.songList(), &error);
    if (!shared) { // the list cannot tell what was done; try again next time
        recovery.error = error;
        return recovery;
    }
    const QSet<qint64> listed = listedNumbers(*shared);

    if (editNoted) {
        if (const auto edit = readPendingEdit(paths))
            settleEdit(paths, *edit, listed);
        QFile::remove(pendingEditFile(paths));
    }
    if (!dropNoted)
        return recovery;
    const QList<PendingCopy> toList = undoUnlistedCopies(
        pendingCopiesFile(paths), [&paths](qint64 number) { return paths.video(QString::number(number)); }, listed,
        &recovery.removed);
    if (!toList.isEmpty()) {
        auto table = loadSongListForRewrite(paths.songList(), &error);
        if (table) {
            for (const PendingCopy& copy : toList)
                table->append(copy.number, copy.rawTitle);
            table->order();
            error = rewriteSongTable(paths.songList(), std::move(*table));
        }
        if (!error.isEmpty()) { // the copies stay noted and unlisted, and are never removed
            recovery.error = error;
            return recovery;
        }
        for (const PendingCopy& copy : toList) {
            recovery.listed << QString::number(copy.number) + u'|' + decodeCp932(copy.rawTitle);
            qCInfo(lcLibrary) << "listed a video of an interrupted drop whose source is gone:" << copy.number;
        }
    }
    QFile::remove(pendingCopiesFile(paths));
    return recovery;
}

} // namespace tarv
