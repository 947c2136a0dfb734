#include "stage/turnorder.h"

#include "stage/command.h"

#include <QHash>

#include <algorithm>
#include <queue>
#include <vector>

namespace tarv {
namespace {

// The locked next (none: -1) and the pinned songs, in the order they play.
QList<qsizetype> front(const QList<WaitingSong>& waiting, qsizetype lock)
{
    QList<qsizetype> order;
    order.reserve(waiting.size());
    if (lock >= 0)
        order.append(lock);
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        if (i != lock && waiting[i].pinned)
            order.append(i);
    }
    return order;
}

QList<qsizetype> fifoOrder(const QList<WaitingSong>& waiting, qsizetype lock)
{
    QList<qsizetype> order = front(waiting, lock);
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        if (i != lock && !waiting[i].pinned)
            order.append(i);
    }
    return order;
}

// A singer in the line for the next placement.
struct InLine
{
    bool hasTurn = false;
    qint64 lastTurn = 0;  // when hasTurn
    quint64 earliest = 0; // the id of their earliest song still to place
    qsizetype singer = 0; // tells apart two singers whose earliest songs share an id
};

// Whether a is placed after b: the singers with no turn first, by their earliest waiting
// reservation, then the oldest latest turn first.
bool placedAfter(const InLine& a, const InLine& b)
{
    if (a.hasTurn != b.hasTurn)
        return a.hasTurn;
    if (a.hasTurn)
        return a.lastTurn > b.lastTurn;
    if (a.earliest != b.earliest)
        return a.earliest > b.earliest;
    return a.singer > b.singer;
}

QList<qsizetype> rotationOrder(const TurnState& state, qsizetype lock)
{
    const QList<WaitingSong>& waiting = state.waiting;
    QList<qsizetype> order = front(waiting, lock);

    // The other songs by singer, each singer's in the order they were reserved.
    QList<qsizetype> rest;
    rest.reserve(waiting.size() - order.size());
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        if (i != lock && !waiting[i].pinned)
            rest.append(i);
    }
    std::stable_sort(rest.begin(), rest.end(), [&](qsizetype a, qsizetype b) { return waiting[a].id < waiting[b].id; });
    QList<QList<qsizetype>> songsOf;
    QHash<QString, qsizetype> singerOf;
    for (const qsizetype i : rest) {
        const QString& user = waiting[i].user;
        if (isAnonymousSinger(user)) {
            songsOf.append(QList<qsizetype>{i});
            continue;
        }
        const auto found = singerOf.constFind(user);
        if (found != singerOf.cend()) {
            songsOf[*found].append(i);
        } else {
            singerOf.insert(user, songsOf.size());
            songsOf.append(QList<qsizetype>{i});
        }
    }

    // The turns so far: each waiting singer's latest (none: -1).
    QList<qint64> lastTurn(songsOf.size(), -1);
    qint64 turn = 0;
    const auto count = [&](const QString& user, bool pinned) {
        if (!pinned && !isAnonymousSinger(user)) {
            const auto found = singerOf.constFind(user);
            if (found != singerOf.cend())
                lastTurn[*found] = turn;
        }
        ++turn;
    };
    for (const SungSong& song : state.played)
        count(song.user, song.pinned);
    if (state.playing)
        count(state.playing->user, state.playing->pinned);
    if (lock >= 0)
        count(waiting[lock].user, waiting[lock].pinned);

    std::priority_queue<InLine, std::vector<InLine>, decltype(&placedAfter)> line(&placedAfter);
    for (qsizetype singer = 0; singer < songsOf.size(); ++singer) {
        const qint64 last = lastTurn[singer];
        line.push({last >= 0, std::max<qint64>(last, 0), waiting[songsOf[singer].constFirst()].id, singer});
    }
    QList<qsizetype> placed(songsOf.size(), 0); // how many of each singer's songs are placed
    while (!line.empty()) {
        const qsizetype singer = line.top().singer;
        line.pop();
        const QList<qsizetype>& songs = songsOf[singer];
        order.append(songs[placed[singer]++]);
        const qint64 placement = turn++;
        if (placed[singer] < songs.size())
            line.push({true, placement, waiting[songs[placed[singer]]].id, singer});
    }
    return order;
}

} // namespace

bool isAnonymousSinger(const QString& user)
{
    return user.isEmpty() || user == GuestUser;
}

WaitingOrder TurnOrder::arrange(const TurnState& state) const
{
    const QList<WaitingSong>& waiting = state.waiting;
    const auto orderWith = [&](qsizetype lock) {
        return m_order == QueueOrder::Rotation ? rotationOrder(state, lock) : fifoOrder(waiting, lock);
    };

    qsizetype lock = -1;
    if (state.lockedNext) {
        const auto found = std::find_if(waiting.cbegin(), waiting.cend(),
                                        [&](const WaitingSong& song) { return song.id == *state.lockedNext; });
        if (found != waiting.cend() && !found->held)
            lock = found - waiting.cbegin();
    }
    if (lock >= 0)
        return {orderWith(lock), true};

    // Nothing is next yet: the first song of the order that is not held becomes it, and the rest
    // is ordered again with it as a turn.
    const QList<qsizetype> order = orderWith(-1);
    const auto next =
        std::find_if(order.cbegin(), order.cend(), [&](qsizetype position) { return !waiting[position].held; });
    if (next == order.cend())
        return {order, false};
    return {orderWith(*next), true};
}

} // namespace tarv
