#pragma once

#include "web/guestservice.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tarv {

// An answer given later, on any thread: the request waits for it, and the server serves the other
// connections meanwhile. Only the first answer given counts.
class LaterAnswer
{
public:
    void give(HttpResponse response);
    // The server's: where the answer goes, on the thread that gives it (at once when it has been given).
    void onGiven(std::function<void(HttpResponse)> send);

private:
    std::mutex m_mutex;
    std::unique_ptr<HttpResponse> m_given;
    std::function<void(HttpResponse)> m_send;
    bool m_done = false;
};

// A message of a live channel, and its version: a message of another version is worth sending.
struct LiveMessage
{
    quint64 version = 0;
    std::shared_ptr<const std::string> text; // none: nothing to say yet
};

// What a WebSocket carries to one phone: the newest message is all that counts, so a connection
// sends the latest one it has not sent and never a backlog. Used on the server's thread.
class LiveChannel
{
public:
    virtual ~LiveChannel() = default;
    virtual LiveMessage latest() = 0;
    // Calls changed, on any thread, whenever latest() may have changed, until the handle goes.
    virtual std::shared_ptr<void> watch(std::function<void()> changed) = 0;
};

// One thread that runs jobs one after another, in the order they were posted. The jobs posted before
// it goes are run before it goes.
class SerialWorker
{
public:
    SerialWorker();
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tarv
