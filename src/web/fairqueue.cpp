#include "web/fairqueue.h"

#include <QLoggingCategory>

#include <exception>

namespace tarv {

Q_LOGGING_CATEGORY(lcFairQueue, "tarv.web.workers")

FairQueue::FairQueue(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

FairQueue::~FairQueue()
{
    stop();
}

void FairQueue::push(const std::string& address, const std::string& device, std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        auto place = m_addresses.find(address);
        if (place == m_addresses.end()) // a newcomer waits for one turn of each address before it
            place = m_addresses.emplace(address, m_turns.insert(m_turns.end(), Address{address, {}, {}})).first;
        Address& from = *place->second;
        auto own = from.devices.find(device);
        if (own == from.devices.end())
            own = from.devices.emplace(device, from.turns.insert(from.turns.end(), Device{device, {}})).first;
        own->second->jobs.push_back(std::move(job));
    }
    m_waiting.notify_one();
}

std::function<void()> FairQueue::next()
{
    const auto address = m_turns.begin();
    const auto device = address->turns.begin();
    std::function<void()> job = std::move(device->jobs.front());
    device->jobs.pop_front();
    // What still waits goes to the end of the line.
    if (device->jobs.empty()) {
        address->devices.erase(device->name);
        address->turns.erase(device);
    } else {
        address->turns.splice(address->turns.end(), address->turns, device);
    }
    if (address->turns.empty()) {
        m_addresses.erase(address->name);
        m_turns.erase(address);
    } else {
        m_turns.splice(m_turns.end(), m_turns, address);
    }
    return job;
}

void FairQueue::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_waiting.wait(lock, [this] { return m_stopping || !m_turns.empty(); });
        if (m_stopping)
            return;
        std::function<void()> job = next();
        lock.unlock();
        try {
            job();
        } catch (const std::exception& e) {
            qCWarning(lcFairQueue) << "job failed:" << e.what();
        }
        job = nullptr; // what it holds goes before the lock is taken again
        lock.lock();
    }
}

void FairQueue::stop()
{
    std::list<Address> dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_turns);
        m_addresses.clear();
    }
    m_waiting.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    // dropped goes here, out of the lock: its jobs may hold what takes a lock of its own to release.
}

} // namespace tarv
