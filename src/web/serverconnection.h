#pragma once

// The guest server's connections, inside tarv_web only: Boost stays out of every other header.

#include "web/answers.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tarv {

class Connection;

// The open connections, oldest first (for eviction), and how many each client address holds.
struct ConnectionTable
{
    int open = 0;
    std::map<std::string, int> perClient;
    std::list<Connection*> list;
};

// A connection counted in the caps while it lives. Used on the server's thread only.
class Connection
{
public:
    Connection(ConnectionTable& table, std::string client);
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& client() const { return m_client; }
    // Waits for its client (or its client does not take what it is sent): may be closed to make room.
    virtual bool idle(std::chrono::steady_clock::time_point now) const = 0;
    virtual void evict() = 0;

protected:
    // To the end of the line for eviction.
    void toBack();

private:
    ConnectionTable& m_table;
    const std::string m_client;
    std::list<Connection*>::iterator m_place;
};

// The way back to the server's thread from any other, which outlives the server: once it has
// stopped, what is posted is dropped where it was posted (so it holds no connection alive).
class ServerLink
{
public:
    explicit ServerLink(boost::asio::io_context& io) : m_io(&io) {}

    template <typename Job> void post(Job&& job)
    {
        const std::lock_guard lock(m_mutex);
        if (m_io)
            boost::asio::post(*m_io, std::forward<Job>(job));
    }
    void cut()
    {
        const std::lock_guard lock(m_mutex);
        m_io = nullptr;
    }

private:
    std::mutex m_mutex;
    boost::asio::io_context* m_io;
};

struct LiveLimits
{
    std::size_t frameBytes;
    std::chrono::milliseconds handshakeTimeout;
    std::chrono::milliseconds idleTimeout;
    std::chrono::milliseconds writeTimeout;
};

// Turns the connection that sent this upgrade request into a WebSocket that carries the channel's
// messages: the latest at once, then each newer one; a message from the phone asks for the latest
// again. A frame over the limit, a phone that answers no ping, and one that does not take a message
// in time are closed.
void startLive(boost::beast::tcp_stream stream, boost::beast::http::request<boost::beast::http::string_body> request,
               ConnectionTable& table, std::string client, std::shared_ptr<ServerLink> link,
               std::shared_ptr<LiveChannel> channel, LiveLimits limits);

} // namespace tarv
