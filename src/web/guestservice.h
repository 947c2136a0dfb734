#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "common/songnumber.h"
#include "exchange/exchange.h"
#include "stage/songlookup.h"
#include "web/devices.h"
#include "web/expiringmap.h"

#include <QJsonObject>
#include <QSet>
#include <QUrlQuery>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarv {

class Favourites;
class GuestDesk;
class HistoryService;
class HostAccess;
class HostService;
class LaterAnswer;
class LiveChannel;
class PlayHistory;
class QueueRecord;
class RoomFeed;
class SerialWorker;
struct QueueEntry;
struct QueueSnapshot;
struct RecordedReservation;
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
    int failuresPerMinute = 30;        // actions of one phone that fail (an unknown song or id, another's song)
    int newDevicesPerAddress = 30;     // device cookies issued to one address in ten minutes: a room joining
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
// A phone is told apart by the device cookie the page gives it (see DeviceCookies), at most
// newDevicesPerAddress of them to one address in ten minutes. A client without a cookie the server
// issued is one anonymous phone for its whole address (a program other than the page sends none): it
// is served, under the limits of one phone, and owns what it reserves by its address, but cancels
// nothing, and once its address has had its new devices it reserves nothing either. Limits count per
// phone, and per address only the actions that succeed, against floods: a phone's failed actions count
// against that phone alone. Thread-safe: the server's threads may call handle() at once.
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

    // What the room sang and each name's favourites, for the phones' history, rankings and マイリスト;
    // set before the server starts (none: those routes are not found).
    void setHistory(PlayHistory* history, Favourites* favourites);

    // The host's PIN, cookies and stopped phones, for the host's routes; set before the server starts
    // (none: no route of the host answers), after the record and the desk.
    void setHostAccess(HostAccess* access);

    // Reservations, logins, cancels and the host's actions are answered later (HttpResponse::later):
    // they run one after another on a thread of their own, in the order they came, so that the queue
    // record's write holds up no other guest. So is a queue asked for while the desk's last change is
    // being built. GET /api/live upgrades to a WebSocket that carries the phone's queue at every change.
    HttpResponse handle(const HttpRequest& request);
    // The phone a search is counted for when the server's search workers are shared out: the device
    // of a signed device cookie, else the anonymous phone of its address (so a cookie that does not
    // verify buys no share of its own). Cheap and thread-safe: the server asks on its own thread.
    QString searchDevice(const HttpRequest& request) const;
    // Drops what waits on the desk when karaoke mode has ended; makes the queue record's changes durable.
    void pump();

private:
    bool isHost(const HttpRequest& request) const;
    // Who sent a request: its device, whether the server issued it, and the cookie the answer
    // re-issues (for a cookie of before they were signed).
    struct Caller
    {
        QString device;
        bool issued = false;
        std::string setCookie = {};
    };
    Caller identify(const HttpRequest& request);
    // Whether a device id of an unsigned cookie is re-issued signed: once, for a phone that owns a
    // song in the room's queue (from before the cookies were signed).
    bool reissue(const QString& id);
    // How long until the address may be issued another device, in ms (0: now); with issue, one is
    // counted as issued when it may.
    qint64 newDeviceWait(const std::string& client, bool issue);
    HttpResponse page(const HttpRequest& request);
    HttpResponse songs(const QString& query, int page, const QString& name);
    // The name a phone last logged in or reserved under; empty for none.
    QString nameOf(const QString& device);
    HttpResponse memory(const QString& path, const QUrlQuery& query, const Caller& caller);
    HttpResponse favourite(const HttpRequest& request, const Caller& caller);
    HttpResponse usualKeyTempo(const QString& number, const QString& name, const Caller& caller);
    HttpResponse reserve(const HttpRequest& request, const Caller& caller);
    HttpResponse login(const HttpRequest& request, const Caller& caller);
    HttpResponse cancel(const HttpRequest& request, const Caller& caller);
    HttpResponse hold(const HttpRequest& request, const Caller& caller);
    // The caller's own waiting song that the body's "id" names, or the refusal (notYours: another's).
    std::optional<HttpResponse> ownWaiting(const Caller& caller, const QJsonObject& body, const QString& notYours,
                                           QueueEntry* entry);
    bool endsAfterClosing(const SongNumber& number, const RecordedReservation& recorded) const;
    // Runs action on the action thread; the answer, given then, carries the caller's re-issued cookie.
    HttpResponse later(std::function<HttpResponse()> action, std::string setCookie);
    // The checks every action shares: the refusal, or nullopt with the request's JSON object in body.
    // A limited action (a reservation, a login) is checked against its phone's limit too; an action of
    // the room (not a star of マイリスト) only while karaoke mode runs with its exchange folder.
    std::optional<HttpResponse> admit(const HttpRequest& request, const Caller& caller, QJsonObject* body,
                                      bool limited, bool ofTheRoom = true);
    // An action done: it counts against its address's flood limit, a limited one against its phone's too.
    void counted(const HttpRequest& request, const Caller& caller, bool limited);
    // An action refused as the phone's mistake: it counts against that phone's failures.
    HttpResponse failed(const Caller& caller, HttpResponse refusal);
    void rememberName(const Caller& caller, const QString& user);

    AppPaths m_paths;
    std::shared_ptr<const std::atomic<bool>> m_karaokeRunning;
    QueueRecord* m_record = nullptr;
    GuestDesk* m_desk = nullptr;
    GuestServiceOptions m_options;
    const Clock& m_clock;
    DeviceCookies m_cookies;
    // Actions: the limits' counts, and each recording and handing over in the same order.
    std::mutex m_actionMutex;
    SlidingLimit m_floods;   // actions done, per address
    SlidingLimit m_phones;   // reservations and logins, per phone
    SlidingLimit m_failures; // actions failed, per phone
    // The devices (never held while waiting for the disk, so pages are served meanwhile; taken after
    // m_actionMutex when both are).
    std::mutex m_deviceMutex;
    SlidingLimit m_minted;                             // devices issued, per address
    ExpiringMap<QString> m_names;                      // the name each phone last logged in or reserved under
    ExpiringMap<qint64> m_reissued;                    // unsigned ids re-issued, when first
    std::shared_ptr<const QueueSnapshot> m_ownersRoom; // the room the owners are of
    QSet<QString> m_owners;                            // the devices owning a song in it
    std::unique_ptr<SongCatalog> m_songs;              // songdb.txt, searched through its index
    HostAccess* m_hostAccess = nullptr;
    std::unique_ptr<HostService> m_host;
    std::unique_ptr<HistoryService> m_memory;
    SongLookup m_lookup;                    // the song list, as the keypad reserves from it (under m_actionMutex)
    std::unique_ptr<RoomFeed> m_feed;       // the queue as the phones read it
    std::atomic<bool> m_syncQueued = false; // a sync of the queue record waits for the action thread
    // Last: it goes first, after running the actions still waiting, while everything they use is there.
    std::unique_ptr<SerialWorker> m_actions;
};

// The requests worth the server's worker threads: the song search, and the lists of the room's memory,
// which read the catalog too.
bool isSearch(const HttpRequest& request);

// A guest's name as it is sent on: trimmed, characters without a CP932 form replaced by "?" and "$" by
// its full-width form (so the queue file's last field is the whole name), then as storedUserName()
// keeps it.
QString guestName(QStringView name);

} // namespace tarv
