#include "web/answers.h"

namespace tarv {

void LaterAnswer::give(HttpResponse response)
{
    std::unique_lock lock(m_mutex);
    if (m_done || m_given)
        return;
    if (!m_send) {
        m_given = std::make_unique<HttpResponse>(std::move(response));
        return;
    }
    m_done = true;
    auto send = std::move(m_send);
    lock.unlock();
    send(std::move(response));
}

void LaterAnswer::onGiven(std::function<void(HttpResponse)> send)
{
    std::unique_lock lock(m_mutex);
    if (m_done)
        return;
    if (!m_given) {
        m_send = std::move(send);
        return;
    }
    m_done = true;
    HttpResponse given = std::move(*m_given);
    m_given.reset();
    lock.unlock();
    send(std::move(given));
}

SerialWorker::SerialWorker() : m_thread([this] { run(); }) {}

SerialWorker::~SerialWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_posted.notify_one();
    m_thread.join();
}

void SerialWorker::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_posted.notify_one();
}

void SerialWorker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_posted.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the next one runs
        lock.lock();
    }
}

} // namespace tarv
