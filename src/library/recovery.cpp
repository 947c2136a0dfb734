#include "library/recovery.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/signalfiles.h"
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

void settleEdit(const AppPaths& paths, const PendingEdit& edit, const QSet<qint64>& listed, const QSet<QString>& named,
                Recovery* recovery)
{
    const QString note = QFileInfo(pendingEditFile(paths)).fileName();
    const QString name = QString::number(edit.number);
    const QString video = paths.video(name);
    if (edit.kind == PendingEdit::Kind::Delete) {
        if (listed.contains(edit.number) || !nameTaken(video))
            return;
        if (named.contains(name)) {
            recovery->refused << QStringLiteral("%1: src/%2 は時報のリストが使っている動画なので、削除しませんでした")
                                     .arg(note, name);
        } else if (QFile::remove(video)) {
            recovery->done << QStringLiteral("中断された曲の削除を終えて、src/%1 を削除しました").arg(name);
            qCInfo(lcLibrary) << "finished an interrupted delete:" << video;
        }
        return;
    }
    const QString newName = QString::number(edit.newNumber);
    // The list says which name the video must have; move it there when the other one holds it.
    const bool done = listed.contains(edit.newNumber) && !listed.contains(edit.number);
    const bool undone = listed.contains(edit.number) && !listed.contains(edit.newNumber);
    const QString& from = done ? name : newName;
    const QString& to = done ? newName : name;
    if (!nameTaken(paths.video(from)) || nameTaken(paths.video(to)))
        return;
    if ((!done && !undone) || named.contains(from)) {
        recovery->refused
            << QStringLiteral(
                   "%1: 曲番号の変更 %2 → %3 は、どちらの番号かが曲目リストからわからないか、src/%4 をリストが"
                   "使っているので、何も動かしませんでした")
                   .arg(note, name, newName, from);
        return;
    }
    if (QFile::rename(paths.video(from), paths.video(to))) {
        recovery->done << (done ? QStringLiteral("中断された曲番号の変更を終えて、src/%1 を src/%2 にしました")
                                : QStringLiteral("中断された曲番号の変更を元に戻して、src/%1 を src/%2 にしました"))
                              .arg(from, to);
        qCInfo(lcLibrary) << "settled an interrupted renumber:" << from << "->" << to;
    }
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

QByteArray pendingEditContent(const PendingEdit& edit)
{
    const QByteArray note = edit.kind == PendingEdit::Kind::Delete ? "delete " + QByteArray::number(edit.number)
                                                                   : "renumber " + QByteArray::number(edit.number) +
                                                                         ' ' + QByteArray::number(edit.newNumber);
    return note + "\r\n";
}

QString notePendingEdit(const AppPaths& paths, const PendingEdit& edit)
{
    return saveFile(pendingEditFile(paths), pendingEditContent(edit));
}

std::optional<PendingEdit> parsePendingEdit(QByteArrayView content)
{
    const QList<QByteArray> words = content.trimmed().toByteArray().split(' ');
    const auto number = parseSongNumber(QString::fromLatin1(words.value(1)));
    if (words.value(0) == "delete" && number && words.size() == 2)
        return PendingEdit{PendingEdit::Kind::Delete, *number, 0};
    const auto newNumber = parseSongNumber(QString::fromLatin1(words.value(2)));
    if (words.value(0) == "renumber" && number && newNumber && *number != *newNumber && words.size() == 3)
        return PendingEdit{PendingEdit::Kind::Renumber, *number, *newNumber};
    return std::nullopt;
}

std::optional<QSet<QString>> videosNamedByLists(const AppPaths& paths, QString* error)
{
    const auto songs = sharedSongTable(paths.songList(), error);
    if (!songs)
        return std::nullopt;
    QSet<QString> named{QFileInfo(paths.introVideo()).fileName()};
    for (const SongTable::Entry& entry : songs->entries())
        named.insert(QString::number(entry.number));
    for (const QString& path : {installedSignalsFile(paths), enabledSignalsFile(paths)}) {
        const auto file = loadSignalEntries(path);
        if (!file.readable) {
            *error = file.problem;
            return std::nullopt;
        }
        for (const SignalEntry& entry : file.items) {
            if (entry.namesVideo())
                named.insert(entry.number);
        }
    }
    const auto times = loadTimeItems(signalTimesFile(paths));
    if (!times.readable) {
        *error = times.problem;
        return std::nullopt;
    }
    for (const TimeItem& item : times.items) {
        if (item.playedField() != NoFile)
            named.insert(item.playedField());
    }
    return named;
}

Recovery recoverInterruptedChanges(const AppPaths& paths)
{
    Recovery recovery;
    const bool dropNoted = nameTaken(pendingCopiesFile(paths));
    const bool editNoted = nameTaken(pendingEditFile(paths));
    if (!dropNoted && !editNoted)
        return recovery;
    QString error;
    const auto shared = sharedSongTable(paths.songList(), &error);
    const auto named = shared ? videosNamedByLists(paths, &error) : std::nullopt;
    if (!named) { // the lists cannot tell what was done or what is in use; try again next time
        recovery.error = error;
        return recovery;
    }
    const QSet<qint64> listed = listedNumbers(*shared);

    if (editNoted) {
        const auto bytes = readFileBytes(pendingEditFile(paths), 4096, &error);
        if (!bytes) {
            recovery.error =
                QStringLiteral(
                    "editing.txt を読めないので、そのままにしました（%1）。中身を確かめてから削除してください。")
                    .arg(error);
            return recovery;
        }
        if (const auto edit = parsePendingEdit(*bytes))
            settleEdit(paths, *edit, listed, *named, &recovery);
        else
            recovery.refused << QStringLiteral("editing.txt: 曲の変更として読めないので、何もしませんでした");
        QFile::remove(pendingEditFile(paths));
    }
    DropList list;
    list.noteFile = pendingCopiesFile(paths);
    list.listName = QStringLiteral("musiclist.txt");
    list.operation = QStringLiteral("曲の登録");
    list.listed = listed;
    list.namedVideos = *named;
    list.videoName = [](qint64 number) { return QString::number(number); };
    list.takesNumber = [](qint64 number) { return number >= FirstSongNumber && number <= LastSongNumber; };
    list.add = [&paths](const QList<PendingCopy>& copies) {
        QString failure;
        auto table = loadSongListForRewrite(paths.songList(), &failure);
        if (!table)
            return failure;
        for (const PendingCopy& copy : copies)
            table->append(copy.number, copy.rawTitle);
        table->order();
        return rewriteSongTable(paths.songList(), std::move(*table));
    };
    recovery.add(settleDropNote(paths, list));
    return recovery;
}

} // namespace tarv
