#pragma once

#include <QByteArray>
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
QList<PendingCopy> readPendingCopies(const QString& noteFile);

// What settling the notes a kill left did.
struct Recovery
{
    QStringList removed; // copies undone, their sources still being where they were
    QStringList listed;  // copies whose sources are gone, listed under their noted titles
    QString error;       // why a note could not be settled; it stays for the next time
};

// The noted copies that the list does not name and whose videos exist: each is removed again while
// its source still exists (its path goes to *removed), and returned, to be listed under its noted
// title, when its source is gone (it is then the only copy of the video).
QList<PendingCopy> undoUnlistedCopies(const QString& noteFile, const std::function<QString(qint64)>& video,
                                      const QSet<qint64>& listed, QStringList* removed);

} // namespace tarv
