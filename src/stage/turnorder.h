#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace tarv {

// The order the waiting songs play in, chosen by the operator.
enum class QueueOrder {
    Fifo,     // "予約順": the queue as it stands, each new reservation at its end
    Rotation, // "交代制": turns by singer
};

// A song shorter than this (stopped sooner) is not a turn.
inline constexpr int TurnMinimumSeconds = 20;

// A song sung this karaoke session, or playing now, as the turns count it.
struct SungSong
{
    QString user;
    bool pinned = false; // it was moved to the front by the keypad: it is nobody's turn
};

// A reservation waiting in the queue.
struct WaitingSong
{
    quint64 id = 0; // the stage gives ids in the order reservations are made
    QString user;
    bool held = false;   // its singer is away ("あとで歌う"): it is passed over until released
    bool pinned = false; // moved to the front by the keypad: ahead of the rotation, nobody's turn
};

// What the order is decided from.
struct TurnState
{
    QList<SungSong> played;            // this karaoke session's songs that played for TurnMinimumSeconds, oldest first
    std::optional<SungSong> playing;   // none over the idle screen
    QList<WaitingSong> waiting;        // the queue as it stands (pinned songs at its front, in the order they play)
    std::optional<quint64> lockedNext; // the next song as it was shown; none when nothing is next yet
};

// The waiting songs in the order they play.
struct WaitingOrder
{
    QList<qsizetype> positions; // positions in TurnState::waiting, the next song's first
    bool hasNext = false;       // positions.first() is the locked next; false when every song is held

    // The same order applied to the list the state was made from (the stage's reservations).
    template <typename T> QList<T> applied(const QList<T>& list) const
    {
        QList<T> ordered;
        ordered.reserve(positions.size());
        for (const qsizetype position : positions)
            ordered.append(list.at(position));
        return ordered;
    }
};

// The policy that orders the waiting songs. The stage keeps its queue as a list of reservations,
// and after every change (a reservation, a cancel, a hold or release, a song taken or ended, a move
// to the front, a switch of the order) builds a TurnState from it, applies the order and keeps the
// next song for the following call.
//
// The next song is locked: once shown, it stays first whatever is reserved, in either order, until
// it is taken, cancelled or held, or the operator moves another song to the front (the stage then
// puts that song first in its list, marks it pinned and passes it as the locked next). Without a
// usable locked next, the first song of the order that is not held becomes it.
//
// Fifo keeps the queue as it stands. Rotation puts the pinned songs (in their order) after the
// next song and then, one placement at a time, the earliest waiting song of the singer whose
// latest turn is oldest: first the singers with no turn yet, by their earliest waiting reservation.
// Turns are the songs played, the song playing, the next song and each placement; pinned songs
// are nobody's turn. A singer is a user name; each of "Guest"'s reservations (and each without a
// name) is a singer of its own.
//
// A held song keeps its place in either order (its singer's rank in a rotation) but is passed over
// as the next song, so once its turn has come it waits just behind the next song, and a release
// (the stage clears the flag) lets it sing there. A held song that was not reached yet simply
// stays where its rank puts it.
class TurnOrder
{
public:
    explicit TurnOrder(QueueOrder order = QueueOrder::Fifo) : m_order(order) {}

    QueueOrder order() const { return m_order; }
    // Takes effect at the next arrange(); the locked next stays first.
    void setOrder(QueueOrder order) { m_order = order; }

    WaitingOrder arrange(const TurnState& state) const;

private:
    QueueOrder m_order;
};

// Whether a user is nobody in particular: each of their reservations is a singer of its own.
bool isAnonymousSinger(const QString& user);

} // namespace tarv
