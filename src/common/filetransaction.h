#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarv {

// The journal of the changes that replace several small files of db/ together (db/saving.txt): it
// holds their whole new contents, so a change it notes is always finished forward. The time-signal
// lists' save is such a change.
//
// Changes that also copy, rename or remove videos in src/ cannot hold what they write, so they keep
// notes of their own, which say what is about to be done; their recovery reads the list the change
// ends with to finish or undo it (common/dropnote.h, library/recovery.h):
//  - db/dropping.txt, a drop into the library; db/editing.txt, a renumber or delete of a song;
//  - db/zihodropping.txt, a drop of time-signal videos.
// The start finishes this journal before anything reads db/; the notes are settled where their lists
// are opened (the library, the time-signal window), and each change waits for an earlier one of its
// own kind to be settled.
inline QString changeJournal(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/saving.txt"));
}

// The files of db/ that a journal may replace, and no others: a journal names its files by these
// names, never by a path, so that no journal can write anything else.
enum class JournalFile { InstalledSignals, EnabledSignals, SignalTimes };
QString journalFileName(JournalFile file); // "ziholist.txt"

// A file and the whole content it is to have.
struct FileChange
{
    JournalFile file;
    QByteArray content;
    bool operator==(const FileChange&) const = default;
};

// Replaces every file with its content, all or nothing, through the journal:
//  1. the journal (each file's name, its new content, an end line with a checksum) is saved with
//     saveFile(), so that it is complete and durable before any file changes;
//  2. each file is saved with saveFile();
//  3. the journal is removed and its folder synced.
// A kill after 1 is finished forward by finishFileChanges() at the next start. A failure at 1 changes
// nothing. A failure at a later file puts back the files already replaced (their old content was
// read before 1); only when that fails too does the journal stay, so that the next start finishes
// the change. A journal left by an earlier change is finished first; while it cannot be, nothing is
// saved.
// Returns an empty text on success, otherwise a message in Japanese that names the files, says
// whether they changed, and gives the reason.
QString saveFilesTogether(const AppPaths& paths, const QList<FileChange>& changes);

// A journal's content read: whole (its changes), torn (no end line, a wrong checksum, a step it does
// not know), or refused (whole, but naming a file that is not a JournalFile; its name in refusedName).
struct ChangeJournal
{
    enum class State { Torn, Refused, Whole };
    State state = State::Torn;
    QList<FileChange> changes;
    QString refusedName;
};
ChangeJournal parseChangeJournal(QByteArrayView bytes);
QByteArray changeJournalContent(const QList<FileChange>& changes);

// Finishes what a kill left half done; call it at start before anything reads the files. A whole
// journal is written again file by file (the same contents, however often) and then removed. A
// torn journal is removed: no file was touched before it was whole. A refused journal writes
// nothing and stays. Returns the names of the files written; why the journal stays goes to *error,
// in words that name the journal and say what to do.
QStringList finishFileChanges(const AppPaths& paths, QString* error = nullptr);

} // namespace tarv
