// Requests per second and latency of the guest web server on loopback, with 100,001 songs: the queue
// as the phones poll it (64 connections from as many addresses), searches, the queue while 8
// connections search, and reservations with a poller taking them from the desk as karaoke mode does.
// Then the queue record's cost per reservation.
#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "web/guestservice.h"
#include "web/webserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

using namespace tarv;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
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

} // namespace

int main()
{
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

    GuestServiceOptions options;
    options.reservationsPerMinute = 1 << 30;
    options.addressActionsPerMinute = 1 << 30;
    GuestDesk desk;
    GuestService service(paths, std::make_shared<std::atomic<bool>>(true), options);
    service.setGuestDesk(&desk);
    WebServerLimits limits;
    limits.tickInterval = std::chrono::milliseconds(1);
    WebServer server([&](const HttpRequest& r) { return service.handle(r); }, [&] { service.pump(); }, limits);
    server.setBackground(isSearch);
    if (const QString error = server.start(QStringLiteral("127.0.0.1"), 0); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const auto queuePage = [](int, int) { return request(http::verb::get, "/api/queue"); };
    const auto search = [](int, int i) {
        return request(http::verb::get, "/api/songs?q=" + std::to_string(100 + i % 900));
    };
    hammer(server.port(), {1, 500}, search); // the song file written and read once, unmeasured
    report("GET /api/queue", hammer(server.port(), {64, 10}, queuePage), 64, 10000, 20);
    report("GET /api/songs", hammer(server.port(), {8, 100}, search), 8, 0, 10);
    std::vector<double> searching;
    std::thread searchers([&] { searching = hammer(server.port(), {8, 200}, search); });
    report("GET /api/queue, 8 searching", hammer(server.port(), {8, 300}, queuePage), 8, 0, 20);
    searchers.join();
    report("  (their searches)", searching, 8, 0, 0);

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
