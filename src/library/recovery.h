#pragma once

#include "common/apppaths.h"
#include "common/dropnote.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarv {

// Changes that touch the song list and src/ together note what they are about to do in db/ before
// they act, and the next start (or the next opening of the library) finishes or undoes what a kill
// left half done. The song list is the point of no return: what it names is done.

// db/dropping.txt: the note of the library's drops (see common/dropnote.h).
QString pendingCopiesFile(const AppPaths& paths);
// Replaces the note, durably. Returns the reason of a failure, or an empty text.
QString notePendingCopies(const AppPaths& paths, const QList<PendingCopy>& copies);

// A renumber or a delete of a song whose video is renamed or removed.
struct PendingEdit
{
    enum class Kind { Renumber, Delete };
    Kind kind = Kind::Renumber;
    qint64 number = 0;    // the song as the list held it
    qint64 newNumber = 0; // a renumber's new number
    bool operator==(const PendingEdit&) const = default;
};

// db/editing.txt: "renumber OLD NEW" or "delete NUMBER", each a song number.
QString pendingEditFile(const AppPaths& paths);
QString notePendingEdit(const AppPaths& paths, const PendingEdit& edit);
QByteArray pendingEditContent(const PendingEdit& edit);
std::optional<PendingEdit> parsePendingEdit(QByteArrayView content);

// The names in src/ of the videos that a list names: the songs, the entries of both time-signal
// lists, the videos of the time list and the intro. nullopt, with the reason in *error, when one of
// the lists exists and cannot be read: nothing may then be removed or moved.
std::optional<QSet<QString>> videosNamedByLists(const AppPaths& paths, QString* error);

// Settles the notes a killed drop or edit left (see settleDropNote() for the drop's):
// - a renumber the list shows done has its video under the new number, one it shows not done under
//   the old number; a delete the list shows done has its video removed;
// - a video that any list names is never moved or removed, and a renumber whose two numbers are both
//   listed, or neither, moves nothing.
// Each note is removed once settled.
Recovery recoverInterruptedChanges(const AppPaths& paths);

} // namespace tarv
