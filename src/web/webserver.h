#pragma once

#include "web/guestservice.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace tarv {

struct WebServerLimits
{
    std::size_t headerBytes = 8 * 1024;
    std::size_t bodyBytes = 4 * 1024;
    // At either cap the oldest connection that is waiting for (or still receiving) a request is
    // closed to make room; with none such the newcomer is answered 503. One address may be a whole
    // room of phones behind one Wi-Fi router.
    int connections = 256;
    int connectionsPerClient = 128;
    // The time a client has to send a whole request (and to take the answer): slow clients are closed.
    std::chrono::milliseconds requestTimeout{10000};
    // A client that has not taken its answer for this long counts as waiting at the caps: a client
    // that sends requests and never reads the answers holds no room a newcomer needs.
    std::chrono::milliseconds answerStall{500};
    // How often the tick runs (the request queue's writes).
    std::chrono::milliseconds tickInterval{100};
    // A live connection (WebSocket): the longest message a phone may send, and how long it may stay
    // silent, even to the ping sent halfway, before it is closed. It has requestTimeout to take each
    // message it is sent. Live connections count in the caps, as waiting ones.
    std::size_t liveFrameBytes = 1024;
    std::chrono::milliseconds liveIdleTimeout{30000};
};

// An HTTP/1.1 server on its own thread. Each request goes to the handler and each tick to the tick
// callback, both on the server's thread, one at a time; the requests that setBackground() picks go
// to the handler on a worker thread instead (so the handler must allow several calls at once), and the
// server's thread goes on serving others meanwhile. An answer the handler gives later
// (HttpResponse::later) is waited for the same way, and one that is a live channel
// (HttpResponse::live) turns the connection into a WebSocket. One I/O thread is enough for a room of
// phones (bench/guestserver_bench), and keeps the connection caps and their eviction free of locks.
class WebServer
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    WebServer(Handler handler, std::function<void()> tick, WebServerLimits limits = {});
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Which Host headers are served (without it, any): a request for another name, as a page on
    // another site that resolves its name to this PC would send, is answered 421. Set before start().
    void setHostCheck(std::function<bool(const std::string& host)> allowed);
    // Which requests are handled on the worker threads (slow ones: a search), and which device each
    // comes from. The workers take them in turns by address and, within an address, by device, so
    // that no address or phone holds them up for the others. Set before start().
    void setBackground(std::function<bool(const HttpRequest&)> slow,
                       std::function<QString(const HttpRequest&)> deviceOf = {});

    // Listens on the address (IPv4, "0.0.0.0" for all) and port (0 for any free one) and starts the
    // thread. Returns why it could not listen, or an empty text.
    QString start(const QString& address, quint16 port);
    // The port listened on, once started.
    quint16 port() const;
    void stop();

    struct Impl; // opaque: Boost stays inside webserver.cpp

private:
    std::unique_ptr<Impl> m;
};

inline constexpr quint16 DefaultGuestPort = 8080;

// The port of the guest pages: the first line of db/webport.txt when it holds one (0: any free port),
// otherwise 8080. A file that is there but names no port (a pipe, a huge file, other text) also gives
// 8080, and *problem says why in words for the operator.
quint16 guestPort(const AppPaths& paths, QString* problem = nullptr);

} // namespace tarv
