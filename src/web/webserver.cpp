#include "web/webserver.h"

#include "common/textfile.h"
#include "web/fairqueue.h"
#include "web/serverconnection.h"

#include <QFileInfo>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <QLoggingCategory>

#include <algorithm>
#include <optional>
#include <set>
#include <thread>

namespace tarv {

Q_LOGGING_CATEGORY(lcWebServer, "tarv.web.server")

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

std::string reason(int status)
{
    return std::string(http::obsolete_reason(http::status(status)));
}

// When a client may ask again, for the refusals that carry a Retry-After.
int defaultRetryAfter(int status)
{
    return status == 429 ? 60 : status == 503 ? 5 : 0;
}

// The host of a target in absolute form ("http://host:port/path"), as a Host header would name it; none
// for the usual "/path" (and for "*"), "" for a target that is neither.
std::optional<std::string> targetHost(std::string_view target)
{
    if (target.starts_with('/') || target == "*")
        return std::nullopt;
    const std::size_t scheme = target.find("://");
    if (scheme == std::string_view::npos)
        return std::string();
    std::string_view authority = target.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    // "http://localhost@evil.example/" is for evil.example.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    return std::string(authority);
}

class Session;

} // namespace

struct WebServer::Impl
{
    Handler handler;
    std::function<void()> tick;
    std::function<bool(const std::string&)> hostAllowed;
    std::function<bool(const HttpRequest&)> background;
    std::function<QString(const HttpRequest&)> deviceOf;
    WebServerLimits limits;
    // Before the io_context: sessions destroyed with it still release their counts.
    ConnectionTable connections;
    asio::io_context io{1};
    std::shared_ptr<ServerLink> link = std::make_shared<ServerLink>(io);
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> timer;
    std::thread thread;
    std::optional<FairQueue> worker;
    // After the io_context: the sessions that wait for a later answer go before it does.
    std::set<std::shared_ptr<Session>> answering;
    quint16 port = 0;

    void accept();
    bool makeRoom(const std::string* client);
    void schedule();
};

namespace {

class Session : public Connection, public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket socket, WebServer::Impl& server, std::string client)
        : Connection(server.connections, std::move(client)), m_stream(std::move(socket)), m_server(server)
    {
    }

    // Waiting for a request or still receiving one, or not taking its answer: may be closed to make
    // room for a newcomer.
    bool idle(std::chrono::steady_clock::time_point now) const override
    {
        return !m_busy || (m_writeStart && now - *m_writeStart >= m_server.limits.answerStall);
    }

    void read()
    {
        m_busy = false;
        // A connection back to waiting goes to the end of the line for eviction.
        toBack();
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(m_server.limits.headerBytes));
        m_parser->body_limit(m_server.limits.bodyBytes);
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void evict() override
    {
        m_busy = true; // not chosen again while its handlers run
        m_writeStart.reset();
        close();
    }

private:
    bool failed(beast::error_code ec)
    {
        if (!ec)
            return false;
        if (ec == http::error::header_limit)
            answer(requestLineTooLong() ? 414 : 431, false);
        else if (ec == http::error::body_limit)
            answer(413, false);
        else if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
                 ec == asio::error::operation_aborted || ec == asio::error::connection_reset || ec == asio::error::eof)
            close();
        else
            answer(400, false);
        return true;
    }

    // The request line alone filled the header's room (the parser never got as far as its target):
    // the URL is too long, not the header.
    bool requestLineTooLong() const { return m_parser->get().target().empty(); }

    // Why the request's header is refused before its body is read (a status), or 0.
    int refusal() const
    {
        const auto& message = m_parser->get();
        const std::size_t hosts = message.count(http::field::host);
        if (hosts > 1 || (hosts == 0 && message.version() >= 11))
            return 400;
        // A coding other than chunked last leaves the body's end unknown: its bytes must not be read
        // as another request.
        if (message.find(http::field::transfer_encoding) != message.end() && !m_parser->chunked())
            return 400;
        if (m_server.hostAllowed && !m_server.hostAllowed(std::string(message[http::field::host])))
            return 421;
        // A target in absolute form names the host it is for, whatever the Host header says.
        if (const auto host = targetHost(message.target());
            host && m_server.hostAllowed && (host->empty() || !m_server.hostAllowed(*host)))
            return 421;
        return 0;
    }

    void onHeader(beast::error_code ec)
    {
        if (failed(ec))
            return;
        m_busy = true;
        m_version = m_parser->get().version();
        if (const int status = refusal())
            return answer(status, false);
        if (beast::iequals(m_parser->get()[http::field::expect], "100-continue") && !m_parser->is_done()) {
            static const std::string Continue = "HTTP/1.1 100 Continue\r\n\r\n";
            asio::async_write(m_stream, asio::buffer(Continue),
                              [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                  if (ec)
                                      return self->close();
                                  self->readBody();
                              });
            return;
        }
        readBody();
    }

    void readBody()
    {
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec)
    {
        if (failed(ec))
            return;
        const auto& message = m_parser->get();
        const bool head = message.method() == http::verb::head;
        HttpRequest request;
        // A HEAD is answered as its GET would be, without the body.
        request.method = head ? std::string("GET") : std::string(message.method_string());
        request.target = std::string(message.target());
        request.contentType = std::string(message[http::field::content_type]);
        request.origin = std::string(message[http::field::origin]);
        request.host = std::string(message[http::field::host]);
        request.cookie = std::string(message[http::field::cookie]);
        request.body = message.body();
        request.client = client();
        const bool keepAlive = message.keep_alive();
        if (!m_server.worker || !m_server.background || !m_server.background(request))
            return deliver(handle(m_server.handler, request), keepAlive, head);
        // The session is busy until the answer comes back to the server's thread, where it ends too.
        const std::string device = m_server.deviceOf ? m_server.deviceOf(request).toStdString() : std::string();
        m_server.worker->push(client(), device, [self = shared_from_this(), request, keepAlive, head]() mutable {
            HttpResponse response = handle(self->m_server.handler, request);
            auto& io = self->m_server.io;
            asio::post(io, [self = std::move(self), response = std::move(response), keepAlive, head]() mutable {
                self->deliver(std::move(response), keepAlive, head);
            });
        });
    }

    // The answer, or the upgrade it asks for, or the wait for the answer given later.
    void deliver(HttpResponse response, bool keepAlive, bool head)
    {
        if (response.later) {
            // Held here while the answer is made elsewhere; the thread that gives it holds only a weak
            // pointer, so that nothing of the server outlives it there.
            const auto later = std::move(response.later);
            m_server.answering.insert(shared_from_this());
            later->onGiven([link = m_server.link, weak = weak_from_this(), keepAlive, head](HttpResponse given) {
                link->post([weak, given = std::move(given), keepAlive, head]() mutable {
                    const auto self = weak.lock();
                    if (!self)
                        return;
                    self->m_server.answering.erase(self);
                    self->deliver(std::move(given), keepAlive, head);
                });
            });
            return;
        }
        if (response.live) {
            if (!beast::websocket::is_upgrade(m_parser->get()))
                return answer(400, false);
            const WebServerLimits& limits = m_server.limits;
            return startLive(
                std::move(m_stream), m_parser->release(), m_server.connections, client(), m_server.link,
                std::move(response.live),
                {limits.liveFrameBytes, limits.requestTimeout, limits.liveIdleTimeout, limits.requestTimeout});
        }
        send(response, keepAlive, head);
    }

    static HttpResponse handle(const WebServer::Handler& handler, const HttpRequest& request)
    {
        try {
            return handler(request);
        } catch (const std::exception& e) {
            qCWarning(lcWebServer) << "request failed:" << e.what();
            return {500, "text/plain; charset=utf-8", "internal error", {}};
        }
    }

    void answer(int status, bool keepAlive)
    {
        send({status, "text/plain; charset=utf-8", reason(status), {}}, keepAlive);
    }

    void send(const HttpResponse& response, bool keepAlive, bool headOnly = false)
    {
        m_busy = true;
        m_response = {};
        // HTTP/1.0 keep-alive needs its "Connection: keep-alive" said, which a 1.0 answer carries.
        m_response.version(m_version == 10 ? 10 : 11);
        m_response.result(http::status(response.status));
        m_response.set(http::field::content_type, response.contentType);
        m_response.set(http::field::cache_control, "no-store");
        m_response.set("X-Content-Type-Options", "nosniff");
        m_response.set("X-Frame-Options", "DENY");
        m_response.set("Referrer-Policy", "no-referrer");
        m_response.set("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                       "connect-src 'self'; form-action 'none'; frame-ancestors 'none'");
        if (!response.allow.empty())
            m_response.set(http::field::allow, response.allow);
        if (!response.setCookie.empty())
            m_response.set(http::field::set_cookie, response.setCookie);
        if (const int after = response.retryAfter > 0 ? response.retryAfter : defaultRetryAfter(response.status))
            m_response.set(http::field::retry_after, std::to_string(after));
        m_response.body() = response.body;
        m_response.keep_alive(keepAlive);
        m_response.prepare_payload();
        m_stream.expires_after(m_server.limits.requestTimeout);
        m_serializer.emplace(m_response);
        m_writeStart = std::chrono::steady_clock::now();
        const auto done = [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->m_writeStart.reset();
            if (ec || !self->m_response.keep_alive())
                return self->close();
            self->read();
        };
        if (headOnly)
            http::async_write_header(m_stream, *m_serializer, done);
        else
            http::async_write(m_stream, *m_serializer, done);
    }

    void close()
    {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.socket().close(ignored);
    }

    beast::tcp_stream m_stream;
    WebServer::Impl& m_server;
    bool m_busy = false;
    std::optional<std::chrono::steady_clock::time_point> m_writeStart; // of the answer being sent
    unsigned m_version = 11;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    std::optional<http::response_serializer<http::string_body>> m_serializer;
};

// Over capacity: said in so many words, never a silent close.
void refuseBusy(tcp::socket& socket)
{
    static const std::string Busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                    "Retry-After: 5\r\nContent-Length: 19\r\nConnection: close\r\n\r\n"
                                    "Service Unavailable";
    beast::error_code ignored;
    asio::write(socket, asio::buffer(Busy), ignored);
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    socket.close(ignored);
}

} // namespace

// Closes the oldest connection that waits for a request (of that client only, when given). False
// when every connection is busy answering.
bool WebServer::Impl::makeRoom(const std::string* client)
{
    const auto now = std::chrono::steady_clock::now();
    for (Connection* connection : connections.list) {
        if (connection->idle(now) && (!client || connection->client() == *client)) {
            connection->evict();
            return true;
        }
    }
    return false;
}

void WebServer::Impl::accept()
{
    acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (!ec) {
            beast::error_code ignored;
            const auto peer = socket.remote_endpoint(ignored);
            std::string client = ignored ? std::string() : peer.address().to_string();
            const auto known = connections.perClient.find(client);
            const int fromClient = known == connections.perClient.end() ? 0 : known->second;
            // Evicted connections count until their handlers have run; the newcomer goes in at once.
            const bool room = (fromClient < limits.connectionsPerClient || makeRoom(&client)) &&
                              (connections.open < limits.connections || makeRoom(nullptr));
            if (room)
                std::make_shared<Session>(std::move(socket), *this, std::move(client))->read();
            else
                refuseBusy(socket);
        }
        accept();
    });
}

void WebServer::Impl::schedule()
{
    timer->expires_after(limits.tickInterval);
    timer->async_wait([this](beast::error_code ec) {
        if (ec)
            return;
        try {
            tick();
        } catch (const std::exception& e) {
            qCWarning(lcWebServer) << "tick failed:" << e.what();
        }
        schedule();
    });
}

WebServer::WebServer(Handler handler, std::function<void()> tick, WebServerLimits limits) : m(std::make_unique<Impl>())
{
    m->handler = std::move(handler);
    m->tick = std::move(tick);
    m->limits = limits;
}

void WebServer::setHostCheck(std::function<bool(const std::string& host)> allowed)
{
    m->hostAllowed = std::move(allowed);
}

void WebServer::setBackground(std::function<bool(const HttpRequest&)> slow,
                              std::function<QString(const HttpRequest&)> deviceOf)
{
    m->background = std::move(slow);
    m->deviceOf = std::move(deviceOf);
}

WebServer::~WebServer()
{
    stop();
}

QString WebServer::start(const QString& address, quint16 port)
{
    if (m->thread.joinable())
        return {};
    beast::error_code ec;
    const auto ip = asio::ip::make_address_v4(address.toStdString(), ec);
    if (ec)
        return QStringLiteral("アドレス %1 が正しくありません").arg(address);
    const tcp::endpoint endpoint(ip, port);
    m->acceptor.emplace(m->io);
    m->acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        m->acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        m->acceptor->bind(endpoint, ec);
    if (!ec)
        m->acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        m->acceptor.reset();
        return QStringLiteral("ポート %1 で待ち受けできません: %2")
            .arg(port)
            .arg(QString::fromLocal8Bit(ec.message().c_str()));
    }
    m->port = m->acceptor->local_endpoint().port();
    m->timer.emplace(m->io);
    // Searches take both cores, shared out fairly; the server's own thread stays free for every other
    // request.
    m->worker.emplace(int(std::max(2u, std::thread::hardware_concurrency())));
    m->accept();
    m->schedule();
    m->thread = std::thread([this] { m->io.run(); });
    return {};
}

quint16 WebServer::port() const
{
    return m->port;
}

void WebServer::stop()
{
    if (!m->thread.joinable())
        return;
    m->io.stop();
    m->thread.join();
    // Answers the workers still hand back wait in the stopped context, and go with it; the requests
    // still waiting for a worker are dropped; answers given later from elsewhere go where they are
    // given.
    m->link->cut();
    m->worker->stop();
}

quint16 guestPort(const AppPaths& paths, QString* problem)
{
    const QString file = paths.file(QStringLiteral("db/webport.txt"));
    QString error;
    const auto bytes = readFileBytes(file, 4096, &error);
    bool ok = false;
    const uint port = bytes ? bytes->split('\n').value(0).trimmed().toUInt(&ok) : 0;
    if (ok && port <= 65535)
        return quint16(port);
    if (problem && (bytes || nameTaken(file))) {
        *problem = QStringLiteral("db/webport.txt を使えないので、ポート %1 で開きます（%2）")
                       .arg(DefaultGuestPort)
                       .arg(bytes ? QStringLiteral("1 行目が 0 から 65535 までのポート番号ではありません") : error);
    }
    return DefaultGuestPort;
}

} // namespace tarv
