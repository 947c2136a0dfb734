#include "stage/turnorder.h"

#include <QHash>
#include <QSet>

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace tarv;

namespace {

// A waiting song as the tables write it: "3A" is id 3 by A, "3A h" held, "3A p" pinned, "3" by Guest,
// "3_" by a user without a name.
WaitingSong waitingSong(const std::string& text)
{
    WaitingSong song;
    std::size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        song.id = song.id * 10 + quint64(text[i++] - '0');
    const std::size_t blank = text.find(' ', i);
    const std::string user = text.substr(i, blank == std::string::npos ? std::string::npos : blank - i);
    song.user = user.empty() ? QStringLiteral("Guest") : user == "_" ? QString() : QString::fromStdString(user);
    song.held = blank != std::string::npos && text.find('h', blank) != std::string::npos;
    song.pinned = blank != std::string::npos && text.find('p', blank) != std::string::npos;
    return song;
}

// A sung song: "A", or "*A" for one moved to the front.
SungSong sungSong(const std::string& text)
{
    const bool pinned = !text.empty() && text[0] == '*';
    return {QString::fromStdString(pinned ? text.substr(1) : text), pinned};
}

QList<quint64> idsOf(const QList<WaitingSong>& songs)
{
    QList<quint64> ids;
    for (const WaitingSong& song : songs)
        ids.append(song.id);
    return ids;
}

std::string text(const QList<quint64>& ids)
{
    std::string out;
    for (const quint64 id : ids)
        out += (out.empty() ? "" : " ") + std::to_string(id);
    return out;
}

} // namespace

TEST(TurnOrder, OrdersTheWaitingSongs)
{
    const QueueOrder Fifo = QueueOrder::Fifo;
    const QueueOrder Rotation = QueueOrder::Rotation;
    const struct
    {
        const char* what;
        QueueOrder order;
        std::vector<std::string> played;
        std::string playing; // empty: the idle screen
        std::vector<std::string> waiting;
        std::optional<quint64> lockedNext;
        std::string expected;
        bool hasNext = true;
    } rows[] = {
        {"予約順 keeps the queue as it stands", Fifo, {}, "A", {"1A", "2A", "3A", "4B", "5"}, 1, "1 2 3 4 5"},
        {"予約順 keeps a rotation's order", Fifo, {}, "A", {"4B", "1A", "5", "2A"}, 4, "4 1 5 2"},
        {"the locked next stays first", Fifo, {}, "", {"1A", "2B", "3C"}, 2, "2 1 3"},
        {"a held song is passed over", Fifo, {}, "", {"1A h", "2B", "3C"}, {}, "2 1 3"},
        {"a held locked next gives way", Fifo, {}, "", {"1A h", "2B"}, 1, "2 1"},
        {"a cancelled locked next gives way", Fifo, {}, "", {"1A", "2B"}, 9, "1 2"},
        {"every song held: none is next", Rotation, {}, "", {"1A h", "2B h"}, {}, "1 2", false},
        {"the example, A1 playing and A2 next", Rotation, {}, "A", {"2A", "3A", "4B", "5"}, 2, "2 4 5 3"},
        {"the example read with A1 next", Rotation, {}, "", {"1A", "2A", "3A", "4B", "5"}, 1, "1 4 5 2 3"},
        {"nothing next yet: the rule picks it", Rotation, {}, "A", {"2A", "3A", "4B", "5"}, {}, "4 5 2 3"},
        {"the oldest latest turn first", Rotation, {"A", "B", "C"}, "", {"1C", "2B", "3A"}, {}, "3 2 1"},
        {"no turn yet first, by earliest reservation", Rotation, {"A"}, "", {"1A", "2C", "3B", "4C"}, {}, "2 3 1 4"},
        {"each Guest song is a singer of its own",
         Rotation,
         {"Guest"},
         "",
         {"1B", "2", "3", "4B", "5C"},
         1,
         "1 2 3 5 4"},
        {"a song without a name too", Rotation, {}, "", {"1B", "2_", "3", "4B", "5C"}, 1, "1 2 3 5 4"},
        {"a pinned song playing is nobody's turn", Rotation, {"B"}, "*A", {"1A", "2B"}, {}, "1 2"},
        {"pinned songs follow the locked next", Rotation, {}, "A", {"5A p", "1A", "2B", "3C"}, 2, "2 5 3 1"},
        {"a pinned song becomes next", Rotation, {}, "A", {"5A p", "1A", "2B"}, {}, "5 2 1"},
        {"a held song keeps its singer's rank", Rotation, {"A", "B"}, "", {"1A h", "2A", "3B"}, {}, "3 1 2"},
        {"released, it sings after the next", Rotation, {"A", "B"}, "", {"1A", "2A", "3B"}, 3, "3 1 2"},
        {"a held song not reached yet stays", Rotation, {"A"}, "B", {"1B h", "2A", "3C"}, {}, "3 2 1"},
    };
    for (const auto& row : rows) {
        TurnState state;
        for (const std::string& song : row.played)
            state.played.append(sungSong(song));
        if (!row.playing.empty())
            state.playing = sungSong(row.playing);
        for (const std::string& song : row.waiting)
            state.waiting.append(waitingSong(song));
        state.lockedNext = row.lockedNext;
        const WaitingOrder order = TurnOrder(row.order).arrange(state);
        EXPECT_EQ(text(idsOf(order.applied(state.waiting))), row.expected) << row.what;
        EXPECT_EQ(order.hasNext, row.hasNext) << row.what;
    }
}

namespace {

// A room as the stage keeps it: the queue as the last order left it, the next song it showed,
// the turns sung.
class Room
{
public:
    explicit Room(QueueOrder order) : m_policy(order) {}

    void setOrder(QueueOrder order)
    {
        m_policy.setOrder(order);
        arrange();
    }
    quint64 reserve(const QString& user)
    {
        queue.append({++m_lastId, user});
        arrange();
        return m_lastId;
    }
    void cancel(qsizetype position)
    {
        queue.removeAt(position);
        arrange();
    }
    void setHeld(qsizetype position, bool held)
    {
        queue[position].held = held;
        arrange();
    }
    // Karaoke mode starts again with the songs still waiting: no turns yet.
    void newSession()
    {
        played.clear();
        playing.reset();
        next.reset();
        arrange();
    }
    // The keypad's move to the front.
    void pin(qsizetype position)
    {
        WaitingSong song = queue.takeAt(position);
        song.pinned = true;
        queue.prepend(song);
        next = song.id;
        arrange();
    }
    // The song playing ends (a turn when it played long enough) and the next starts.
    void songEnds(bool turn)
    {
        if (playing && turn)
            played.append(*playing);
        playing.reset();
        if (next) {
            const WaitingSong song = queue.takeFirst();
            playing = SungSong{song.user, song.pinned};
            next.reset();
        }
        arrange();
    }

    QList<SungSong> played;
    std::optional<SungSong> playing;
    QList<WaitingSong> queue;
    std::optional<quint64> next;
    std::optional<quint64> nextBefore; // before the last arrange()

private:
    void arrange()
    {
        const WaitingOrder order = m_policy.arrange({played, playing, queue, next});
        ASSERT_EQ(order.positions.size(), queue.size());
        queue = order.applied(queue);
        const QList<quint64> ids = idsOf(queue);
        ASSERT_EQ(QSet<quint64>(ids.cbegin(), ids.cend()).size(), queue.size());
        nextBefore = next;
        next = order.hasNext ? std::optional(queue.constFirst().id) : std::nullopt;
        if (next) {
            ASSERT_FALSE(queue.constFirst().held);
        } else {
            for (const WaitingSong& song : queue)
                ASSERT_TRUE(song.held);
        }
    }

    TurnOrder m_policy;
    quint64 m_lastId = 0;
};

// A singer's key: the user, or the reservation for a singer of their own.
QString singerOf(const WaitingSong& song)
{
    return isAnonymousSinger(song.user) ? QStringLiteral("#%1").arg(song.id) : song.user;
}

// The place of each named singer's latest turn sung or singing, and next when asked.
QHash<QString, qsizetype> lastTurns(const Room& room, bool withNext = false)
{
    QHash<QString, qsizetype> last;
    for (qsizetype i = 0; i < room.played.size(); ++i) {
        if (!room.played[i].pinned && !isAnonymousSinger(room.played[i].user))
            last.insert(room.played[i].user, i);
    }
    if (room.playing && !room.playing->pinned && !isAnonymousSinger(room.playing->user))
        last.insert(room.playing->user, room.played.size());
    if (withNext && room.next && !room.queue.constFirst().pinned)
        last.insert(singerOf(room.queue.constFirst()), room.played.size() + 1);
    return last;
}

// Each singer's earliest waiting song of the rotation (not pinned): its position.
QHash<QString, qsizetype> firstSongs(const Room& room)
{
    QHash<QString, qsizetype> first;
    for (qsizetype i = 0; i < room.queue.size(); ++i) {
        const WaitingSong& song = room.queue[i];
        if (song.pinned)
            continue;
        const auto found = first.constFind(singerOf(song));
        if (found == first.cend() || room.queue[*found].id > song.id)
            first.insert(singerOf(song), i);
    }
    return first;
}

// A newcomer (no turn yet, the next song being one) has at most the next song ahead of their first
// song, besides pinned songs and the first songs of other newcomers who reserved before.
void checkNewcomers(const Room& room)
{
    const QHash<QString, qsizetype> last = lastTurns(room, true);
    const QHash<QString, qsizetype> first = firstSongs(room);
    QSet<qsizetype> newcomersFirst;
    for (auto it = first.cbegin(); it != first.cend(); ++it) {
        if (!last.contains(it.key()))
            newcomersFirst.insert(it.value());
    }
    for (const qsizetype position : newcomersFirst) {
        int others = 0;
        for (qsizetype i = 0; i < position; ++i)
            others += !room.queue[i].pinned && !newcomersFirst.contains(i);
        ASSERT_LE(others, 1) << "a newcomer's first song at " << position + 1;
    }
}

// When a song becomes next, its singer has not sung since any other waiting singer last did.
void checkNoSecondTurn(const Room& room)
{
    if (!room.next || room.next == room.nextBefore || room.queue.constFirst().pinned)
        return;
    const WaitingSong& next = room.queue.constFirst();
    const QHash<QString, qsizetype> last = lastTurns(room);
    const auto previous = last.constFind(singerOf(next));
    if (previous == last.cend())
        return;
    const QHash<QString, qsizetype> first = firstSongs(room);
    for (auto it = first.cbegin(); it != first.cend(); ++it) {
        if (it.key() == singerOf(next) || room.queue[it.value()].held)
            continue;
        ASSERT_TRUE(last.contains(it.key()) && last[it.key()] > *previous)
            << next.user.toStdString() << " sings again before " << it.key().toStdString();
    }
}

} // namespace

TEST(TurnOrder, RotationKeepsItsPromisesOverRandomEvenings)
{
    const QStringList users{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                            QStringLiteral("D"), QStringLiteral("E"), QStringLiteral("Guest")};
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        const auto chance = [&](int percent) { return int(random() % 100) < percent; };
        const auto any = [&](qsizetype size) { return qsizetype(random() % quint64(size)); };
        Room room(QueueOrder::Rotation);
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", step " << step);
            if (step % 250 == 0)
                room.newSession(); // some 100 songs long
            const int what = int(random() % 100);
            if (what < 40 && room.queue.size() < 24) {
                const std::optional<quint64> next = room.next;
                room.reserve(users[any(users.size())]);
                if (next) {
                    ASSERT_EQ(room.next, next) << "a reservation changed the next song";
                }
            } else if (what < 48 && !room.queue.isEmpty()) {
                room.cancel(any(room.queue.size()));
            } else if (what < 58 && !room.queue.isEmpty()) {
                const qsizetype position = any(room.queue.size());
                room.setHeld(position, !room.queue[position].held);
            } else if (what < 61 && !room.queue.isEmpty()) {
                room.pin(any(room.queue.size()));
            } else if (chance(85)) {
                // The order shown is the order sung: the next song plays, the first after it that is
                // not held comes next, and the others keep their order unless held ones were ahead.
                QList<WaitingSong> after = room.queue;
                if (room.next)
                    after.removeFirst();
                room.songEnds(true);
                const auto unheld =
                    std::find_if(after.cbegin(), after.cend(), [](const WaitingSong& s) { return !s.held; });
                if (unheld == after.cend()) {
                    ASSERT_EQ(room.next, std::nullopt);
                } else if (unheld == after.cbegin()) {
                    ASSERT_EQ(idsOf(room.queue), idsOf(after)) << "the order shown is not the order sung";
                } else {
                    ASSERT_EQ(room.next, unheld->id) << "the next song is not the first after it";
                }
            } else {
                room.songEnds(false); // stopped too soon to be a turn
            }
            checkNewcomers(room);
            checkNoSecondTurn(room);
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

TEST(TurnOrder, SwitchingTheOrderKeepsTheNextSong)
{
    Room room(QueueOrder::Fifo);
    room.playing = SungSong{QStringLiteral("A")};
    for (const char* user : {"A", "A", "A", "B", "C"})
        room.reserve(QString::fromLatin1(user));
    EXPECT_EQ(text(idsOf(room.queue)), "1 2 3 4 5");

    room.setOrder(QueueOrder::Rotation);
    EXPECT_EQ(text(idsOf(room.queue)), "1 4 5 2 3");
    room.reserve(QStringLiteral("B"));
    EXPECT_EQ(text(idsOf(room.queue)), "1 4 5 2 6 3");

    // Back to 予約順 the songs stay as they stand, and a new one waits at the end.
    room.setOrder(QueueOrder::Fifo);
    room.reserve(QStringLiteral("C"));
    EXPECT_EQ(text(idsOf(room.queue)), "1 4 5 2 6 3 7");

    room.songEnds(true);
    EXPECT_EQ(room.next, 4u);

    // Switched while the first song waits held, the next song is the first that is not.
    room.setHeld(0, true);
    EXPECT_EQ(text(idsOf(room.queue)), "5 4 2 6 3 7");
    room.setOrder(QueueOrder::Rotation);
    EXPECT_EQ(room.next, 5u);
    EXPECT_EQ(text(idsOf(room.queue)), "5 4 2 7 6 3");
}
