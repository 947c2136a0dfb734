// The stage's reservation queue: reserving, the review and cancel of waiting songs, playing the next
// one, and publishing the queue (the queue file, the queue record).
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
    recordQueue();
    emit queueChanged();
}

namespace {

RecordedReservation recorded(const Reservation& entry)
{
    return {entry.number, entry.user, entry.keyTempo, entry.device, entry.id};
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
        m_queue.append({number, song->title(), song->rawTitle, r.user, id, r.device, keyTempo.clamped()});
    }
    m_lastId = lastId;
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
    if (m_queue.isEmpty())
        return;
    setColour(StatusColour::White);
    const Reservation entry = m_queue.takeFirst();
    m_playing = entry; // the record has it as playing in the same write that takes it from the queue
    clearSelection();
    changeQueue();
    m_last = Cmd::Playing{};
    if (!startPlayback(entry)) {
        // The song is gone from the queue and the file says so; the next one follows.
        m_playing.reset();
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
    m_queue.move(index, place);
    clearSelection();
    changeQueue();
    showStatus(StatusColour::Cyan, QStringLiteral("予割(") + QString::number(place + 1) + u'/' +
                                       QString::number(m_queue.size()) + QStringLiteral(")：") +
                                       entryText(m_queue[place]));
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
