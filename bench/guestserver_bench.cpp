// Requests per second and latency of the guest web server on loopback, with 100,001 songs: the queue
// with 100 songs waiting as the phones ask for it (64 connections from as many addresses; next to nginx
// serving the same bytes when nginx is installed), searches, the queue while 8 connections search, the
// room's changes delivered to 30 phones over their WebSockets and the memory each connected phone
// takes, and reservations with a poller taking them from the desk as karaoke mode does. Then the queue
// record's cost per reservation.
//
// The phones run in a second process of this program ("--phones"), so that the memory measured is the
// server's.
#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"
#include "library/songlist.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "web/guestservice.h"
#include "web/webserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

using namespace tarv;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using Steady = std::chrono::steady_clock;

namespace {

constexpr auto Duration = std::chrono::seconds(3);

struct Load
{
    int clients = 8;
    int firstAddress = 10; // the clients come from 127.0.x.y, one address each, counted from here
};

// Each client sends requests back to back on one connection for the duration; returns the latencies.
std::vector<double> hammer(quint16 port, Load load,
                           const std::function<http::request<http::string_body>(int, int)>& make)
{
    std::vector<std::vector<double>> latencies(std::size_t(load.clients));
    std::vector<std::thread> clients;
    const auto end = Steady::now() + Duration;
    for (int c = 0; c < load.clients; ++c) {
        clients.emplace_back([&, c] {
            asio::io_context io;
            asio::ip::tcp::socket socket(io);
            // One address per client, as phones have: the per-client limits apply to each.
            const int address = load.firstAddress + c;
            socket.open(asio::ip::tcp::v4());
            socket.bind({asio::ip::make_address_v4("127.0." + std::to_string(address / 250) + '.' +
                                                   std::to_string(1 + address % 250)),
                         0});
            socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
            beast::flat_buffer buffer;
            for (int i = 0; Steady::now() < end; ++i) {
                const auto start = Steady::now();
                http::write(socket, make(c, i));
                http::response<http::string_body> response;
                http::read(socket, buffer, response);
                latencies[c].push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
            }
        });
    }
    for (auto& client : clients)
        client.join();
    std::vector<double> all;
    for (const auto& some : latencies)
        all.insert(all.end(), some.begin(), some.end());
    std::sort(all.begin(), all.end());
    return all;
}

// One line of figures, and the goals under it (0: none).
void report(const char* what, const std::vector<double>& sorted, int clients, double goalRate, double goalP99)
{
    const auto at = [&](double q) { return sorted[std::min(sorted.size() - 1, std::size_t(q * sorted.size()))]; };
    const double rate = double(sorted.size()) / std::chrono::duration<double>(Duration).count();
    std::printf("%-32s %8.0f req/s   p50 %6.2f ms   p99 %6.2f ms   (%zu requests, %d connections)\n", what, rate,
                at(0.5), at(0.99), sorted.size(), clients);
    if (goalRate > 0)
        std::printf("  goal: >= %.0f req/s: %s\n", goalRate, rate >= goalRate ? "met" : "NOT MET");
    if (goalP99 > 0)
        std::printf("  goal: p99 < %.0f ms: %s\n", goalP99, at(0.99) < goalP99 ? "met" : "NOT MET");
}

http::request<http::string_body> request(http::verb method, const std::string& target, const std::string& body = {})
{
    http::request<http::string_body> r(method, target, 11);
    r.set(http::field::host, "127.0.0.1");
    if (method == http::verb::post)
        r.set(http::field::content_type, "application/json");
    r.body() = body;
    r.prepare_payload();
    return r;
}

asio::ip::address_v4 loopback(int n)
{
    return asio::ip::make_address_v4("127.0." + std::to_string(n / 250) + '.' + std::to_string(1 + n % 250));
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch()).count();
}

// What the heap holds, all threads together.
std::size_t heapBytes()
{
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

quint64 versionOf(const std::string& message)
{
    const std::size_t at = message.find("\"version\":\"");
    return at == std::string::npos ? 0 : std::strtoull(message.c_str() + at + 11, nullptr, 10);
}

// The phones' process: COUNT phones open GET /api/live, each from its own address; "ready" once each
// has the room, then, once each has seen version LAST, a line "phone version ns" for every message.
int runPhones(quint16 port, int count, int firstAddress, quint64 last)
{
    struct Phone
    {
        explicit Phone(asio::io_context& io) : ws(io) {}
        websocket::stream<asio::ip::tcp::socket> ws;
        beast::flat_buffer buffer;
        bool ready = false;
        bool done = false;
    };
    struct Seen
    {
        int phone;
        quint64 version;
        qint64 ns;
    };
    asio::io_context io;
    std::vector<std::unique_ptr<Phone>> phones;
    std::vector<Seen> seen;
    int ready = 0, done = 0;
    for (int c = 0; c < count; ++c) {
        auto phone = std::make_unique<Phone>(io);
        auto& socket = phone->ws.next_layer();
        socket.open(asio::ip::tcp::v4());
        socket.bind({loopback(firstAddress + c), 0});
        socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
        phone->ws.handshake("127.0.0.1", "/api/live");
        phones.push_back(std::move(phone));
    }
    std::function<void(int)> read = [&](int c) {
        Phone& phone = *phones[std::size_t(c)];
        phone.ws.async_read(phone.buffer, [&, c](beast::error_code ec, std::size_t) {
            if (ec)
                return io.stop();
            Phone& phone = *phones[std::size_t(c)];
            const quint64 version = versionOf(beast::buffers_to_string(phone.buffer.data()));
            phone.buffer.clear();
            seen.push_back({c, version, nowNs()});
            if (!phone.ready && ++ready == count) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
            phone.ready = true;
            if (!phone.done && version >= last && ++done == count)
                return io.stop();
            phone.done = phone.done || version >= last;
            read(c);
        });
    };
    for (int c = 0; c < count; ++c)
        read(c);
    io.run();
    for (const Seen& s : seen)
        std::printf("%d %llu %lld\n", s.phone, static_cast<unsigned long long>(s.version),
                    static_cast<long long>(s.ns));
    return done == count ? 0 : 1;
}

struct LiveFigures
{
    std::vector<double> latencies; // ms, sorted: each change until each phone has it (or a newer one)
    double bytesPerPhone = 0;
};

// Starts COUNT phones in a second process; makes CHANGES changes of the room, one every 30 ms, once
// they are all connected.
LiveFigures livePhones(quint16 port, int count, int firstAddress, int changes, const std::function<void()>& change,
                       const std::function<quint64()>& version)
{
    LiveFigures figures;
    const quint64 first = version();
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --phones " + std::to_string(port) + ' ' +
                                std::to_string(count) + ' ' + std::to_string(firstAddress) + ' ' +
                                std::to_string(first + quint64(changes));
    const std::size_t before = heapBytes();
    std::FILE* child = popen(command.c_str(), "r");
    char line[128];
    if (!child || !std::fgets(line, sizeof line, child) || std::strcmp(line, "ready\n") != 0) {
        std::fprintf(stderr, "the phones did not connect\n");
        if (child)
            pclose(child);
        return figures;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    figures.bytesPerPhone = (double(heapBytes()) - double(before)) / count;
    std::map<quint64, qint64> changed; // version: when
    for (int i = 0; i < changes; ++i) {
        const qint64 at = nowNs();
        change();
        changed[version()] = at;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    std::map<int, std::vector<std::pair<quint64, qint64>>> seen;
    int phone = 0;
    unsigned long long seenVersion = 0;
    long long ns = 0;
    while (std::fgets(line, sizeof line, child)) {
        if (std::sscanf(line, "%d %llu %lld", &phone, &seenVersion, &ns) == 3)
            seen[phone].push_back({seenVersion, ns});
    }
    pclose(child);
    for (const auto& [who, messages] : seen) {
        for (const auto& [v, at] : changed) {
            const auto shown = std::find_if(messages.cbegin(), messages.cend(), [v](auto m) { return m.first >= v; });
            if (shown != messages.cend())
                figures.latencies.push_back(double(shown->second - at) / 1e6);
        }
    }
    std::sort(figures.latencies.begin(), figures.latencies.end());
    return figures;
}

// nginx on a free port serving the file as /api/queue, with keep-alive as the guest server has it;
// 0 when there is no nginx here.
quint16 startNginx(const QString& folder, const QString& file, pid_t* pid)
{
    const QString nginx = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    if (nginx.isEmpty())
        return 0;
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    const quint16 port = probe.local_endpoint().port();
    probe.close();
    const QByteArray config =
        "daemon off; worker_processes 1; pid " + (folder + QStringLiteral("/nginx.pid")).toUtf8() + "; error_log " +
        (folder + QStringLiteral("/nginx.log")).toUtf8() +
        ";\nevents { worker_connections 1024; }\nhttp { access_log off; keepalive_requests "
        "1000000; server { listen 127.0.0.1:" +
        QByteArray::number(port) + "; location = /api/queue { default_type application/json; alias " + file.toUtf8() +
        "; } } }\n";
    saveFile(folder + QStringLiteral("/nginx.conf"), config);
    *pid = fork();
    if (*pid == 0) {
        const QByteArray program = nginx.toLocal8Bit(), prefix = folder.toLocal8Bit(),
                         conf = (folder + QStringLiteral("/nginx.conf")).toLocal8Bit();
        execl(program.constData(), program.constData(), "-p", prefix.constData(), "-c", conf.constData(), nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return port;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--phones") == 0)
        return runPhones(quint16(std::atoi(argv[2])), std::atoi(argv[3]), std::atoi(argv[4]),
                         std::strtoull(argv[5], nullptr, 10));
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    const QString webRoot = dir.filePath(QStringLiteral("www"));
    QDir().mkpath(paths.dbDir());
    QDir().mkpath(webRoot + QStringLiteral("/cgi-bin/tarv"));
    saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n");
    QByteArray list, queue;
    constexpr int Songs = 100001;
    for (int i = 0; i < Songs; ++i) {
        list += ' ' + QByteArray::number(100000 + i) + " \r\n" + encodeCp932(QStringLiteral("曲 %1").arg(i)) + "\r\n";
        if (i < 20)
            queue += exchangeRecord({QByteArray::number(100000 + i), encodeCp932(QStringLiteral("曲 %1").arg(i)),
                                     encodeCp932(QStringLiteral("ゲスト"))});
    }
    saveFile(paths.songList(), list);
    saveFile(exchangeFile(webRoot, ExchangeFile::Queue), queue);

    // 100 songs waiting, each with a file in src/ whose length is read as the phones' waits need it.
    QDir().mkpath(paths.srcDir());
    QList<QueueEntry> roomWaiting;
    for (int i = 0; i < 100; ++i) {
        const SongNumber number(100100 + i);
        saveFile(paths.video(number.text()), QByteArray("not a video"));
        roomWaiting.append({quint64(i + 2), number, QStringLiteral("曲 %1").arg(i), QStringLiteral("ゲスト")});
    }
    const auto durations = std::make_shared<VideoDurations>(paths);

    GuestServiceOptions options;
    options.reservationsPerMinute = 1 << 30;
    options.addressActionsPerMinute = 1 << 30;
    options.durationSeconds = [durations](const SongNumber& number) { return durations->durationSeconds(number); };
    options.videoSeconds = [durations](const QString& name) { return durations->videoSeconds(name); };
    GuestDesk desk;
    const QueueEntry playing{1, SongNumber(100099), QStringLiteral("曲 99"), QStringLiteral("ゲスト")};
    desk.publishQueue(playing, roomWaiting);
    desk.publishPosition(30.0);
    GuestService service(paths, std::make_shared<std::atomic<bool>>(true), options);
    service.setGuestDesk(&desk);
    WebServerLimits limits;
    limits.tickInterval = std::chrono::milliseconds(1);
    WebServer server([&](const HttpRequest& r) { return service.handle(r); }, [&] { service.pump(); }, limits);
    server.setBackground(isSearch, [&](const HttpRequest& r) { return service.searchDevice(r); });
    if (const QString error = server.start(QStringLiteral("127.0.0.1"), 0); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const auto queuePage = [](int, int) { return request(http::verb::get, "/api/queue"); };
    const auto search = [](int, int i) {
        return request(http::verb::get, "/api/songs?q=" + std::to_string(100 + i % 900));
    };
    hammer(server.port(), {1, 500}, search); // the song file written and read once, unmeasured
    hammer(server.port(), {1, 501}, queuePage);
    const std::vector<double> queueTimes = hammer(server.port(), {64, 10}, queuePage);
    report("GET /api/queue, 100 waiting", queueTimes, 64, 10000, 20);
    // Measured at the commit before the queue was built once per change, on a 2-core machine.
    std::printf("  before (the JSON built and each video looked at on every request): 700-970 req/s\n");
    {
        http::response<http::string_body> answer;
        asio::io_context io;
        asio::ip::tcp::socket socket(io);
        socket.connect({asio::ip::make_address_v4("127.0.0.1"), server.port()});
        http::write(socket, request(http::verb::get, "/api/queue"));
        beast::flat_buffer buffer;
        http::read(socket, buffer, answer);
        const QString file = dir.filePath(QStringLiteral("queue.json"));
        saveFile(file, QByteArray::fromStdString(answer.body()));
        pid_t nginx = 0;
        if (const quint16 port = startNginx(dir.path(), file, &nginx)) {
            const std::vector<double> nginxTimes = hammer(port, {64, 10}, queuePage);
            report("  nginx, the same bytes", nginxTimes, 64, 0, 0);
            std::printf("  goal: >= 0.5 of nginx: %.2f, %s\n", double(queueTimes.size()) / double(nginxTimes.size()),
                        2 * queueTimes.size() >= nginxTimes.size() ? "met" : "NOT MET");
            kill(nginx, SIGTERM);
        } else {
            std::printf("  (no nginx here to compare with)\n");
        }
    }
    report("GET /api/songs", hammer(server.port(), {8, 100}, search), 8, 0, 10);
    std::vector<double> searching;
    std::thread searchers([&] { searching = hammer(server.port(), {8, 200}, search); });
    report("GET /api/queue, 8 searching", hammer(server.port(), {8, 300}, queuePage), 8, 0, 20);
    searchers.join();
    report("  (their searches)", searching, 8, 0, 0);

    // The room changes (a song moves along) while phones are connected to its live feed.
    const auto change = [&] {
        std::rotate(roomWaiting.begin(), roomWaiting.begin() + 1, roomWaiting.end());
        desk.publishQueue(QueueEntry{playing.id, playing.number, playing.title, playing.user}, roomWaiting);
    };
    const auto version = [&] { return desk.snapshot()->version; };
    const LiveFigures live = livePhones(server.port(), 30, 2000, 100, change, version);
    if (!live.latencies.empty()) {
        const auto at = [&](double q) {
            return live.latencies[std::min(live.latencies.size() - 1, std::size_t(q * live.latencies.size()))];
        };
        std::printf(
            "live: a change on 30 phones        p50 %6.2f ms   p99 %6.2f ms   (%zu deliveries of 100 changes)\n",
            at(0.5), at(0.99), live.latencies.size());
        std::printf("  goal: p99 < 300 ms: %s\n", at(0.99) < 300 ? "met" : "NOT MET");
    }
    const LiveFigures crowd = livePhones(server.port(), 200, 3000, 1, change, version);
    std::printf("live: memory per connected phone   %.1f KiB (200 phones)\n", crowd.bytesPerPhone / 1024);

    std::atomic<bool> stop = false;
    std::thread poller([&] {
        while (!stop) {
            desk.take();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    report("POST reserve",
           hammer(server.port(), {8, 400},
                  [](int c, int i) {
                      return request(http::verb::post, "/api/reserve",
                                     "{\"number\":\"" + std::to_string(100000 + i % 1000) + "\",\"name\":\"c" +
                                         std::to_string(c) + "\"}");
                  }),
           8, 0, 0);
    stop = true;
    poller.join();

    // Each reservation writes the queue record twice: when a guest's reservation is accepted and when
    // the stage queues it, with 20 others waiting. Atomic writes, synced at most once a second.
    QueueRecord record(paths.queueRecord());
    QList<RecordedReservation> waiting(20, {SongNumber(100001), QStringLiteral("ゲスト")});
    record.setQueue(waiting);
    constexpr int Reservations = 500;
    auto start = Steady::now();
    for (int i = 0; i < Reservations; ++i) {
        record.accept({SongNumber(100000 + i), QStringLiteral("ゲスト")});
        waiting.append({SongNumber(100000 + i), QStringLiteral("ゲスト")});
        waiting.removeFirst();
        record.setQueue(waiting, std::nullopt, true);
        record.syncIfDue();
    }
    const double recorded = std::chrono::duration<double, std::milli>(Steady::now() - start).count() / Reservations;
    // The same two writes if every one went to the disk.
    constexpr int SyncedReservations = 50;
    start = Steady::now();
    for (int i = 0; i < 2 * SyncedReservations; ++i)
        saveFile(paths.queueRecord(), QByteArray(21 * 16, 'x'), Durability::Synced);
    const double synced = std::chrono::duration<double, std::milli>(Steady::now() - start).count() / SyncedReservations;
    std::printf("queue record per reservation: %.3f ms (atomic, synced once a second); %.2f ms if every write "
                "were synced\n",
                recorded, synced);
    return 0;
}
