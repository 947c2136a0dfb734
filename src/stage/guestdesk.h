#pragma once

#include "stage/command.h"

#include <QList>
#include <QString>

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

// What the program's own guest server hands the karaoke session, and what the session shows back.
// The server submits logins, reservations (already in the queue record) and cancels in the order it
// accepted them; the session takes them all on its event loop, unless a time signal plays. The
// session publishes its waiting reservations and the playing song's position for the server.
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
    // Seconds into the song playing; none when nothing plays.
    void publishPosition(std::optional<double> seconds);
    std::optional<double> position() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Command> m_inbox;
    std::shared_ptr<const QList<DeskEntry>> m_queue = std::make_shared<const QList<DeskEntry>>();
    std::optional<double> m_position;
};

} // namespace tarv
