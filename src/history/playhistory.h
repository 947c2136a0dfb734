#pragma once

#include "history/playcounts.h"
#include "history/playlog.h"

#include <memory>

namespace tarv {

// The room's memory of what it sang: the play log and the counts built from it once at start and
// kept as songs play. The stage tells it when songs start and end; the guests' server reads
// snapshot() from its threads. Thread-safe.
class PlayHistory
{
public:
    explicit PlayHistory(const AppPaths& paths, const Clock& clock = systemClock(),
                         qint64 rotationBytes = PlayLog::DefaultRotationBytes);
    ~PlayHistory(); // syncs the log
    PlayHistory(const PlayHistory&) = delete;
    PlayHistory& operator=(const PlayHistory&) = delete;

    // Reads the log's files and counts them (about a second for a million plays, so a worker
    // thread's work). Songs that start meanwhile wait for it; the first of them loads the log when
    // nothing did. Once: a second call reads nothing.
    PlayLogReport load();

    // A song began to play: logged and counted. Returns the play's id for songEnded(); 0 for a
    // number that is no song number (the intro, a time signal), which is not logged.
    quint64 songStarted(const PlayStart& start);
    // The play of id ended after it played seconds, at the key and tempo the singer left it at.
    void songEnded(quint64 id, int seconds, KeyTempo endedAt = {});
    // Tonight's ranking counts the plays from start on (the karaoke session's start); until set,
    // from the construction on.
    void setSessionStart(const QDateTime& start);
    // For a timer, about once a second: syncs what the log holds unsynced.
    void syncIfDue();

    // The counts as they stand; never null. A snapshot of an earlier month is handed on with an
    // empty month's ranking.
    std::shared_ptr<const PlaySnapshot> snapshot() const;

    // Why the log was last not written or synced; empty when it was.
    QString logError() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tarv
