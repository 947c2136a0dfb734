#pragma once

#include "common/clock.h"
#include "common/keytempo.h"
#include "common/songnumber.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

namespace tarv {

// A reservation as the queue record keeps it: the number as reserved, the user it is for, and what the
// phone or the stage chose for it.
struct RecordedReservation
{
    SongNumber number;
    QString user;
    std::optional<KeyTempo> keyTempo = std::nullopt; // none: at what the user last sang the song at
    QString device = {};                             // the phone that reserved it; empty for none
    quint64 id = 0;                                  // the stage's id of it; 0 before the stage queued it
    bool playing = false;                            // the song playing when the record was written
    bool held = false;                               // passed over until its singer is back
    bool pinned = false;                             // moved to the front on the keypad
    bool operator==(const RecordedReservation&) const = default;
};

// The reservation of that number for that user as the karaoke session queues it: under the stored
// user name ("Guest" for none).
RecordedReservation requestedReservation(SongNumber number, const QString& user);

// What a record's content holds: the reservations it can read, the song that was playing first, at most
// MaxEntries of them; and how many lines it left out (unreadable, or beyond the limit).
struct RecordContent
{
    static constexpr qsizetype MaxEntries = 10000; // a room's queue is a few hundred songs at most

    QList<RecordedReservation> entries;
    qsizetype unreadable = 0;
    qsizetype beyondLimit = 0;
};

// UTF-8, one reservation a line, fields separated by tabs: number, user, key, tempo, device, id, then
// the marks that apply, in this order: "playing" for the song that was playing, "held" for a held song,
// "pinned" for one moved to the front. Key and tempo are empty when the user's last ones apply, the
// device when no phone reserved it, and the id is 0 before the stage queued it. Lines of an older
// version hold the number and the user only (or the number alone, for "Guest"), or no marks but
// "playing", and are read.
RecordContent parseRecord(QByteArrayView content);
QByteArray recordLine(const RecordedReservation& reservation);

// The queue record (db/queue.txt): every reservation waiting, in order and with its user, key, tempo and
// phone, so that a kill or a power cut in the middle of a party costs nobody a turn. It holds the song
// playing, the stage's queue, then the guests' reservations that the phone pages accepted and the stage
// has not carried out yet. The file is replaced at every change, before the call returns; a normal end
// of karaoke mode empties it, so a record left with reservations means the last run did not end normally.
//
// What the last run left is offered back: until the operator keeps it (it becomes the queue of the next
// karaoke mode) or discards it, it stays in the file, ahead of what this run records, and is offered
// again at the next start.
//
// Durability: every change is atomic (a kill loses nothing); a change goes to the disk itself at once
// when the last one that did is a second old, and otherwise with syncIfDue(), which the timers call,
// so a power cut loses at most the last second. A cancel goes to the disk at once.
//
// Thread-safe: the guest server's thread accepts and cancels, the karaoke session's thread sets the
// queue; one lock covers each change and its write, so the file always holds what the last change left.
class QueueRecord
{
public:
    explicit QueueRecord(QString path, const Clock& clock = systemClock());

    // Reads the record the last run left; its reservations are offered. Returns how many.
    qsizetype load();
    // What load() offered and nobody answered yet, the song that was playing first.
    QList<RecordedReservation> offered() const;
    // Why load() offered less than the file holds, in words; empty when it offered everything.
    QString loadProblem() const;
    // The operator's answer: the offered reservations become the queue, or are gone for good.
    void keepOffered();
    void discardOffered();

    QList<RecordedReservation> queue() const;

    // A guest's reservation, appended after everything waiting. Returns why it could not be recorded
    // (it must then not be accepted), otherwise an empty text.
    QString accept(const RecordedReservation& reservation);
    // A guest's cancel of a waiting reservation of the stage, by its id, recorded before the stage
    // carries it out. False when it is not waiting (any more), or could not be recorded (why, in *error).
    bool cancel(quint64 id, QString* error = nullptr);
    // The stage's queue and the song it plays now. handOver: the oldest accepted reservation has reached
    // the stage (queued, played at once or refused) and leaves the accepted ones in the same write.
    void setQueue(const QList<RecordedReservation>& queue, const std::optional<RecordedReservation>& playing = {},
                  bool handOver = false);
    // A normal end: nothing waits but what is still offered.
    void clear();
    // Makes an unsynced change durable when the last synced write is a second old.
    void syncIfDue();
    // A change is in the file but may not be on the disk yet.
    bool hasUnsyncedChange() const;

private:
    QString writeLocked(bool forceSync = false);
    bool syncDueLocked(qint64 now) const;

    const QString m_path;
    const Clock& m_clock;
    mutable std::mutex m_mutex;
    QList<RecordedReservation> m_offered;
    QString m_loadProblem;
    std::optional<RecordedReservation> m_playing;
    QList<RecordedReservation> m_queue;
    QList<RecordedReservation> m_accepted;
    QSet<quint64> m_cancelled;        // cancelled by a guest, and still in the stage's queue
    std::optional<qint64> m_lastSync; // the clock's elapsedMs()
    bool m_unsynced = false;
    QString m_error; // of the last write, logged once
};

} // namespace tarv
