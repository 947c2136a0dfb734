#pragma once

#include "stage/command.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tarv {

// A waiting reservation as the guests' server sees it: enough to mark a phone's own songs and to
// let it cancel them.
struct DeskEntry
{
    quint64 id = 0;
    QString number;
    QString user;
    QString device;
    KeyTempo keyTempo;
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
// session publishes its waiting reservations, the playing song's position and tempo, and the time
// signals ahead for the server.
// Thread-safe: the server's threads and the session's thread share it.
class GuestDesk
{
public:
    void submit(Command command);
    // Everything submitted since the last take, oldest first.
    std::vector<Command> take();
    // Karaoke mode ended: what still waits is dropped, as the stage's queue is.
    void clear();

    void publishQueue(const QList<DeskEntry>& waiting);
    // The stage's waiting reservations as last published, in playing order.
    std::shared_ptr<const QList<DeskEntry>> queue() const;
    // Seconds into the song playing (media seconds) and its tempo in percent; none when nothing plays.
    void publishPosition(std::optional<double> seconds, int tempo = 0);
    std::optional<double> position() const;
    int tempo() const;
    // The time signals that will fire, soonest first; none while time signals are off.
    void publishTimeSignals(const QList<DeskSignal>& ahead);
    QList<DeskSignal> timeSignals() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Command> m_inbox;
    std::shared_ptr<const QList<DeskEntry>> m_queue = std::make_shared<const QList<DeskEntry>>();
    std::optional<double> m_position;
    int m_tempo = 0;
    QList<DeskSignal> m_signals;
};

} // namespace tarv
