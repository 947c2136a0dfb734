// The stage's reservation queue: reserving, the review, cancel and hold of waiting songs, their order
// and the turns sung, playing the next one, and publishing the queue (the queue file, the queue
// record).
#include "stage/stage.h"

#include "common/webroot.h"
#include "player/player.h"
#include "stage/queuerecord.h"
#include "stage/singerkeys.h"

#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <utility>

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcStage)

QString Stage::entryText(const Reservation& entry) const
{
    return u'(' + entry.number.text() + QStringLiteral(") - ") + userPart(entry.user) + entry.title;
}

void Stage::clearSelection()
{
    m_selected = -1;
}

void Stage::changeQueue()
{
    m_idleShown = false;
    arrangeQueue();
    recordQueue();
    emit queueChanged();
}

bool Stage::arrangeQueue()
{
    TurnState state;
    state.played = m_sung;
    if (m_playing)
        state.playing = SungSong{m_playing->user, m_playing->pinned};
    state.waiting.reserve(m_queue.size());
    for (const Reservation& entry : m_queue)
        state.waiting.append({entry.id, entry.user, entry.held, entry.pinned});
    state.lockedNext = m_lockedNext;
    const WaitingOrder order = m_turns.arrange(state);
    QList<Reservation> arranged = order.applied(m_queue);
    m_lockedNext = order.hasNext ? std::optional(arranged.constFirst().id) : std::nullopt;
    const bool changed = !std::equal(arranged.cbegin(), arranged.cend(), m_queue.cbegin(), m_queue.cend(),
                                     [](const Reservation& a, const Reservation& b) { return a.id == b.id; });
    m_queue = std::move(arranged);
    return changed;
}

void Stage::setQueueOrder(QueueOrder order)
{
    if (order == m_turns.order())
        return;
    m_turns.setOrder(order);
    if (m_queue.isEmpty())
        return;
    clearSelection();
    changeQueue();
    m_webRoot = readWebRoot(m_paths);
    publishFull();
}

void Stage::endTurn()
{
    endPlay();
    if (!m_playing || m_turnEnded)
        return;
    // Stopped, or at its end (where the player stays until the next song is loaded).
    if (m_main.mediaPath() == m_paths.video(m_playing->number.text()) && m_main.position() >= TurnMinimumSeconds)
        m_sung.append({m_playing->user, m_playing->pinned});
    m_turnEnded = true;
}

void Stage::endPlay()
{
    if (!m_playing || m_playEnded)
        return;
    m_playEnded = true;
    // Read while the song is still loaded: stopped where it was, or at its end.
    const bool loaded = m_main.mediaPath() == m_paths.video(m_playing->number.text());
    emit songEnded(loaded ? int(std::max(0.0, m_main.position())) : 0, m_songKeyTempo);
}

namespace {

RecordedReservation recorded(const Reservation& entry)
{
    RecordedReservation out{entry.number, entry.user, entry.keyTempo, entry.device, entry.id};
    out.held = entry.held;
    out.pinned = entry.pinned;
    return out;
}

} // namespace

void Stage::recordQueue()
{
    const bool handOver = std::exchange(m_handOver, false);
    if (m_record) {
        QList<RecordedReservation> waiting;
        waiting.reserve(m_queue.size());
        for (const Reservation& entry : m_queue)
            waiting.append(recorded(entry));
        m_record->setQueue(waiting, m_playing ? std::optional(recorded(*m_playing)) : std::nullopt, handOver);
    }
    emit roomChanged();
}

void Stage::restoreRecordedQueue()
{
    if (!m_record)
        return;
    const QList<RecordedReservation> kept = m_record->queue();
    // Each keeps its id, which the phones know it by; one the guests' pages accepted gets its id now.
    quint64 lastId = m_lastId;
    for (const RecordedReservation& r : kept)
        lastId = std::max(lastId, r.id);
    QSet<quint64> ids;
    for (const RecordedReservation& r : kept) {
        const SongNumber number = r.number;
        const std::optional<Song> song = m_songs.find(number);
        if (!song) {
            qCWarning(lcStage) << "a kept reservation is no longer in the song list:" << number.text();
            continue;
        }
        const quint64 id = (r.id != 0 && !ids.contains(r.id)) ? r.id : ++lastId;
        ids.insert(id);
        const KeyTempo keyTempo =
            r.keyTempo ? *r.keyTempo : rememberedKeyTempo(m_paths.singerKeys(), r.user, number).value_or(KeyTempo{});
        m_queue.append(
            {number, song->title(), song->rawTitle, r.user, id, r.device, keyTempo.clamped(), r.held, r.pinned});
    }
    m_lastId = lastId;
    // The first song that can be sung was the next one (or the one playing): it stays next.
    const auto next = std::find_if(m_queue.cbegin(), m_queue.cend(), [](const Reservation& r) { return !r.held; });
    if (next != m_queue.cend())
        m_lockedNext = next->id;
    changeQueue();
    if (!m_queue.isEmpty()) {
        m_webRoot = readWebRoot(m_paths);
        publishFull();
    }
}

void Stage::setNowPlaying(const Reservation& entry)
{
    m_nowPlaying = NowPlaying{entry.number, entry.title, entry.rawTitle, entry.user};
    emit nowPlayingChanged();
}

void Stage::reserve(const Cmd::Reserve& reserve)
{
    setColour(StatusColour::White);
    const std::optional<Song> song = m_songs.find(reserve.number);
    if (!song) {
        message(StatusColour::Yellow, QStringLiteral("Not Found!"));
        return;
    }
    const KeyTempo keyTempo =
        reserve.keyTempo ? *reserve.keyTempo
                         : rememberedKeyTempo(m_paths.singerKeys(), reserve.user, reserve.number).value_or(KeyTempo{});
    const Reservation entry{reserve.number, song->title(),  song->rawTitle,    reserve.user,
                            ++m_lastId,     reserve.device, keyTempo.clamped()};
    if (!m_main.isPlaying() && m_queue.isEmpty()) {
        if (!startPlayback(entry))
            return;
        showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
        setNowPlaying(entry);
        recordQueue();
        publishFull();
        emit hideCountRestarted();
        return;
    }
    showStatus(StatusColour::White, QStringLiteral("予受(") + QString::number(m_queue.size() + 1) +
                                        QStringLiteral(")：") + entryText(entry));
    m_queue.append(entry);
    clearSelection();
    changeQueue();
    publishFull();
    emit hideCountRestarted();
}

void Stage::playNext()
{
    if (!m_lockedNext)
        return; // nothing waits, or every song waiting is held
    setColour(StatusColour::White);
    endTurn();
    const Reservation entry = m_queue.takeFirst();
    m_lockedNext.reset();
    m_playing = entry; // the record has it as playing in the same write that takes it from the queue
    clearSelection();
    changeQueue();
    m_last = Cmd::Playing{};
    if (!startPlayback(entry)) {
        // The song is gone from the queue and the file says so; the next one follows.
        m_playing.reset();
        if (arrangeQueue())
            emit queueChanged();
        recordQueue();
        publishFull();
        return;
    }
    showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
    setNowPlaying(entry);
    emit hideCountRestarted();
    publishFull();
}

void Stage::reviewStart()
{
    if (m_queue.isEmpty())
        return;
    showReview(0);
    m_last = Cmd::ReviewNext{};
    emit hideCountRestarted();
}

void Stage::reviewNext()
{
    if (m_queue.isEmpty())
        return;
    showReview(m_selected + 1 >= m_queue.size() ? 0 : m_selected + 1);
    emit hideCountRestarted();
}

void Stage::showReview(int index)
{
    setColour(StatusColour::Cyan);
    m_selected = index;
    changeQueue();
    showStatus(StatusColour::Cyan, QStringLiteral("予確(") + QString::number(index + 1) + u'/' +
                                       QString::number(m_queue.size()) + QStringLiteral(")：") +
                                       entryText(m_queue[index]));
}

void Stage::cancelReviewed()
{
    if (m_queue.isEmpty() || m_selected < 0 || m_selected >= m_queue.size())
        return;
    cancelAt(m_selected);
}

void Stage::cancelReservation(quint64 id)
{
    // Gone already (playing, or cancelled on the keypad meanwhile): nothing to do.
    const auto found =
        std::find_if(m_queue.cbegin(), m_queue.cend(), [id](const Reservation& r) { return r.id == id; });
    if (found != m_queue.cend())
        cancelAt(found - m_queue.cbegin());
}

void Stage::hold(quint64 id, bool held)
{
    const auto found = std::find_if(m_queue.begin(), m_queue.end(), [id](const Reservation& r) { return r.id == id; });
    if (found == m_queue.end() || found->held == held)
        return; // gone already (playing, or cancelled meanwhile), or held or back already
    setColour(StatusColour::Cyan);
    found->held = held;
    const Reservation entry = *found;
    clearSelection();
    changeQueue();
    showStatus(StatusColour::Cyan, (held ? QStringLiteral("保留：") : QStringLiteral("戻る：")) + entryText(entry));
    publishFull();
    emit hideCountRestarted();
}

void Stage::cancelAt(qsizetype index)
{
    setColour(StatusColour::Cyan);
    const Reservation entry = m_queue.takeAt(index);
    clearSelection();
    changeQueue();
    showStatus(StatusColour::Cyan,
               QStringLiteral("予消(N/") + QString::number(m_queue.size()) + QStringLiteral(")：") + entryText(entry));
    publishFull();
    emit hideCountRestarted();
}

qsizetype Stage::newestIndex() const
{
    // First come, first served: the last of the queue, as it always was. In turns the last one is
    // somebody's later turn: the reservation made last is the one meant.
    if (m_turns.order() == QueueOrder::Fifo)
        return m_queue.size() - 1;
    const auto newest = std::max_element(m_queue.cbegin(), m_queue.cend(),
                                         [](const Reservation& a, const Reservation& b) { return a.id < b.id; });
    return newest - m_queue.cbegin();
}

void Stage::moveToFront(qsizetype index, bool publish)
{
    moveTo(index, 0, publish);
}

void Stage::moveReservation(quint64 id, int to)
{
    const auto found =
        std::find_if(m_queue.cbegin(), m_queue.cend(), [id](const Reservation& r) { return r.id == id; });
    if (found == m_queue.cend())
        return;
    moveTo(found - m_queue.cbegin(), std::clamp<qsizetype>(to - 1, 0, m_queue.size() - 1), true);
}

void Stage::moveTo(qsizetype index, qsizetype place, bool publish)
{
    setColour(StatusColour::Cyan);
    Reservation& moved = m_queue[index];
    const quint64 id = moved.id;
    if (place == 0) {
        // The next song now, ahead of the turns and nobody's turn; brought forward by the operator,
        // a held song sings too.
        moved.pinned = true;
        moved.held = false;
    } else if (m_turns.order() == QueueOrder::Rotation) {
        moved.pinned = true; // ahead of the turns, after the next song and the songs moved before
    }
    m_queue.move(index, place);
    if (place > 0 && m_turns.order() == QueueOrder::Fifo) {
        // First come, first served keeps the queue as it stands: the songs moved forward are the
        // ones it puts first, so a song is one of them only when every song before it is.
        m_queue[place].pinned =
            std::all_of(m_queue.cbegin() + 1, m_queue.cbegin() + place, [](const Reservation& r) { return r.pinned; });
    }
    // The first song that can be sung is the next one: the moved song at the front, or the one
    // that was behind the next song moved back.
    const auto next = std::find_if(m_queue.cbegin(), m_queue.cend(), [](const Reservation& r) { return !r.held; });
    if (next != m_queue.cend())
        m_lockedNext = next->id;
    clearSelection();
    changeQueue();
    const qsizetype shown =
        std::find_if(m_queue.cbegin(), m_queue.cend(), [id](const Reservation& r) { return r.id == id; }) -
        m_queue.cbegin();
    showStatus(StatusColour::Cyan, QStringLiteral("予割(") + QString::number(shown + 1) + u'/' +
                                       QString::number(m_queue.size()) + QStringLiteral(")：") +
                                       entryText(m_queue[shown]));
    if (publish)
        publishFull();
    emit hideCountRestarted();
}

// --- Published queue file ---------------------------------------------------------------------

void Stage::publishFull()
{
    publish(fullQueueFile(m_nowPlaying, m_queue));
}

void Stage::publishEmpty()
{
    publish(QByteArray());
}

void Stage::publishWaiting()
{
    if (m_queue.isEmpty())
        publishEmpty();
    else
        publishFull(); // held songs are still in the queue
}

void Stage::publish(const QByteArray& content)
{
    const QString error = writeQueueFile(m_webRoot, content);
    if (!error.isEmpty() && error != m_publishError) {
        // Said once: the guests' pages show an old queue until a write succeeds again.
        qCWarning(lcStage).noquote() << error;
        sayProblem(QStringLiteral("ゲスト用の予約一覧を書けませんでした：") + error);
    }
    m_publishError = error;
}

} // namespace tarv
