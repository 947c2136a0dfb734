// The search workers shared out in turns, by address and by device: alone, and behind the web server
// with one address holding 64 searching connections.
#include "web/fairqueue.h"
#include "web/webserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace tarv {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

TEST(FairQueue, TakesJobsInTurnsByAddressThenByDevice)
{
    struct Job
    {
        const char* address;
        const char* device;
        char label;
    };
    const struct
    {
        const char* what;
        std::vector<Job> pushed; // while the only worker is busy
        std::string order;
    } rows[] = {
        {"addresses in turns, each address's jobs in order",
         {{"A", "", 'a'}, {"A", "", 'b'}, {"A", "", 'c'}, {"B", "", 'd'}, {"B", "", 'e'}, {"C", "", 'f'}},
         "adfbec"},
        {"devices of an address in turns, within the address's turn",
         {{"X", "1", 'a'}, {"X", "1", 'b'}, {"X", "2", 'c'}, {"X", "2", 'd'}, {"Y", "1", 'e'}},
         "aecbd"},
        {"one device alone keeps its order", {{"X", "1", 'a'}, {"X", "1", 'b'}, {"X", "1", 'c'}}, "abc"},
    };
    for (const auto& row : rows) {
        FairQueue queue(1);
        std::promise<void> started, release;
        queue.push("gate", "", [&] {
            started.set_value();
            release.get_future().wait();
        });
        started.get_future().wait();
        std::string order;
        std::promise<void> done;
        for (const Job& job : row.pushed) {
            queue.push(job.address, job.device, [&, label = job.label] {
                order += label;
                if (order.size() == row.pushed.size())
                    done.set_value();
            });
        }
        release.set_value();
        done.get_future().wait();
        EXPECT_EQ(order, row.order) << row.what;
    }
}

TEST(FairQueue, AManyJobsAddressDelaysAnotherByOneJob)
{
    FairQueue queue(1);
    std::promise<void> started, release, done;
    queue.push("gate", "", [&] {
        started.set_value();
        release.get_future().wait();
    });
    started.get_future().wait();
    int before = 0, atGuest = -1;
    for (int i = 0; i < 64; ++i)
        queue.push("script", "", [&] { ++before; });
    queue.push("guest", "", [&] {
        atGuest = before;
        done.set_value();
    });
    release.set_value();
    done.get_future().wait();
    EXPECT_EQ(atGuest, 1);
}

// A blocking search client on one keep-alive connection from a chosen loopback address.
class Searcher
{
public:
    Searcher(quint16 port, const std::string& source, std::string cookie) : m_socket(m_io), m_cookie(std::move(cookie))
    {
        m_socket.open(tcp::v4());
        m_socket.bind(tcp::endpoint(asio::ip::make_address_v4(source), 0));
        m_socket.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    }

    int search()
    {
        http::request<http::string_body> request(http::verb::get, "/api/songs?q=x", 11);
        request.set(http::field::host, "127.0.0.1");
        if (!m_cookie.empty())
            request.set(http::field::cookie, m_cookie);
        beast::error_code ec;
        http::write(m_socket, request, ec);
        http::response<http::string_body> response;
        if (!ec)
            http::read(m_socket, m_buffer, response, ec);
        return ec ? 0 : int(response.result_int());
    }

private:
    asio::io_context m_io;
    tcp::socket m_socket;
    beast::flat_buffer m_buffer;
    std::string m_cookie;
};

TEST(FairQueue, OneAddressOrPhoneWithManySearchingConnectionsHoldsUpAnotherByAFewSearchesAtMost)
{
    const struct
    {
        const char* what;
        std::string hostileAddress, hostileCookie, guestAddress, guestCookie;
    } rows[] = {
        {"another address", "127.0.2.1", "", "127.0.3.1", ""},
        {"another phone behind the same address", "127.0.2.1", "device=script", "127.0.2.1", "device=guest"},
    };
    for (const auto& row : rows) {
        // Each of the script's searches takes a while; counting them shows how many went before the guest's.
        std::atomic<int> scriptSearches = 0, beforeGuest = -1;
        WebServer server(
            [&](const HttpRequest& request) -> HttpResponse {
                if (request.cookie == row.guestCookie && request.client == row.guestAddress) {
                    beforeGuest = scriptSearches.load();
                } else {
                    ++scriptSearches;
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                return {200, "application/json", "{}", {}};
            },
            [] {});
        server.setBackground([](const HttpRequest&) { return true; },
                             [](const HttpRequest& request) { return QString::fromStdString(request.cookie); });
        ASSERT_EQ(server.start(QStringLiteral("127.0.0.1"), 0), QString());

        std::atomic<bool> stop = false;
        std::vector<std::thread> script;
        for (int i = 0; i < 64; ++i) {
            script.emplace_back([&] {
                Searcher searcher(server.port(), row.hostileAddress, row.hostileCookie);
                while (!stop && searcher.search() == 200) {
                }
            });
        }
        while (scriptSearches < 4) // every connection has a search waiting by now
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Searcher guest(server.port(), row.guestAddress, row.guestCookie);
        int mostBefore = 0;
        for (int i = 0; i < 3; ++i) {
            const int sent = scriptSearches;
            EXPECT_EQ(guest.search(), 200) << row.what;
            mostBefore = std::max(mostBefore, beforeGuest - sent);
        }
        stop = true; // each of the script's connections ends after its answer
        for (auto& thread : script)
            thread.join();
        // The searches that ran when the guest's came, and one more turn of the script's.
        EXPECT_LE(mostBefore, 6) << row.what;
    }
}

} // namespace
} // namespace tarv
