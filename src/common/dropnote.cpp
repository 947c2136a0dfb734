#include "common/dropnote.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>

#include <algorithm>

namespace tarv {
namespace {

// A line a copy: a drop of the largest library fits many times over.
constexpr qint64 MaxDropNoteBytes = 32 * 1024 * 1024;

Q_LOGGING_CATEGORY(lcDrop, "tarv.drop")

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString notePendingCopies(const QString& noteFile, const QList<PendingCopy>& copies)
{
    QByteArray note;
    for (const PendingCopy& copy : copies) {
        note += QByteArray::number(copy.number) + '\t' + copy.rawTitle.toHex() + '\t' +
                QUrl::toPercentEncoding(copy.source) + "\r\n";
    }
    return saveFile(noteFile, note);
}

QList<PendingCopy> readPendingCopies(const QString& noteFile)
{
    QList<PendingCopy> copies;
    const auto bytes = readFileBytes(noteFile, MaxDropNoteBytes);
    if (!bytes)
        return copies;
    for (const QByteArray& line : bytes->split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        const QByteArray digits = fields.value(0);
        bool ok = false;
        const qint64 number = digits.size() <= 6 ? digits.toLongLong(&ok) : 0;
        if (!ok || number <= 0 || !std::all_of(digits.cbegin(), digits.cend(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        PendingCopy copy{number, {}, {}};
        if (fields.size() >= 3) {
            copy.rawTitle = QByteArray::fromHex(fields.at(1));
            copy.source = QUrl::fromPercentEncoding(fields.at(2));
        }
        copies << copy;
    }
    return copies;
}

QList<PendingCopy> undoUnlistedCopies(const QString& noteFile, const std::function<QString(qint64)>& video,
                                      const QSet<qint64>& listed, QStringList* removed)
{
    QList<PendingCopy> toList;
    for (const PendingCopy& copy : readPendingCopies(noteFile)) {
        const QString path = video(copy.number);
        if (listed.contains(copy.number) || !exists(path))
            continue;
        // Without a known source there is nothing to tell a finished drop from an unfinished one;
        // such notes come only from older versions, which deleted a source only once listed.
        if (copy.source.isEmpty() || exists(copy.source)) {
            if (QFile::remove(path)) {
                *removed << path;
                qCInfo(lcDrop) << "removed a video copied by an interrupted drop and not listed:" << path;
            }
        } else {
            toList << copy;
        }
    }
    return toList;
}

} // namespace tarv
