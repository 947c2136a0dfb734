#include "web/serverconnection.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

namespace tarv {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

Connection::Connection(ConnectionTable& table, std::string client) : m_table(table), m_client(std::move(client))
{
    ++m_table.open;
    ++m_table.perClient[m_client];
    m_place = m_table.list.insert(m_table.list.end(), this);
}

Connection::~Connection()
{
    m_table.list.erase(m_place);
    --m_table.open;
    if (--m_table.perClient[m_client] <= 0)
        m_table.perClient.erase(m_client);
}

void Connection::toBack()
{
    m_table.list.splice(m_table.list.end(), m_table.list, m_place);
}

namespace {

class LiveSocket : public Connection, public std::enable_shared_from_this<LiveSocket>
{
public:
    LiveSocket(beast::tcp_stream stream, ConnectionTable& table, std::string client, std::shared_ptr<ServerLink> link,
               std::shared_ptr<LiveChannel> channel, LiveLimits limits)
        : Connection(table, std::move(client)), m_ws(std::move(stream)), m_link(std::move(link)),
          m_channel(std::move(channel)), m_limits(limits), m_writeTimer(m_ws.get_executor())
    {
    }

    void start(http::request<http::string_body> request)
    {
        m_request = std::move(request);
        // The WebSocket's own timeouts from here: a ping when the phone has been silent half the idle time.
        beast::get_lowest_layer(m_ws).expires_never();
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = m_limits.handshakeTimeout;
        timeout.idle_timeout = m_limits.idleTimeout;
        timeout.keep_alive_pings = true;
        m_ws.set_option(timeout);
        m_ws.read_message_max(m_limits.frameBytes);
        m_ws.async_accept(m_request, [self = shared_from_this()](beast::error_code ec) {
            if (ec)
                return self->close();
            self->m_request = {};
            std::weak_ptr<LiveSocket> weak = self;
            self->m_watch = self->m_channel->watch([link = self->m_link, weak] {
                link->post([weak] {
                    if (const auto socket = weak.lock())
                        socket->refresh();
                });
            });
            self->refresh();
            self->readNext();
        });
    }

    // Only waits for news for its phone: as good as idle.
    bool idle(std::chrono::steady_clock::time_point) const override { return true; }
    void evict() override { close(); }

private:
    void readNext()
    {
        m_in.clear();
        m_ws.async_read(m_in, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            // The phone asks for the room again (it has woken up): the latest, even if sent before.
            self->m_resend = true;
            self->refresh();
            self->readNext();
        });
    }

    void refresh()
    {
        const LiveMessage message = m_channel->latest();
        if (!message.text || (message.version == m_sentVersion && !m_resend))
            return;
        m_resend = false;
        // Only the latest waits: what a slow phone has not taken yet is replaced, never queued.
        m_next = message.text;
        m_nextVersion = message.version;
        if (!m_writing)
            writeNext();
    }

    void writeNext()
    {
        if (!m_next || m_closed)
            return;
        m_writing = std::move(m_next);
        m_sentVersion = m_nextVersion;
        m_writeTimer.expires_after(m_limits.writeTimeout);
        m_writeTimer.async_wait([weak = weak_from_this()](beast::error_code ec) {
            if (ec)
                return;
            if (const auto self = weak.lock())
                self->close(); // a phone that does not read is dropped
        });
        m_ws.text(true);
        m_ws.async_write(asio::buffer(*m_writing), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->m_writeTimer.cancel();
            self->m_writing.reset();
            if (ec)
                return self->close();
            self->writeNext();
        });
    }

    void close()
    {
        m_closed = true;
        m_watch.reset();
        m_writeTimer.cancel();
        beast::error_code ignored;
        auto& socket = beast::get_lowest_layer(m_ws).socket();
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    websocket::stream<beast::tcp_stream> m_ws;
    std::shared_ptr<ServerLink> m_link;
    std::shared_ptr<LiveChannel> m_channel;
    const LiveLimits m_limits;
    asio::steady_timer m_writeTimer;
    http::request<http::string_body> m_request;
    std::shared_ptr<void> m_watch;
    beast::flat_buffer m_in;
    std::shared_ptr<const std::string> m_writing, m_next;
    quint64 m_sentVersion = 0, m_nextVersion = 0;
    bool m_resend = false;
    bool m_closed = false;
};

} // namespace

void startLive(beast::tcp_stream stream, http::request<http::string_body> request, ConnectionTable& table,
               std::string client, std::shared_ptr<ServerLink> link, std::shared_ptr<LiveChannel> channel,
               LiveLimits limits)
{
    std::make_shared<LiveSocket>(std::move(stream), table, std::move(client), std::move(link), std::move(channel),
                                 limits)
        ->start(std::move(request));
}

} // namespace tarv
