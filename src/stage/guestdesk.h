#pragma once

#include "common/keytempo.h"
#include "common/songnumber.h"
#include "stage/command.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tarv {

// Who wants to hear of a change: each is called at every notify(), on the thread that notifies, until
// its handle goes. A call is quick and neither watches nor lets go of a handle itself.
class ChangeWatchers
{
public:
    std::shared_ptr<void> watch(std::function<void()> changed);
    void notify() const;

private:
    struct State
    {
        std::mutex mutex;
        std::list<std::function<void()>> watchers;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A song of the room's queue as the guests' server sees it.
struct QueueEntry
{
    quint64 id = 0; // the stage's id; 0 for a reservation accepted and not yet taken by the stage
    SongNumber number;
    QString title;
    QString user;
    QString device = {}; // the phone that reserved it; empty for the keypad and the request file
    KeyTempo keyTempo = {};
    bool held = false; // its singer is away: passed over until released ("保留")
    bool operator==(const QueueEntry&) const = default;
};

// The room's queue at one moment: the song playing, the stage's waiting songs in playing order, then
// the guests' reservations accepted and not yet taken by the stage, in the order they were accepted
// (the stage queues them after the others). The version grows with every change of any of them.
struct QueueSnapshot
{
    quint64 version = 0;
    std::optional<QueueEntry> playing;
    QList<QueueEntry> waiting;
    QList<QueueEntry> accepted;
};

// A time signal that will fire, as the session published it: in how many seconds, and the videos of
// src/ one of which it plays.
struct DeskSignal
{
    double in = 0;
    QStringList videos;
};

// What the program's own guest server hands the karaoke session, and what the session shows back.
// The server submits logins, reservations (already in the queue record) and cancels in the order it
// accepted them; the session takes them all on its event loop, unless a time signal plays. The
// session publishes its queue after every change, and the playing song's position and tempo and the
// time signals ahead, for the server.
//
// The desk holds the one view of the queue that the phones read: the stage's queue as last published
// and what was accepted since. A reservation stays in the accepted part from its submit until the
// first publish after the stage took it, so no snapshot ever misses it.
// Thread-safe: the server's threads and the session's thread share it.
class GuestDesk
{
public:
    void submit(Command command);
    // A guest's reservation of a song of that title: shown as accepted until the stage has it.
    void submitReservation(const Cmd::Reserve& reserve, const QString& title);
    // Everything submitted since the last take, oldest first.
    std::vector<Command> take();
    // Karaoke mode ended: what still waits is dropped, as the stage's queue is.
    void clear();

    // The stage's queue: the song playing and the waiting ones in playing order. Every reservation
    // taken before this call has been carried out.
    void publishQueue(const std::optional<QueueEntry>& playing, const QList<QueueEntry>& waiting);
    // The queue as it stands; never null.
    std::shared_ptr<const QueueSnapshot> snapshot() const;

    // Seconds into the song playing (media seconds) and its tempo in percent; none when nothing plays.
    void publishPosition(std::optional<double> seconds, int tempo = 0);
    std::optional<double> position() const;
    int tempo() const;
    // The time signals that will fire, soonest first; none while time signals are off.
    void publishTimeSignals(const QList<DeskSignal>& ahead);
    QList<DeskSignal> timeSignals() const;
    // The closing time the session runs to (none: no closing time).
    void publishClosing(std::optional<QTime> closing);
    std::optional<QTime> closing() const;
    // The host's phone changed the order or the closing time in db/: the session reads them again at
    // its next take (takeSettingsChanged() says whether it should, once).
    void settingsChanged() { m_settingsChanged = true; }
    bool takeSettingsChanged() { return m_settingsChanged.exchange(false); }

    // How many times what the phones show of the room has changed: the queue, the tempo, whether a
    // song plays, which time signals are ahead. The position moving on as a song plays is no change.
    quint64 changes() const { return m_changes.load(); }
    // Calls changed after each such change, on the thread that made it, until the handle goes.
    std::shared_ptr<void> watch(std::function<void()> changed) { return m_watchers.watch(std::move(changed)); }

private:
    // True when the snapshot changed.
    bool changeLocked(std::optional<QueueEntry> playing, QList<QueueEntry> waiting, QList<QueueEntry> accepted);
    // Called without the lock.
    void changed();

    mutable std::mutex m_mutex;
    std::vector<Command> m_inbox;
    qsizetype m_untaken = 0; // accepted reservations in the inbox
    qsizetype m_taken = 0;   // accepted reservations taken by the stage and not yet in a published queue
    std::shared_ptr<const QueueSnapshot> m_snapshot = std::make_shared<const QueueSnapshot>();
    std::optional<double> m_position;
    int m_tempo = 0;
    QList<DeskSignal> m_signals;
    std::optional<QTime> m_closing;
    std::atomic<bool> m_settingsChanged = false;
    std::atomic<quint64> m_changes = 0;
    ChangeWatchers m_watchers;
};

} // namespace tarv
