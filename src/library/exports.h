#pragma once

#include "common/apppaths.h"
#include "library/songlist.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace tarv {

// A date and time in the general date form of the operator's Japanese system: "2026/03/14 21:05:09",
// the date alone at exactly midnight.
QString generalDateText(const QDateTime& when);

// The song book db/db.html for entries already in ascending order, in CP932 with CR LF. Titles are
// escaped, so a title holding < or & reads as typed.
QByteArray songBookHtml(const QList<Song>& ordered, const QString& lastUpdate, const QString& systemVersion);

// The web song file: "number$title$ENT" per entry, CP932 with CR LF; empty for an empty list.
QByteArray webSongFileContent(const QList<Song>& ordered);

struct ExportResult
{
    enum class Status {
        Done,
        PathError, // db/path.txt names no web root whose cgi-bin/tarv/ folder exists
        Failed,    // the song list could not be read or the file could not be written
    };
    Status status = Status::Done;
    QString error;

    bool ok() const { return status == Status::Done; }
};

// Writes db/db.html from the song list.
ExportResult exportSongBook(const AppPaths& paths, const QString& systemVersion);

// Writes songdb.txt into the exchange folder of the web root.
ExportResult exportWebSongFile(const AppPaths& paths);

inline const QString SongBookDoneText = QStringLiteral("Finish : DB > HTML");
inline const QString WebSongFileDoneText = QStringLiteral("Finish : DB > CGIDB");

} // namespace tarv
