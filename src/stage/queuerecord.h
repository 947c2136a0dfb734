#pragma once

#include <QList>
#include <QString>

#include <chrono>
#include <mutex>

namespace tarv {

// A reservation as the queue record keeps it: the number as reserved and the user it is for.
struct RecordedReservation
{
    QString number;
    QString user;
    bool operator==(const RecordedReservation&) const = default;
};

// The reservation a request file's two fields make: the code's number in plain decimal and the stored
// user name ("Guest" for none), as the karaoke session queues it.
RecordedReservation requestedReservation(const QString& code, const QString& user);

// The queue record (db/queue.txt): every reservation waiting, in order and with its user, so that a
// kill or a power cut in the middle of a party costs nobody a turn. It lists the stage's queue, then
// the guests' reservations that the phone pages accepted and the stage has not carried out yet. The
// file is replaced at every change, before the call returns; a normal end of karaoke mode empties it,
// so a record left with reservations means the last run did not end normally.
//
// Durability: every change is atomic (a kill loses nothing); a change goes to the disk itself at once
// when the last one that did is a second old, and otherwise with syncIfDue(), which the timers call,
// so a power cut loses at most the last second.
//
// Thread-safe: the guest server's thread accepts, the karaoke session's thread sets the queue; one
// lock covers each change and its write, so the file always holds what the last change left.
class QueueRecord
{
public:
    explicit QueueRecord(QString path);

    // Reads the record the last run left; its reservations become the queue. Returns how many.
    qsizetype load();
    QList<RecordedReservation> queue() const;

    // A guest's reservation, appended after everything waiting. Returns why it could not be recorded
    // (it must then not be accepted), otherwise an empty text.
    QString accept(const RecordedReservation& reservation);
    // The stage's queue now. handOver: the oldest accepted reservation has reached the stage (queued,
    // played at once or refused) and leaves the accepted ones in the same write.
    void setQueue(const QList<RecordedReservation>& queue, bool handOver = false);
    // A normal end: nothing waits.
    void clear();
    // Makes an unsynced change durable when the last synced write is a second old.
    void syncIfDue();

private:
    using SteadyClock = std::chrono::steady_clock;
    QString writeLocked(bool forceSync = false);

    const QString m_path;
    mutable std::mutex m_mutex;
    QList<RecordedReservation> m_queue;
    QList<RecordedReservation> m_accepted;
    SteadyClock::time_point m_lastSync;
    bool m_unsynced = false;
    QString m_error; // of the last write, logged once
};

} // namespace tarv
