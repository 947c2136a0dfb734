#include "web/webserver.h"

#include "common/textfile.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <QLoggingCategory>

#include <map>
#include <optional>
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

} // namespace

struct WebServer::Impl
{
    Handler handler;
    std::function<void()> tick;
    WebServerLimits limits;
    // Before the io_context: sessions destroyed with it still release their counts.
    int open = 0;
    std::map<std::string, int> perClient;
    asio::io_context io{1};
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> timer;
    std::thread thread;
    quint16 port = 0;

    void accept();
    void schedule();
};

namespace {

class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket socket, WebServer::Impl& server, std::string client)
        : m_stream(std::move(socket)), m_server(server), m_client(std::move(client))
    {
        ++m_server.open;
        ++m_server.perClient[m_client];
    }
    ~Session()
    {
        --m_server.open;
        if (--m_server.perClient[m_client] <= 0)
            m_server.perClient.erase(m_client);
    }

    void read()
    {
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(m_server.limits.headerBytes));
        m_parser->body_limit(m_server.limits.bodyBytes);
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

private:
    void onRead(beast::error_code ec)
    {
        if (ec == http::error::header_limit)
            return answer(431, false);
        if (ec == http::error::body_limit)
            return answer(413, false);
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::operation_aborted ||
            ec == asio::error::connection_reset || ec == asio::error::eof)
            return close();
        if (ec)
            return answer(400, false);
        const auto& message = m_parser->get();
        HttpRequest request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        request.contentType = std::string(message[http::field::content_type]);
        request.origin = std::string(message[http::field::origin]);
        request.host = std::string(message[http::field::host]);
        request.body = message.body();
        request.client = m_client;
        HttpResponse response;
        try {
            response = m_server.handler(request);
        } catch (const std::exception& e) {
            qCWarning(lcWebServer) << "request failed:" << e.what();
            response = {500, "text/plain; charset=utf-8", "internal error", {}};
        }
        send(response, message.keep_alive());
    }

    void answer(int status, bool keepAlive)
    {
        send({status, "text/plain; charset=utf-8", reason(status), {}}, keepAlive);
    }

    void send(const HttpResponse& response, bool keepAlive)
    {
        m_response = {};
        m_response.version(11);
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
        m_response.body() = response.body;
        m_response.keep_alive(keepAlive);
        m_response.prepare_payload();
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_write(m_stream, m_response, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec || !self->m_response.keep_alive())
                return self->close();
            self->read();
        });
    }

    void close()
    {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.socket().close(ignored);
    }

    beast::tcp_stream m_stream;
    WebServer::Impl& m_server;
    std::string m_client;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
};

} // namespace

void WebServer::Impl::accept()
{
    acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (!ec) {
            beast::error_code ignored;
            const auto peer = socket.remote_endpoint(ignored);
            std::string client = ignored ? std::string() : peer.address().to_string();
            const auto known = perClient.find(client);
            const int fromClient = known == perClient.end() ? 0 : known->second;
            if (open >= limits.connections || fromClient >= limits.connectionsPerClient)
                socket.close(ignored); // over a cap: closed at once, nothing read
            else
                std::make_shared<Session>(std::move(socket), *this, std::move(client))->read();
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
}

quint16 guestPort(const AppPaths& paths)
{
    const auto bytes = readFileBytes(paths.file(QStringLiteral("db/webport.txt")));
    if (!bytes)
        return DefaultGuestPort;
    bool ok = false;
    const uint port = QByteArray(*bytes).split('\n').value(0).trimmed().toUInt(&ok);
    return ok && port <= 65535 ? quint16(port) : DefaultGuestPort;
}

} // namespace tarv
