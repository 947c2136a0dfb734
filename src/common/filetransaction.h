#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarv {

// The journal of the changes that replace several files together (db/saving.txt). Every such change
// of the program uses this one journal, so that the start finishes them all in one place.
inline QString changeJournal(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/saving.txt"));
}

// A file and the whole content it is to have.
struct FileChange
{
    QString path;
    QByteArray content;
};

// Replaces every file with its content, all or nothing, through the journal:
//  1. the journal (each path relative to the journal's folder, each new content, an end line with a
//     checksum) is saved with saveFile(), so that it is complete and durable before any file changes;
//  2. each file is saved with saveFile();
//  3. the journal is removed and its folder synced.
// A kill after 1 is finished forward by finishFileChanges() at the next start. A failure at 1 changes
// nothing. A failure at a later file puts back the files already replaced (their old content was
// read before 1); only when that fails too does the journal stay, so that the next start finishes
// the change. A journal left by an earlier change is finished first.
// Returns an empty text on success, otherwise a message in Japanese that names the files, says
// whether they changed, and gives the reason.
QString saveFilesTogether(const QString& journal, const QList<FileChange>& changes);

// Finishes what a kill left half done; call it at start before anything reads the files. A complete
// journal is written again file by file (the same contents, however often) and then removed. A
// torn journal (no end line, a wrong checksum) is removed: no file was touched before it was whole.
// Returns the paths written; a failure goes to *error and the journal stays for the next time.
QStringList finishFileChanges(const QString& journal, QString* error = nullptr);

} // namespace tarv
