#include "stage/guestdesk.h"

#include <algorithm>
#include <utility>

namespace tarv {

void GuestDesk::changeLocked(std::optional<QueueEntry> playing, QList<QueueEntry> waiting, QList<QueueEntry> accepted)
{
    const QueueSnapshot& now = *m_snapshot;
    if (now.playing == playing && now.waiting == waiting && now.accepted == accepted)
        return;
    auto next = std::make_shared<QueueSnapshot>();
    next->version = now.version + 1;
    next->playing = std::move(playing);
    next->waiting = std::move(waiting);
    next->accepted = std::move(accepted);
    m_snapshot = std::move(next);
}

void GuestDesk::submit(Command command)
{
    std::lock_guard lock(m_mutex);
    m_inbox.push_back(std::move(command));
}

void GuestDesk::submitReservation(const Cmd::Reserve& reserve, const QString& title)
{
    std::lock_guard lock(m_mutex);
    m_inbox.push_back(reserve);
    ++m_untaken;
    QList<QueueEntry> accepted = m_snapshot->accepted;
    accepted.append({0, reserve.number, title, reserve.user, reserve.device, reserve.keyTempo.value_or(KeyTempo{})});
    changeLocked(m_snapshot->playing, m_snapshot->waiting, std::move(accepted));
}

std::vector<Command> GuestDesk::take()
{
    std::lock_guard lock(m_mutex);
    m_taken += std::exchange(m_untaken, 0);
    return std::exchange(m_inbox, {});
}

void GuestDesk::clear()
{
    std::lock_guard lock(m_mutex);
    m_inbox.clear();
    m_untaken = 0;
    m_taken = 0;
    changeLocked(std::nullopt, {}, {});
}

void GuestDesk::publishQueue(const std::optional<QueueEntry>& playing, const QList<QueueEntry>& waiting)
{
    std::lock_guard lock(m_mutex);
    QList<QueueEntry> accepted = m_snapshot->accepted;
    accepted.remove(0, std::min(m_taken, accepted.size()));
    m_taken = 0;
    changeLocked(playing, waiting, std::move(accepted));
}

std::shared_ptr<const QueueSnapshot> GuestDesk::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}
void GuestDesk::publishPosition(std::optional<double> seconds, int tempo)
{
    std::lock_guard lock(m_mutex);
    m_position = seconds;
    m_tempo = tempo;
}

std::optional<double> GuestDesk::position() const
{
    std::lock_guard lock(m_mutex);
    return m_position;
}

int GuestDesk::tempo() const
{
    std::lock_guard lock(m_mutex);
    return m_tempo;
}

void GuestDesk::publishTimeSignals(const QList<DeskSignal>& ahead)
{
    std::lock_guard lock(m_mutex);
    m_signals = ahead;
}

QList<DeskSignal> GuestDesk::timeSignals() const
{
    std::lock_guard lock(m_mutex);
    return m_signals;
}

} // namespace tarv
