#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "common/songnumber.h"
#include "exchange/exchange.h"
#include "stage/songlookup.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarv {

class GuestDesk;
class LaterAnswer;
class LiveChannel;
class QueueRecord;
class RoomFeed;
class SerialWorker;
class SongCatalog;

// One HTTP request as the server hands it to the routes: no transport or library types.
struct HttpRequest
{
    std::string method; // as sent: "GET", "POST", ...
    std::string target; // path and query, as sent
    std::string contentType;
    std::string origin;      // the Origin header; empty when absent
    std::string host;        // the Host header
    std::string cookie = {}; // the Cookie header
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
    std::string setCookie = {};
    // Instead of this answer, the one given later (src/web/answers.h): the server serves others meanwhile.
    std::shared_ptr<LaterAnswer> later = {};
    // Instead of an answer, the request's WebSocket upgrade: the connection carries the channel's messages.
    std::shared_ptr<LiveChannel> live = {};
};

struct GuestServiceOptions
{
    const Clock* clock = nullptr;      // what the per-minute limits measure with (none: the system's)
    int reservationsPerMinute = 5;     // reservations and logins of one phone (device cookie)
    int addressActionsPerMinute = 300; // of one address, all its phones together: only a flood is stopped
    int pageSize = 20;
    // A song's length in seconds, for the wait shown on the phones (none: unknown). Both are called on a
    // thread of their own, never the server's: they may read the video's file.
    std::function<std::optional<double>(const SongNumber&)> durationSeconds;
    // The length in seconds of a video of src/ by its name, for the time signals (none: unknown).
    std::function<std::optional<double>(const QString&)> videoSeconds;
};

// The guests' side of karaoke mode: the phone page, the song search over songdb.txt, the room's queue
// as the guest desk holds it, and reservations, logins and cancels, which go to the karaoke session
// through the guest desk. A reservation is of a song of the song list, found as the keypad finds it. A reservation is
// recorded in the queue record before it is answered as accepted; the end of karaoke mode drops what still waits on the
// desk, as it clears the stage's queue. A cancel is likewise out of the record before it is answered as done.
//
// A phone is told apart by its device cookie, set by the page; limits count per phone, and per
// address only against floods. Thread-safe: the server's threads may call handle() at once.
class GuestService
{
public:
    using SteadyClock = std::chrono::steady_clock;

    GuestService(const AppPaths& paths, std::shared_ptr<const std::atomic<bool>> karaokeRunning,
                 GuestServiceOptions options = {});
    ~GuestService();

    // The record accepted reservations go to; set before the server starts (none: not recorded).
    void setQueueRecord(QueueRecord* record) { m_record = record; }
    // Where requests go to the session, and where its queue is read back; set before the server
    // starts (none: requests are refused).
    void setGuestDesk(GuestDesk* desk);

    // Reservations, logins and cancels are answered later (HttpResponse::later): they run one after
    // another on a thread of their own, in the order they came, so that the queue record's write
    // holds up no other guest. So is a queue asked for while the desk's last change is being built.
    // GET /api/live upgrades to a WebSocket that carries the phone's queue at every change.
    HttpResponse handle(const HttpRequest& request);
    // Drops what waits on the desk when karaoke mode has ended; makes the queue record's changes durable.
    void pump();

private:
    HttpResponse songs(const QString& query, int page);
    HttpResponse usualKeyTempo(const QString& number, const QString& name);
    HttpResponse reserve(const HttpRequest& request);
    HttpResponse login(const HttpRequest& request);
    HttpResponse cancel(const HttpRequest& request);
    // The checks every action shares: the refusal, or nullopt with the request's JSON object in body.
    // Every action counts against its address's flood limit; a limited one (a reservation, a login)
    // against its phone's limit too.
    std::optional<HttpResponse> admit(const HttpRequest& request, QJsonObject* body, bool limited);
    std::optional<HttpResponse> limit(const QString& key, int perMinute, const QString& text);
    void forgetLastAction(const HttpRequest& request); // a mistyped request does not count

    AppPaths m_paths;
    std::shared_ptr<const std::atomic<bool>> m_karaokeRunning;
    QueueRecord* m_record = nullptr;
    GuestDesk* m_desk = nullptr;
    GuestServiceOptions m_options;
    // Actions: the limits' counts, and each recording and handing over in the same order.
    std::mutex m_actionMutex;
    const Clock& m_clock;
    QHash<QString, std::deque<qint64>> m_recent; // per phone and per address, in the clock's elapsedMs()
    std::unique_ptr<SongCatalog> m_songs;        // songdb.txt, searched through its index
    SongLookup m_lookup;                         // the song list, as the keypad reserves from it (under m_actionMutex)
    std::unique_ptr<RoomFeed> m_feed;            // the queue as the phones read it
    std::atomic<bool> m_syncQueued = false;      // a sync of the queue record waits for the action thread
    // Last: it goes first, after running the actions still waiting, while everything they use is there.
    std::unique_ptr<SerialWorker> m_actions;
};

// The requests worth the server's worker thread: the song search.
bool isSearch(const HttpRequest& request);

// The device a request comes from: its device cookie when it holds a valid one, otherwise one device
// for the whole address (a program other than the page sends no cookie; it is served, under the
// limits of one phone, and owns what it reserves by its address).
QString deviceOf(const HttpRequest& request);

// A guest's name as it is sent on: trimmed, characters without a CP932 form replaced by "?" and "$" by
// its full-width form (so the queue file's last field is the whole name), then as storedUserName()
// keeps it.
QString guestName(QStringView name);

} // namespace tarv
