#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "common/keytempo.h"
#include "common/songnumber.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tarv {

// A song that began to play, as the stage tells it.
struct PlayStart
{
    SongNumber number;
    QString user;
    QString device = {}; // the phone that reserved it (its device cookie); empty for none
    KeyTempo keyTempo = {};
};

// A song that began to play, as the play log keeps it.
struct PlayRecord
{
    quint64 id = 0;       // numbers the plays in the order they started; an end line names it
    qint64 startedAt = 0; // seconds since the epoch
    int month = 0;        // the calendar month of the local time it started at: year * 12 + month - 1
    qint64 number = 0;
    QString user;
    QString device; // empty for none
    KeyTempo keyTempo;

    bool operator==(const PlayRecord&) const = default;
};

// year * 12 + month - 1 of a date, as PlayRecord::month counts months.
inline int monthKey(const QDate& date)
{
    return date.year() * 12 + date.month() - 1;
}

// What reading the log hands over, line by line in the order they were written.
class PlayEvents
{
public:
    virtual ~PlayEvents() = default;
    virtual void started(const PlayRecord& play) = 0;
    // How long a play lasted, and the key and tempo it ended at when the singer changed them (none
    // in a line of before they were logged); an id that no start named is for the receiver to ignore.
    virtual void ended(quint64 id, int seconds, std::optional<KeyTempo> endedAt) = 0;
};

struct PlayLogReport
{
    int files = 0;
    qint64 lines = 0;      // starts and ends read
    qint64 unreadable = 0; // lines left out: torn by a crash, damaged, or of another version
    QStringList problems;  // files that could not be read, each with the reason
};

// The play log, db/playlog.txt: one line for every song that began to play and one when it ended,
// only ever appended to. UTF-8, fields separated by tabs, each line closed by the CRC-32 of what
// precedes it (8 hex digits), so a line a crash tore or the disk damaged is known and left out:
//   2026-03-14T21:05:09+09:00 start ID NUMBER USER DEVICE KEY TEMPO CRC
//   2026-03-14T21:09:12+09:00 end ID SECONDS KEY TEMPO CRC
// The time is local with its offset; names are stored names (no tab or line end) and the device is
// empty for none; an end's key and tempo are those the song ended at (an end of only ID SECONDS is
// read too). Appends are written at once and synced at most once a second (syncIfDue(),
// called by a timer, syncs what is left). Past the rotation size the file is renamed to
// playlog-YYYYMMDD-HHMMSS.txt and kept, and a new one begun.
// Not thread-safe: PlayHistory serialises its calls.
class PlayLog
{
public:
    static constexpr qint64 DefaultRotationBytes = 16 * 1024 * 1024;
    // The longest log file read; a file written with the default rotation is far shorter.
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;
    // Syncs are this far apart at least.
    static constexpr qint64 SyncEveryMs = 1000;

    PlayLog(const AppPaths& paths, const Clock& clock, qint64 rotationBytes = DefaultRotationBytes);
    ~PlayLog(); // syncs what is left
    PlayLog(const PlayLog&) = delete;
    PlayLog& operator=(const PlayLog&) = delete;

    // Reads every file of the log, oldest first, handing its starts and ends to events, and goes on
    // numbering plays after the highest id read. Call it before the first append.
    PlayLogReport read(PlayEvents& events);

    // Appends the start of a song. The record as logged (its id and time) comes back even when
    // the write failed (error() says why), so that its end and the counts still work; nullopt for
    // a number that is no song number (the intro, a time signal).
    std::optional<PlayRecord> appendStart(const PlayStart& start);
    // Appends the end of a play, at the key and tempo it ended at. False when it could not be written.
    bool appendEnd(quint64 id, int seconds, KeyTempo endedAt = {});

    // Syncs what was appended once the last sync is a second old. True when it synced.
    bool syncIfDue();
    // Syncs what was appended now. False when the sync failed.
    bool sync();
    bool hasUnsynced() const;

    // Why the last write or sync failed; empty when it went well.
    QString error() const;

    // db/playlog.txt, and the log's files (the kept ones and the current one) oldest first.
    static QString currentFile(const AppPaths& paths);
    static QStringList files(const AppPaths& paths);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tarv
