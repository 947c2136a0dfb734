#pragma once

#include "common/apppaths.h"
#include "exchange/exchange.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarv {

class QueueRecord;
class SongCatalog;

// One HTTP request as the server hands it to the routes: no transport or library types.
struct HttpRequest
{
    std::string method; // as sent: "GET", "POST", ...
    std::string target; // path and query, as sent
    std::string contentType;
    std::string origin; // the Origin header; empty when absent
    std::string host;   // the Host header
    std::string body;
    std::string client; // the peer's address
};

struct HttpResponse
{
    int status = 200;
    std::string contentType;
    std::string body;
    std::string allow;  // the Allow header of a 405
    int retryAfter = 0; // seconds, the Retry-After header of a 429 or 503 (the server picks one when 0)
};

struct GuestServiceOptions
{
    int reservationsPerMinute = 10; // reservations and logins of one client address
    int pageSize = 20;
    std::size_t maxPending = 200; // requests accepted but not yet in the request file
};

// The guests' side of the exchange files: the phone page, the song search over songdb.txt, the
// queue from tarvlist.txt, and reservations and logins, which wait in a first-in-first-out queue
// and reach tarvadd.txt one at a time, only while that file is empty. A reservation is answered as
// accepted only once the queue record holds it; the end of karaoke mode drops what still waits, as it
// clears the stage's queue. Not thread-safe: the server calls every member from its own thread; only
// the karaoke flag and the (thread-safe) queue record are shared.
class GuestService
{
public:
    using SteadyClock = std::chrono::steady_clock;

    GuestService(const AppPaths& paths, std::shared_ptr<const std::atomic<bool>> karaokeRunning,
                 GuestServiceOptions options = {});
    ~GuestService();

    // The record accepted reservations go to; set before the server starts (none: not recorded).
    void setQueueRecord(QueueRecord* record) { m_record = record; }

    HttpResponse handle(const HttpRequest& request);
    // Writes the oldest waiting request when karaoke mode runs and the request file is empty; drops
    // the waiting requests when karaoke mode has ended. Makes the queue record's changes durable.
    void pump();
    std::size_t pendingCount() const { return m_pending.size(); }

private:
    HttpResponse songs(const QString& query, int page);
    HttpResponse queue();
    HttpResponse reserve(const HttpRequest& request);
    HttpResponse login(const HttpRequest& request);
    // The checks both actions share: the refusal, or nullopt with the request's JSON object in body.
    std::optional<HttpResponse> admit(const HttpRequest& request, QJsonObject* body);
    void enqueue(GuestRequest request);

    AppPaths m_paths;
    std::shared_ptr<const std::atomic<bool>> m_karaokeRunning;
    QueueRecord* m_record = nullptr;
    GuestServiceOptions m_options;
    std::deque<GuestRequest> m_pending;
    QHash<QString, std::deque<SteadyClock::time_point>> m_recent; // per client, the last minute's actions
    std::unique_ptr<SongCatalog> m_songs; // songdb.txt, searched through its index
};

// A guest's name as it is sent on: trimmed, characters without a CP932 form replaced by "?", then as
// storedUserName() keeps it.
QString guestName(QStringView name);

} // namespace tarv
