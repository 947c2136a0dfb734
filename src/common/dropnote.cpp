#include "common/dropnote.h"

#include "common/cp932.h"
#include "common/filecopy.h"
#include "common/savefile.h"
#include "common/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>

#include <algorithm>

namespace tarv {
namespace {

Q_LOGGING_CATEGORY(lcDrop, "tarv.drop")

bool allDigits(QByteArrayView digits)
{
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

void Recovery::add(const Recovery& other)
{
    done += other.done;
    refused += other.refused;
    if (error.isEmpty())
        error = other.error;
    else if (!other.error.isEmpty())
        error += QStringLiteral("\n") + other.error;
}

QByteArray pendingCopiesContent(const QList<PendingCopy>& copies)
{
    QByteArray note;
    for (const PendingCopy& copy : copies) {
        note += QByteArray::number(copy.number) + '\t' + copy.rawTitle.toHex() + '\t' +
                QUrl::toPercentEncoding(copy.source) + "\r\n";
    }
    return note;
}

QString notePendingCopies(const QString& noteFile, const QList<PendingCopy>& copies)
{
    return saveFile(noteFile, pendingCopiesContent(copies));
}

QList<PendingCopy> parsePendingCopies(QByteArrayView content, int* unread)
{
    QList<PendingCopy> copies;
    int skipped = 0;
    forEachLine(content, [&](QByteArrayView line) {
        line = line.trimmed();
        if (line.isEmpty())
            return;
        const QList<QByteArray> fields = line.toByteArray().split('\t');
        const QByteArray& digits = fields.first();
        if (fields.size() == 2 || fields.size() > 3 || digits.size() > 6 || !allDigits(digits) ||
            digits.toLongLong() <= 0) {
            ++skipped;
            return;
        }
        PendingCopy copy{digits.toLongLong(), {}, {}};
        if (fields.size() == 3) {
            copy.rawTitle = QByteArray::fromHex(fields.at(1));
            copy.source = QUrl::fromPercentEncoding(fields.at(2));
        }
        copies << copy;
    });
    if (unread)
        *unread = skipped;
    return copies;
}

Recovery settleDropNote(const AppPaths& paths, const DropList& list)
{
    Recovery recovery;
    if (!nameTaken(list.noteFile))
        return recovery;
    QString error;
    const auto bytes = readFileBytes(list.noteFile, MaxDropNoteBytes, &error);
    if (!bytes) {
        recovery.error =
            QStringLiteral("%1 を読めないので、そのままにしました（%2）。中身を確かめてから削除してください。")
                .arg(QFileInfo(list.noteFile).fileName(), error);
        return recovery;
    }
    const QString note = QFileInfo(list.noteFile).fileName();
    const auto refuse = [&](const QString& what) {
        recovery.refused << QStringLiteral("%1: %2").arg(note, what);
        qCWarning(lcDrop).noquote() << "refused by the recovery of" << list.noteFile << ":" << what;
    };
    int unread = 0;
    QSet<qint64> seen;
    QList<PendingCopy> toList;
    for (const PendingCopy& copy : parsePendingCopies(*bytes, &unread)) {
        if (seen.contains(copy.number))
            continue;
        seen.insert(copy.number);
        if (!list.takesNumber(copy.number)) {
            refuse(QStringLiteral("%1 は %2 に載せられる番号ではないので、何もしませんでした")
                       .arg(copy.number)
                       .arg(list.listName));
            continue;
        }
        const QString name = list.videoName(copy.number);
        const QString video = paths.video(name);
        // Listed is done; a video that is not there was never copied.
        if (list.listed.contains(copy.number) || !nameTaken(video))
            continue;
        if (list.namedVideos.contains(name)) {
            refuse(QStringLiteral("src/%1 はほかのリストが使っている動画なので、そのままにしました").arg(name));
            continue;
        }
        if (copy.source.isEmpty()) {
            refuse(QStringLiteral(
                       "src/%1 はどこからのコピーかわからないので、そのままにしました（どのリストにも載っていません）")
                       .arg(name));
            continue;
        }
        if (nameTaken(copy.source)) {
            if (!isCopyOf(video, copy.source)) {
                refuse(QStringLiteral(
                           "src/%1 は %2 のコピーではないので、そのままにしました（どのリストにも載っていません）")
                           .arg(name, copy.source));
            } else if (QFile::remove(video)) {
                recovery.done << QStringLiteral(
                                     "中断された%1のコピー src/%2 を削除しました（元のファイル %3 はそのままです）")
                                     .arg(list.operation, name, copy.source);
                qCInfo(lcDrop) << "removed a video copied by an interrupted drop and not listed:" << video;
            }
            continue;
        }
        if (copy.rawTitle.contains('\r') || copy.rawTitle.contains('\n')) {
            refuse(QStringLiteral("src/%1 の題名に改行があるので、%2 に載せずにそのままにしました")
                       .arg(name, list.listName));
            continue;
        }
        toList << copy;
    }
    if (unread > 0)
        refuse(QStringLiteral("読めない行が %1 行あったので、その行は何もしませんでした").arg(unread));
    if (!toList.isEmpty()) {
        if (const QString failure = list.add(toList); !failure.isEmpty()) {
            // The copies stay noted and unlisted, and are never removed.
            recovery.error = QStringLiteral("%1 に書き込めません: %2").arg(list.listName, failure);
            return recovery;
        }
        for (const PendingCopy& copy : std::as_const(toList)) {
            recovery.done << QStringLiteral("中断された%1の動画を %2 に載せました: %3|%4")
                                 .arg(list.operation, list.listName, list.videoName(copy.number),
                                      decodeCp932(copy.rawTitle));
            qCInfo(lcDrop) << "listed a video of an interrupted drop whose source is gone:" << copy.number;
        }
    }
    QFile::remove(list.noteFile);
    return recovery;
}

} // namespace tarv
