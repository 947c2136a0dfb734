// Requests per second and latency of the guest web server on loopback: the queue as the phones poll
// it, and reservations with a poller emptying the request file as karaoke mode does. Then the queue
// record's cost per reservation.
#include "common/cp932.h"
#include "common/savefile.h"
#include "stage/queuerecord.h"
#include "exchange/exchange.h"
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
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Clients = 8;
constexpr auto Duration = std::chrono::seconds(3);

// Each client sends requests back to back on one connection for the duration; returns the latencies.
std::vector<double> hammer(quint16 port, const std::function<http::request<http::string_body>(int, int)>& make)
{
    std::vector<std::vector<double>> latencies(Clients);
    std::vector<std::thread> clients;
    const auto end = Clock::now() + Duration;
    for (int c = 0; c < Clients; ++c) {
        clients.emplace_back([&, c] {
            asio::io_context io;
            asio::ip::tcp::socket socket(io);
            // One address per client, as phones have: the per-client limits apply to each.
            socket.open(asio::ip::tcp::v4());
            socket.bind({asio::ip::make_address_v4("127.0.0." + std::to_string(10 + c)), 0});
            socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
            beast::flat_buffer buffer;
            for (int i = 0; Clock::now() < end; ++i) {
                const auto start = Clock::now();
                http::write(socket, make(c, i));
                http::response<http::string_body> response;
                http::read(socket, buffer, response);
                latencies[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
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

void report(const char* what, const std::vector<double>& sorted)
{
    const auto at = [&](double q) { return sorted[std::min(sorted.size() - 1, std::size_t(q * sorted.size()))]; };
    std::printf("%-14s %8.0f req/s   p50 %6.2f ms   p99 %6.2f ms   (%zu requests, %d clients)\n", what,
                double(sorted.size()) / std::chrono::duration<double>(Duration).count(), at(0.5), at(0.99),
                sorted.size(), Clients);
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
    for (int i = 0; i < 1000; ++i) {
        list += ' ' + QByteArray::number(100000 + i) + " \r\n" + encodeCp932(QStringLiteral("曲 %1").arg(i)) + "\r\n";
        if (i < 20)
            queue += exchangeRecord({QByteArray::number(100000 + i), encodeCp932(QStringLiteral("曲 %1").arg(i)),
                                     encodeCp932(QStringLiteral("ゲスト"))});
    }
    saveFile(paths.songList(), list);
    saveFile(exchangeFile(webRoot, ExchangeFile::Queue), queue);

    GuestServiceOptions options;
    options.reservationsPerMinute = 1 << 30;
    options.maxPending = 1 << 30;
    GuestService service(paths, std::make_shared<std::atomic<bool>>(true), options);
    WebServerLimits limits;
    limits.tickInterval = std::chrono::milliseconds(1);
    WebServer server([&](const HttpRequest& r) { return service.handle(r); }, [&] { service.pump(); }, limits);
    if (const QString error = server.start(QStringLiteral("127.0.0.1"), 0); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    report("GET /api/queue", hammer(server.port(), [](int, int) { return request(http::verb::get, "/api/queue"); }));
    report("GET /api/songs", hammer(server.port(), [](int, int i) {
               return request(http::verb::get, "/api/songs?q=" + std::to_string(100 + i % 900));
           }));

    std::atomic<bool> stop = false;
    std::thread poller([&] {
        const QString file = exchangeFile(webRoot, ExchangeFile::Request);
        while (!stop) {
            if (!takeRequest(file).request)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    report("POST reserve", hammer(server.port(), [](int c, int i) {
               return request(http::verb::post, "/api/reserve",
                              "{\"number\":\"" + std::to_string(100000 + i % 1000) + "\",\"name\":\"c" +
                                  std::to_string(c) + "\"}");
           }));
    stop = true;
    poller.join();
    std::printf("reservations still waiting for the request file: %zu (written one at a time as it empties)\n",
                service.pendingCount());

    // Each reservation writes the queue record twice: when a guest's reservation is accepted and when
    // the stage queues it, with 20 others waiting. Atomic writes, synced at most once a second.
    QueueRecord record(paths.queueRecord());
    QList<RecordedReservation> waiting(20, {QStringLiteral("100001"), QStringLiteral("ゲスト")});
    record.setQueue(waiting);
    constexpr int Reservations = 500;
    auto start = Clock::now();
    for (int i = 0; i < Reservations; ++i) {
        record.accept({QString::number(100000 + i), QStringLiteral("ゲスト")});
        waiting.append({QString::number(100000 + i), QStringLiteral("ゲスト")});
        waiting.removeFirst();
        record.setQueue(waiting, true);
        record.syncIfDue();
    }
    const double recorded = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / Reservations;
    // The same two writes if every one went to the disk.
    constexpr int SyncedReservations = 50;
    start = Clock::now();
    for (int i = 0; i < 2 * SyncedReservations; ++i)
        saveFile(paths.queueRecord(), QByteArray(21 * 16, 'x'), Durability::Synced);
    const double synced =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / SyncedReservations;
    std::printf("queue record per reservation: %.3f ms (atomic, synced once a second); %.2f ms if every write "
                "were synced\n",
                recorded, synced);
    return 0;
}
