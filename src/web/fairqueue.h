#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tarv {

// Jobs run on a few worker threads, shared out in turns: one job of each address that has jobs
// waiting, then the next address's, and within an address one job of each of its devices in turn;
// each device's jobs in the order they came. So an address with many jobs waiting (a script on many
// connections) delays another's next job by at most one of its own, and a phone behind a shared
// Wi-Fi address delays the other phones there the same way. Thread-safe.
class FairQueue
{
public:
    explicit FairQueue(int threads);
    ~FairQueue();
    FairQueue(const FairQueue&) = delete;
    FairQueue& operator=(const FairQueue&) = delete;

    void push(const std::string& address, const std::string& device, std::function<void()> job);
    // Lets the jobs that run finish and joins the threads; the jobs still waiting are dropped.
    void stop();

private:
    struct Device
    {
        std::string name;
        std::deque<std::function<void()>> jobs;
    };
    struct Address
    {
        std::string name;
        std::list<Device> turns; // the next device first
        std::unordered_map<std::string, std::list<Device>::iterator> devices;
    };

    void work();
    std::function<void()> next(); // under the lock, with a job waiting

    std::mutex m_mutex;
    std::condition_variable m_waiting;
    bool m_stopping = false;
    std::list<Address> m_turns; // the next address first
    std::unordered_map<std::string, std::list<Address>::iterator> m_addresses;
    std::vector<std::thread> m_threads;
};

} // namespace tarv
