#include "web/roomfeed.h"

#include "stage/guestdesk.h"
#include "stage/turnsettings.h"
#include "stage/waitestimate.h"
#include "web/answers.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace tarv {

namespace {

using Steady = std::chrono::steady_clock;

// The waits move on as a song plays; the phones show them in minutes.
constexpr auto WaitRefresh = std::chrono::seconds(5);
// How long a build waits for the lengths of songs newly listed before it goes out without the rest:
// a queue of 500 videos read at once, or one video on a slow disk, would hold the change back for
// seconds.
constexpr auto LengthWait = std::chrono::milliseconds(50);
// How often the reader has the queue built again while it reads many.
constexpr auto LengthsShownEvery = std::chrono::milliseconds(200);

// Reads the lengths the queue needs on a thread of its own, in the order they were asked for, each
// once while it is needed.
class LengthReader
{
public:
    using Read = std::function<std::optional<double>()>;
    struct Needed
    {
        QString key;
        Read read;
    };

    // read: called on the reader's thread when lengths asked for have been read since the last call.
    explicit LengthReader(std::function<void()> read) : m_readSome(std::move(read)), m_thread([this] { run(); }) {}
    ~LengthReader()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_asked.notify_one();
        m_thread.join();
    }

    // The lengths known of these, waiting until then for those not read yet; those still not read
    // are missing. What is no longer needed is forgotten, to be read again when it is.
    QHash<QString, std::optional<double>> lengths(const std::vector<Needed>& needed, Steady::time_point until)
    {
        std::unique_lock lock(m_mutex);
        QSet<QString> keys;
        bool asked = false;
        for (const Needed& item : needed) {
            keys.insert(item.key);
            if (!m_known.contains(item.key) && !m_queued.contains(item.key)) {
                m_queue.push_back(item);
                m_queued.insert(item.key);
                asked = true;
            }
        }
        if (asked)
            m_asked.notify_one();
        const auto allKnown = [&] {
            return std::all_of(needed.cbegin(), needed.cend(),
                               [this](const Needed& item) { return m_known.contains(item.key); });
        };
        m_read.wait_until(lock, until, allKnown);
        QHash<QString, std::optional<double>> out;
        for (auto it = m_known.begin(); it != m_known.end();) {
            if (!keys.contains(it.key())) {
                it = m_known.erase(it);
                continue;
            }
            out.insert(it.key(), it.value());
            ++it;
        }
        return out;
    }

private:
    void run()
    {
        auto shown = Steady::now();
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_asked.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            const Needed item = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            const std::optional<double> seconds = item.read();
            lock.lock();
            m_known.insert(item.key, seconds);
            m_queued.remove(item.key);
            m_read.notify_all();
            if (m_queue.empty() || Steady::now() - shown >= LengthsShownEvery) {
                shown = Steady::now();
                lock.unlock();
                m_readSome();
                lock.lock();
            }
        }
    }

    const std::function<void()> m_readSome;
    std::mutex m_mutex;
    std::condition_variable m_asked, m_read;
    std::deque<Needed> m_queue;
    QSet<QString> m_queued;
    QHash<QString, std::optional<double>> m_known; // by "s" and the song number or "v" and the video's name
    bool m_stopping = false;
    std::thread m_thread; // last: it starts once the rest is there
};

// A JSON text with holes where each entry's "mine" goes: true for the phone that reserved it.
struct QueueBody
{
    std::vector<std::string> pieces; // one more than the holes
    std::vector<QString> owners;     // the phone of each hole
    QSet<QString> devices;           // the phones that own any
    std::shared_ptr<const std::string> none;
    std::optional<double> free; // seconds until the queue has been sung, when known

    std::shared_ptr<const std::string> forDevice(const QString& device) const
    {
        if (!devices.contains(device))
            return none;
        auto text = std::make_shared<std::string>();
        text->reserve(none->size() + owners.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            *text += pieces[i];
            if (i < owners.size())
                *text += owners[i] == device ? "true" : "false";
        }
        return text;
    }
};

struct PreparedQueue
{
    quint64 stamp = 0;          // the desk's changes() it shows
    qint64 builtMs = 0;         // when, by the clock's elapsedMs()
    std::optional<double> free; // seconds from then until the queue has been sung, when known
    quint64 version = 0;        // grows with each build that shows something else
    std::shared_ptr<const QueueBody> body;
};

class JsonWriter
{
public:
    JsonWriter& raw(std::string_view text)
    {
        m_current += text;
        return *this;
    }
    JsonWriter& number(qint64 value)
    {
        m_current += std::to_string(value);
        return *this;
    }
    JsonWriter& string(const QString& text)
    {
        m_current += '"';
        for (const char c : text.toUtf8()) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                m_current += '\\';
                m_current += c;
            } else if (byte < 0x20) {
                static const char Hex[] = "0123456789abcdef";
                m_current += "\\u00";
                m_current += Hex[byte >> 4];
                m_current += Hex[byte & 15];
            } else {
                m_current += c;
            }
        }
        m_current += '"';
        return *this;
    }
    // "mine": true for the phone that reserved it, false for every other.
    JsonWriter& mine(const QString& device)
    {
        if (device.isEmpty())
            return raw("false");
        m_body.pieces.push_back(std::move(m_current));
        m_current.clear();
        m_body.owners.push_back(device);
        m_body.devices.insert(device);
        return *this;
    }

    QueueBody finish()
    {
        m_body.pieces.push_back(std::move(m_current));
        auto none = std::make_shared<std::string>();
        for (std::size_t i = 0; i < m_body.pieces.size(); ++i) {
            *none += m_body.pieces[i];
            if (i < m_body.owners.size())
                *none += "false";
        }
        m_body.none = std::move(none);
        return std::move(m_body);
    }

private:
    std::string m_current;
    QueueBody m_body;
};

void writeEntry(JsonWriter& out, const QueueEntry& entry, bool withId)
{
    out.raw("{\"number\":").string(entry.number.text());
    out.raw(",\"title\":").string(entry.title);
    out.raw(",\"user\":").string(entry.user);
    if (withId && entry.id != 0)
        out.raw(",\"id\":").string(QString::number(entry.id));
    out.raw(",\"mine\":").mine(entry.device);
    out.raw(",\"key\":").number(entry.keyTempo.key);
    out.raw(",\"tempo\":").number(entry.keyTempo.tempo);
    if (entry.held)
        out.raw(",\"held\":true");
}

HttpResponse jsonAnswer(const std::string& text)
{
    return {200, "application/json; charset=utf-8", text, {}};
}

} // namespace

struct RoomFeed::State
{
    GuestDesk* const desk;
    const QueueLengths lengths;
    const Clock& clock;

    std::mutex mutex;
    std::condition_variable wake;
    bool dirty = true;
    bool stopping = false;
    std::shared_ptr<const PreparedQueue> prepared;
    struct Waiting
    {
        quint64 stamp;
        QString device;
        std::shared_ptr<LaterAnswer> answer;
    };
    std::vector<Waiting> waiting;
    ChangeWatchers watchers;              // the live channels
    std::unique_ptr<LengthReader> reader; // the builder's

    State(GuestDesk* desk, QueueLengths lengths, const Clock& clock)
        : desk(desk), lengths(std::move(lengths)), clock(clock)
    {
    }

    void poke()
    {
        {
            const std::lock_guard lock(mutex);
            dirty = true;
        }
        wake.notify_one();
    }
    void run();
    // Builds and publishes the queue as the desk holds it now.
    void build();
    QueueBody json();
};

QueueBody RoomFeed::State::json()
{
    static const auto none = std::make_shared<const QueueSnapshot>();
    const std::shared_ptr<const QueueSnapshot> room = desk ? desk->snapshot() : none;
    const std::optional<double> position = desk ? desk->position() : std::nullopt;
    const int tempo = desk ? desk->tempo() : 0;
    const QList<DeskSignal> signalsAhead = desk ? desk->timeSignals() : QList<DeskSignal>();

    // The lengths this queue needs, in the order the waits need them.
    std::vector<LengthReader::Needed> needed;
    const auto song = [&](const SongNumber& number) {
        needed.push_back(
            {u's' + number.text(), [this, number] { return lengths.song ? lengths.song(number) : std::nullopt; }});
        return needed.back().key;
    };
    const auto video = [&](const QString& name) {
        needed.push_back({u'v' + name, [this, name] { return lengths.video ? lengths.video(name) : std::nullopt; }});
        return needed.back().key;
    };
    const QString playingKey = room->playing ? song(room->playing->number) : video(QStringLiteral("000000"));
    QList<QString> aheadKeys;
    for (const QList<QueueEntry>* part : {&room->waiting, &room->accepted}) {
        for (const QueueEntry& entry : *part)
            aheadKeys.append(song(entry.number));
    }
    QList<QStringList> signalKeys;
    for (const DeskSignal& signal : signalsAhead) {
        QStringList keys;
        for (const QString& name : signal.videos)
            keys.append(video(name));
        signalKeys.append(keys);
    }
    const QHash<QString, std::optional<double>> known =
        reader ? reader->lengths(needed, Steady::now() + LengthWait) : QHash<QString, std::optional<double>>();
    const auto length = [&known](const QString& key) { return known.value(key, std::nullopt); };

    JsonWriter out;
    out.raw("{\"version\":").string(QString::number(room->version)).raw(",\"playing\":");
    if (room->playing) {
        writeEntry(out, *room->playing, false);
        out.raw("}");
    } else {
        out.raw("null");
    }

    // The wait: what is left of the song playing, then each song ahead, each at its tempo, and the time
    // signals that fire before a song starts; unknown from the first song of unknown length on.
    // A held song is passed over: it delays nobody and has no wait of its own.
    QList<SongAhead> ahead;
    QList<qsizetype> aheadOf; // each entry's place in ahead; -1 for a held one
    qsizetype i = 0;
    for (const QList<QueueEntry>* part : {&room->waiting, &room->accepted}) {
        for (const QueueEntry& entry : *part) {
            const std::optional<double> seconds = length(aheadKeys[i++]);
            aheadOf.append(entry.held ? -1 : ahead.size());
            if (!entry.held)
                ahead.append({seconds, entry.keyTempo.tempo});
        }
    }
    ahead.append({0.0, 0}); // after the last: when the queue has been sung
    std::optional<double> left = 0.0;
    if (position) {
        // Over no reservation it is the intro that plays.
        const auto playing = length(playingKey);
        left = playing ? std::optional(*playing - *position) : std::nullopt;
    }
    QList<SignalAhead> signalLengths;
    for (qsizetype s = 0; s < signalsAhead.size(); ++s) {
        // One of the videos plays, chosen at random: count the mean of the lengths known.
        double total = 0;
        int count = 0;
        for (const QString& key : signalKeys[s]) {
            if (const auto seconds = length(key)) {
                total += *seconds;
                ++count;
            }
        }
        if (count > 0)
            signalLengths.append({signalsAhead[s].in, total / count});
    }
    const QList<std::optional<double>> waits = estimateWaits(left, tempo, ahead, signalLengths);
    if (desk) {
        if (const auto minutes = minutesToClosing(clock.now(), desk->closing()))
            out.raw(",\"closing\":").string(closingNoticeText(*minutes));
    }

    out.raw(",\"waiting\":[");
    i = 0;
    for (const QList<QueueEntry>* part : {&room->waiting, &room->accepted}) {
        for (const QueueEntry& entry : *part) {
            if (i > 0)
                out.raw(",");
            writeEntry(out, entry, true);
            if (part == &room->accepted)
                out.raw(",\"accepted\":true");
            if (const qsizetype place = aheadOf[i]; place >= 0 && waits.value(place))
                out.raw(",\"wait\":").number(qRound(*waits[place]));
            out.raw("}");
            ++i;
        }
    }
    out.raw("]}");
    QueueBody body = out.finish();
    body.free = waits.value(ahead.size() - 1);
    return body;
}

void RoomFeed::State::build()
{
    // Read before the desk: the build shows at least this much.
    const quint64 stamp = desk ? desk->changes() : 0;
    auto body = std::make_shared<const QueueBody>(json());
    std::vector<Waiting> answered;
    std::shared_ptr<const PreparedQueue> ready;
    bool news = false;
    {
        const std::lock_guard lock(mutex);
        auto next = std::make_shared<PreparedQueue>();
        next->stamp = stamp;
        next->builtMs = clock.elapsedMs();
        next->free = body->free;
        const PreparedQueue* before = prepared.get();
        news = !before || *before->body->none != *body->none || before->body->owners != body->owners;
        next->version = before ? before->version + (news ? 1 : 0) : 1;
        next->body = news ? std::move(body) : before->body;
        prepared = ready = std::move(next);
        std::erase_if(waiting, [&](Waiting& w) {
            if (w.stamp > stamp)
                return false;
            answered.push_back(std::move(w));
            return true;
        });
    }
    for (Waiting& w : answered)
        w.answer->give(jsonAnswer(*ready->body->forDevice(w.device)));
    if (news)
        watchers.notify();
}

void RoomFeed::State::run()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        wake.wait_for(lock, WaitRefresh, [this] { return stopping || dirty; });
        if (stopping)
            return;
        dirty = false;
        lock.unlock();
        build();
        lock.lock();
    }
}

namespace {

class DeviceChannel : public LiveChannel
{
public:
    DeviceChannel(std::shared_ptr<RoomFeed::State> state, QString device)
        : m_state(std::move(state)), m_device(std::move(device))
    {
    }

    LiveMessage latest() override
    {
        std::shared_ptr<const PreparedQueue> prepared;
        {
            const std::lock_guard lock(m_state->mutex);
            prepared = m_state->prepared;
        }
        if (!prepared)
            return {};
        if (!m_text || prepared->version != m_version) {
            m_version = prepared->version;
            m_text = prepared->body->forDevice(m_device);
        }
        return {m_version, m_text};
    }

    std::shared_ptr<void> watch(std::function<void()> changed) override
    {
        return m_state->watchers.watch(std::move(changed));
    }

private:
    std::shared_ptr<RoomFeed::State> m_state;
    const QString m_device;
    quint64 m_version = 0;
    std::shared_ptr<const std::string> m_text;
};

} // namespace

RoomFeed::RoomFeed(GuestDesk* desk, QueueLengths lengths, const Clock& clock)
    : m(std::make_shared<State>(desk, std::move(lengths), clock))
{
    if (!desk) {
        m->build();
        return;
    }
    m->reader = std::make_unique<LengthReader>([state = m.get()] { state->poke(); });
    m_watch = desk->watch([state = m.get()] { state->poke(); });
    m_thread = std::thread([state = m.get()] { state->run(); });
}

RoomFeed::~RoomFeed()
{
    m_watch.reset();
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m->mutex);
            m->stopping = true;
        }
        m->wake.notify_one();
        m_thread.join();
    }
    m->reader.reset();
}

HttpResponse RoomFeed::answer(const QString& device)
{
    const std::lock_guard lock(m->mutex);
    const quint64 now = m->desk ? m->desk->changes() : 0;
    if (m->prepared && m->prepared->stamp >= now)
        return jsonAnswer(*m->prepared->body->forDevice(device));
    HttpResponse later;
    later.later = std::make_shared<LaterAnswer>();
    m->waiting.push_back({now, device, later.later});
    return later;
}

std::optional<double> RoomFeed::secondsUntilFree() const
{
    const std::lock_guard lock(m->mutex);
    if (!m->prepared || !m->prepared->free)
        return std::nullopt;
    const double since = double(m->clock.elapsedMs() - m->prepared->builtMs) / 1000;
    return std::max(0.0, *m->prepared->free - since);
}

std::shared_ptr<LiveChannel> RoomFeed::channel(const QString& device)
{
    return std::make_shared<DeviceChannel>(m, device);
}

} // namespace tarv
