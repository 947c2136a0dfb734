#pragma once

#include "common/apppaths.h"
#include "common/dropnote.h"

#include <QByteArray>
#include <QList>
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
};

// db/editing.txt: "renumber OLD NEW" or "delete NUMBER".
QString pendingEditFile(const AppPaths& paths);
QString notePendingEdit(const AppPaths& paths, const PendingEdit& edit);
std::optional<PendingEdit> readPendingEdit(const AppPaths& paths);

// Settles the notes a killed drop or edit left:
// - a noted copy that the list does not name is removed again while its source still exists, and
//   listed under its noted title when the source is gone (it is then the only copy of the video);
// - a renumber the list shows done has its video under the new number, one it shows not done under
//   the old number; a delete the list shows done has its video removed.
// Each note is removed once settled.
Recovery recoverInterruptedChanges(const AppPaths& paths);

} // namespace tarv
