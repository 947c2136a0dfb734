#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace tarv {

// A drop notes each copy in db/ before it makes it, so that the next start can tell a copy a kill
// left unlisted from one whose list was written. Each list has its own note; the list is the point
// of no return: what it names is done.

// A video a drop has copied (or is copying) into src/ and not yet written to its list.
struct PendingCopy
{
    qint64 number = 0;
    QByteArray rawTitle; // the title it is to be listed under, as the list holds it
    QString source;      // the dropped file
    bool operator==(const PendingCopy&) const = default;
};

// A note holds one copy a line, "number TAB title in hex TAB source percent-encoded". A line of a
// number alone (from an older version) names a copy whose source is unknown.
// Replaces the note, durably. Returns the reason of a failure, or an empty text.
QString notePendingCopies(const QString& noteFile, const QList<PendingCopy>& copies);
QByteArray pendingCopiesContent(const QList<PendingCopy>& copies);
// The copies a note's content names, in order; lines that name none are counted in *unread.
QList<PendingCopy> parsePendingCopies(QByteArrayView content, int* unread = nullptr);

// A drop note holds a line a copy made since the list was last written, so a real one is small.
constexpr qint64 MaxDropNoteBytes = 4 * 1024 * 1024;

// What settling the notes a kill left did, in words for the operator.
struct Recovery
{
    QStringList done;    // what was finished or undone
    QStringList refused; // what a note asked for and was not done; the files concerned are as they were
    QString error;       // why a note could not be settled at all; it stays for the next time

    void add(const Recovery& other);
};

// What the recovery of a drop's note must know of its list and of the others.
struct DropList
{
    QString noteFile;
    QString listName;          // the list file's name, for the operator
    QString operation;         // what the drop is called, for the operator ("登録")
    QSet<qint64> listed;       // the numbers the list names
    QSet<QString> namedVideos; // the names in src/ that any list names, this one too
    std::function<QString(qint64)> videoName;
    std::function<bool(qint64)> takesNumber; // the list's own number rule
    // Writes the list with the copies added; returns the reason of a failure.
    std::function<QString(const QList<PendingCopy>&)> add;
};

// Settles a drop's note against its list. For each noted copy that the list does not name and whose
// video exists:
// - while its source exists, the video is removed again, but only when it is a copy of that source
//   (the proof that the drop made it and that nothing is lost);
// - when its source is gone, it is listed under its noted title (it is then the only copy).
// A video that any list names is never removed, and nothing the list's rules refuse (a number out of
// its range, a title with a line end) is listed; such copies, and those of an older note's lines
// without a source, are left as they are and reported refused. The note is removed once settled; a
// note that cannot be read, or a list that cannot be written, leaves it for the next time.
Recovery settleDropNote(const AppPaths& paths, const DropList& list);

} // namespace tarv
