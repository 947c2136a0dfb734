#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarv {

// One entry of db/musiclist.txt. The title keeps its bytes as read, so a title nobody edits is
// written back byte for byte, even when they are not valid CP932.
struct Song
{
    qint64 number = 0;
    QByteArray rawTitle;

    QString title() const;
    QString numberText() const { return QString::number(number); }
    // "100001 | 夜明けの歌", as the library window lists it.
    QString displayText() const;

    // An entry with a title a person typed (encoded to CP932).
    static Song fromTitle(qint64 number, const QString& title);
};

// The mark of a placed entry in the ordering; the first number that is not a song number.
constexpr qint64 PlacedMark = 999999;
constexpr qint64 FirstSongNumber = 100000;
constexpr qint64 LastSongNumber = 999998;

struct SongListLoad
{
    QList<Song> songs;
    bool found = false;   // the file exists and was read
    QString error;        // why it could not be read (empty when found or simply missing)
    QStringList warnings; // lines skipped while reading, for the operator
};

// Load: every number line / title line pair, in file order. A missing file is an empty library.
// A number line that does not begin with a number, or a number line alone at the end, is skipped
// and named in the warnings.
SongListLoad loadSongList(const QString& path);
SongListLoad parseSongList(const QByteArray& content);

// Order: ascending by number, equal numbers in their input order.
QList<Song> orderSongs(QList<Song> songs);

// The bytes of a list: " number " then the title, each line ending in CR LF.
QByteArray serializeSongList(const QList<Song>& songs);

// Rewrite: replaces the whole file atomically with the entries in the given order.
// Returns an empty text on success, otherwise the reason (the old file is then unchanged).
QString rewriteSongList(const QString& path, const QList<Song>& songs);

// The backup name of a moment: db/bu/yyyyMMddhhmmss.txt.
QString backupFileName(const QDateTime& when);

// Back up: copies db/musiclist.txt byte for byte into db/bu/ under the moment's name (replacing a
// backup of the same second). Returns an empty text on success, otherwise the reason.
QString backupSongList(const AppPaths& paths, const QDateTime& when);

struct LibraryTotals
{
    qint64 count = 0;
    qint64 bytes = 0;
    QStringList missingVideos; // numbers of entries whose video is not in src/
};

// Library totals: the entry count and the summed size of src/<number> of every entry.
LibraryTotals libraryTotals(const AppPaths& paths, const QList<Song>& songs);

// "--- All files:12Count (3.4MB : 0GB) ---" (megabytes to one decimal, gigabytes to two, truncated).
QString summaryLine(const LibraryTotals& totals);

} // namespace tarv
