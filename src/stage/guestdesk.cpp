#include "stage/guestdesk.h"

#include <algorithm>
#include <utility>

namespace tarv {

std::shared_ptr<void> ChangeWatchers::watch(std::function<void()> changed)
{
    const std::lock_guard lock(m_state->mutex);
    const auto place = m_state->watchers.insert(m_state->watchers.end(), std::move(changed));
    return std::shared_ptr<void>(nullptr, [state = m_state, place](void*) {
        const std::lock_guard lock(state->mutex);
        state->watchers.erase(place);
    });
}

void ChangeWatchers::notify() const
{
    const std::lock_guard lock(m_state->mutex);
    for (const auto& changed : m_state->watchers)
        changed();
}

bool GuestDesk::changeLocked(std::optional<QueueEntry> playing, QList<QueueEntry> waiting, QList<QueueEntry> accepted)
{
    const QueueSnapshot& now = *m_snapshot;
    if (now.playing == playing && now.waiting == waiting && now.accepted == accepted)
        return false;
    auto next = std::make_shared<QueueSnapshot>();
    next->version = now.version + 1;
    next->playing = std::move(playing);
    next->waiting = std::move(waiting);
    next->accepted = std::move(accepted);
    m_snapshot = std::move(next);
    ++m_changes;
    return true;
}

void GuestDesk::changed()
{
    m_watchers.notify();
}

void GuestDesk::submit(Command command)
{
    std::lock_guard lock(m_mutex);
    m_inbox.push_back(std::move(command));
}

void GuestDesk::submitReservation(const Cmd::Reserve& reserve, const QString& title)
{
    {
        std::lock_guard lock(m_mutex);
        m_inbox.push_back(reserve);
        ++m_untaken;
        QList<QueueEntry> accepted = m_snapshot->accepted;
        accepted.append(
            {0, reserve.number, title, reserve.user, reserve.device, reserve.keyTempo.value_or(KeyTempo{})});
        changeLocked(m_snapshot->playing, m_snapshot->waiting, std::move(accepted));
    }
    changed();
}

std::vector<Command> GuestDesk::take()
{
    std::lock_guard lock(m_mutex);
    m_taken += std::exchange(m_untaken, 0);
    return std::exchange(m_inbox, {});
}

void GuestDesk::clear()
{
    bool change = false;
    {
        std::lock_guard lock(m_mutex);
        m_inbox.clear();
        m_untaken = 0;
        m_taken = 0;
        change = changeLocked(std::nullopt, {}, {});
    }
    if (change)
        changed();
}

void GuestDesk::publishQueue(const std::optional<QueueEntry>& playing, const QList<QueueEntry>& waiting)
{
    bool change = false;
    {
        std::lock_guard lock(m_mutex);
        QList<QueueEntry> accepted = m_snapshot->accepted;
        accepted.remove(0, std::min(m_taken, accepted.size()));
        m_taken = 0;
        change = changeLocked(playing, waiting, std::move(accepted));
    }
    if (change)
        changed();
}

std::shared_ptr<const QueueSnapshot> GuestDesk::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

void GuestDesk::publishPosition(std::optional<double> seconds, int tempo)
{
    bool change = false;
    {
        std::lock_guard lock(m_mutex);
        change = m_position.has_value() != seconds.has_value() || m_tempo != tempo;
        m_position = seconds;
        m_tempo = tempo;
        if (change)
            ++m_changes;
    }
    if (change)
        changed();
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
    bool change = false;
    {
        std::lock_guard lock(m_mutex);
        // The seconds until each count down as time goes by: a change is another signal ahead, which
        // comes later than the one before it at that place.
        change = !std::equal(
            m_signals.cbegin(), m_signals.cend(), ahead.cbegin(), ahead.cend(),
            [](const DeskSignal& was, const DeskSignal& is) { return was.videos == is.videos && is.in <= was.in + 1; });
        m_signals = ahead;
        if (change)
            ++m_changes;
    }
    if (change)
        changed();
}

QList<DeskSignal> GuestDesk::timeSignals() const
{
    std::lock_guard lock(m_mutex);
    return m_signals;
}

void GuestDesk::publishClosing(std::optional<QTime> closing)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closing == closing)
            return;
        m_closing = closing;
        ++m_changes;
    }
    changed();
}

std::optional<QTime> GuestDesk::closing() const
{
    std::lock_guard lock(m_mutex);
    return m_closing;
}

} // namespace tarv
