#pragma once

#include "common/clock.h"
#include "common/songnumber.h"
#include "web/guestservice.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace tarv {

class GuestDesk;

// The lengths the waits add up, in seconds; none when unknown. Either may read a video file the first
// time, so neither is called on the server's thread.
struct QueueLengths
{
    std::function<std::optional<double>(const SongNumber&)> song;
    std::function<std::optional<double>(const QString&)> video; // a video of src/ by its name
};

// The room's queue as the phones see it, built on a thread of its own once per change of the guest
// desk (and every few seconds for the waits, which move on as a song plays): the answer of
// GET /api/queue as ready bytes, each phone's with its own songs marked, and the same as the message
// of each phone's live channel. A song's length is read when the song is listed, a little at each
// build so that no change waits for a whole queue of videos; it counts as unknown until it is known.
//
// A phone that asks while a change is being built is answered once the build is done, so an answer
// never shows less than the desk held when it was asked. Thread-safe.
class RoomFeed
{
public:
    // Without a desk the queue is empty. The clock tells the minutes left before closing.
    RoomFeed(GuestDesk* desk, QueueLengths lengths, const Clock& clock = systemClock());
    ~RoomFeed();
    RoomFeed(const RoomFeed&) = delete;
    RoomFeed& operator=(const RoomFeed&) = delete;

    // The queue as that device sees it ("mine" on its songs): the JSON, or a later answer.
    HttpResponse answer(const QString& device);
    // The same JSON as the messages of a live channel, a new message at every change.
    std::shared_ptr<LiveChannel> channel(const QString& device);
    // Seconds from now until every song of the last build has been sung (held ones aside), time
    // signals included; none when a length is unknown.
    std::optional<double> secondsUntilFree() const;

    struct State;

private:
    std::shared_ptr<State> m;
    std::shared_ptr<void> m_watch;
    std::thread m_thread;
};

} // namespace tarv
