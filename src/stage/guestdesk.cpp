#include "stage/guestdesk.h"

#include <utility>

namespace tarv {

void GuestDesk::submit(Command command)
{
    std::lock_guard lock(m_mutex);
    m_inbox.push_back(std::move(command));
}

std::vector<Command> GuestDesk::take()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_inbox, {});
}

void GuestDesk::clear()
{
    std::lock_guard lock(m_mutex);
    m_inbox.clear();
}

void GuestDesk::publishQueue(const QList<DeskEntry>& waiting)
{
    auto queue = std::make_shared<const QList<DeskEntry>>(waiting);
    std::lock_guard lock(m_mutex);
    m_queue = std::move(queue);
}

std::shared_ptr<const QList<DeskEntry>> GuestDesk::queue() const
{
    std::lock_guard lock(m_mutex);
    return m_queue;
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
