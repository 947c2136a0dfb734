#include "stage/queuerecord.h"

#include "common/numbers.h"
#include "common/savefile.h"
#include "common/songnumber.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "stage/command.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <utility>

namespace tarv {

Q_LOGGING_CATEGORY(lcRecord, "tarv.queuerecord")

namespace {

// MaxEntries lines of the longest kind fit with room to spare.
constexpr qint64 MaxRecordBytes = 4 * 1024 * 1024;

// A device cookie (32 hex digits) or "address:" and the address of a phone without one.
constexpr qsizetype MaxDeviceLength = 96;
constexpr qsizetype MaxIdDigits = 15;

constexpr QStringView PlayingMark = u"playing";
constexpr QStringView HeldMark = u"held";
constexpr QStringView PinnedMark = u"pinned";

// A synced write at most this often; the timers that call syncIfDue() tick every 100 to 200 ms, so
// no change waits more than about a second for the disk.
constexpr qint64 SyncEveryMs = 900;

// A song number as recordLine() writes it: plain decimal.
SongNumber recordedNumber(QStringView text)
{
    const SongNumber number = SongNumber::fromText(text);
    return number.isSongNumber() && number.text() == text ? number : SongNumber();
}

bool isStoredUser(QStringView text)
{
    return !text.isEmpty() && storedUserName(text) == text; // a stored name holds no tab or line end
}

bool isDevice(QStringView text)
{
    return text.size() <= MaxDeviceLength && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u':' ||
                      c == u'.' || c == u'%' || c == u'_' || c == u'-';
           });
}

// A whole number written as QString::number() writes it, within -limit..limit.
std::optional<int> step(QStringView text, int limit)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < -limit || value > limit || QString::number(value) != text)
        return std::nullopt;
    return value;
}

std::optional<quint64> recordedId(QStringView text)
{
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    if (!ok || text.size() > MaxIdDigits || QString::number(value) != text)
        return std::nullopt;
    return value;
}

std::optional<RecordedReservation> parseLine(QByteArrayView line)
{
    if (!line.isValidUtf8())
        return std::nullopt;
    const QString text = QString::fromUtf8(line);
    const QList<QStringView> fields = QStringView(text).split(u'\t');
    const qsizetype count = fields.size();
    if (count != 1 && count != 2 && (count < 6 || count > 9))
        return std::nullopt;
    RecordedReservation out{recordedNumber(fields[0]), GuestUser.toString()};
    if (!out.number.isValid())
        return std::nullopt;
    if (count == 1)
        return out;
    if (!isStoredUser(fields[1]))
        return std::nullopt;
    out.user = fields[1].toString();
    if (count == 2)
        return out;
    if (!fields[2].isEmpty() || !fields[3].isEmpty()) {
        const auto key = step(fields[2], KeyTempo::MaxKey);
        const auto tempo = step(fields[3], KeyTempo::MaxTempo);
        if (!key || !tempo)
            return std::nullopt;
        out.keyTempo = KeyTempo{*key, *tempo};
    }
    const auto id = recordedId(fields[5]);
    if (!isDevice(fields[4]) || !id)
        return std::nullopt;
    out.device = fields[4].toString();
    out.id = *id;
    // The marks, each at most once and in the order they are written.
    qsizetype field = 6;
    const auto mark = [&](QStringView name) {
        const bool found = field < count && fields[field] == name;
        field += found ? 1 : 0;
        return found;
    };
    out.playing = mark(PlayingMark);
    out.held = mark(HeldMark);
    out.pinned = mark(PinnedMark);
    if (field != count)
        return std::nullopt;
    return out;
}

} // namespace

RecordContent parseRecord(QByteArrayView content)
{
    RecordContent out;
    forEachLine(content, [&out](QByteArrayView line) {
        if (line.trimmed().isEmpty())
            return;
        if (out.entries.size() >= RecordContent::MaxEntries) {
            ++out.beyondLimit;
            return;
        }
        if (auto entry = parseLine(line))
            out.entries.append(std::move(*entry));
        else
            ++out.unreadable;
    });
    std::stable_partition(out.entries.begin(), out.entries.end(), [](const auto& r) { return r.playing; });
    return out;
}

QByteArray recordLine(const RecordedReservation& r)
{
    // Written so that it reads back: a field that could not be read is left out.
    const QString user = storedUserName(r.user);
    QByteArray out = r.number.text().toUtf8() + '\t' + (user.isEmpty() ? GuestUser.toString() : user).toUtf8() + '\t';
    if (r.keyTempo) {
        const KeyTempo keyTempo = r.keyTempo->clamped();
        out += QByteArray::number(keyTempo.key) + '\t' + QByteArray::number(keyTempo.tempo) + '\t';
    } else {
        out += '\t';
        out += '\t';
    }
    out += (isDevice(r.device) ? r.device.toLatin1() : QByteArray()) + '\t';
    out += QByteArray::number(QString::number(r.id).size() > MaxIdDigits ? 0 : r.id);
    for (const auto& [set, name] : {std::pair{r.playing, PlayingMark}, {r.held, HeldMark}, {r.pinned, PinnedMark}}) {
        if (set)
            out += '\t' + name.toLatin1();
    }
    return out + '\n';
}

RecordedReservation requestedReservation(SongNumber number, const QString& user)
{
    const QString stored = storedUserName(user);
    return {number, stored.isEmpty() ? GuestUser.toString() : stored};
}

QueueRecord::QueueRecord(QString path, const Clock& clock) : m_path(std::move(path)), m_clock(clock) {}

qsizetype QueueRecord::load()
{
    std::lock_guard lock(m_mutex);
    m_offered.clear();
    m_loadProblem.clear();
    m_playing.reset();
    m_queue.clear();
    m_accepted.clear();
    m_cancelled.clear();
    if (!QFileInfo::exists(m_path))
        return 0;
    QString error;
    const auto bytes = readFileBytes(m_path, MaxRecordBytes, &error); // a refusal is logged there
    if (!bytes) {
        m_loadProblem = QStringLiteral("前回の予約の記録を読めないので、予約は復元できません。\n") + error;
        return 0;
    }
    RecordContent content = parseRecord(*bytes);
    m_offered = std::move(content.entries);
    QStringList left;
    if (content.unreadable > 0)
        left << QStringLiteral("読めない %1 行").arg(content.unreadable);
    if (content.beyondLimit > 0)
        left << QStringLiteral("%1 件を超える %2 行").arg(RecordContent::MaxEntries).arg(content.beyondLimit);
    if (!left.isEmpty()) {
        m_loadProblem =
            QStringLiteral("前回の予約の記録 %1 の、%2 は復元しません。").arg(m_path, left.join(QStringLiteral("と")));
        qCWarning(lcRecord).noquote() << m_loadProblem;
    }
    return m_offered.size();
}

QList<RecordedReservation> QueueRecord::offered() const
{
    std::lock_guard lock(m_mutex);
    return m_offered;
}

QString QueueRecord::loadProblem() const
{
    std::lock_guard lock(m_mutex);
    return m_loadProblem;
}

void QueueRecord::keepOffered()
{
    std::lock_guard lock(m_mutex);
    // The song that was playing is now only the first to play.
    for (RecordedReservation& r : m_offered)
        r.playing = false;
    m_offered.append(m_queue);
    m_queue = std::exchange(m_offered, {});
}

void QueueRecord::discardOffered()
{
    std::lock_guard lock(m_mutex);
    m_offered.clear();
    writeLocked(true);
}

QList<RecordedReservation> QueueRecord::queue() const
{
    std::lock_guard lock(m_mutex);
    return m_queue;
}

QString QueueRecord::accept(const RecordedReservation& reservation)
{
    std::lock_guard lock(m_mutex);
    if (m_offered.size() + m_queue.size() + m_accepted.size() >= RecordContent::MaxEntries)
        return QStringLiteral("予約が %1 件を超えました").arg(RecordContent::MaxEntries);
    m_accepted.append(reservation);
    const QString error = writeLocked();
    if (!error.isEmpty())
        m_accepted.removeLast();
    return error;
}

bool QueueRecord::cancel(quint64 id, QString* error)
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_queue.cbegin(), m_queue.cend(), [id](const auto& r) { return r.id == id; });
    if (id == 0 || found == m_queue.cend())
        return false;
    const qsizetype index = found - m_queue.cbegin();
    const RecordedReservation cancelled = m_queue.takeAt(index);
    m_cancelled.insert(id);
    const QString failure = writeLocked(true);
    if (failure.isEmpty())
        return true;
    m_queue.insert(index, cancelled);
    m_cancelled.remove(id);
    if (error)
        *error = failure;
    return false;
}

void QueueRecord::setQueue(const QList<RecordedReservation>& queue, const std::optional<RecordedReservation>& playing,
                           bool handOver)
{
    std::lock_guard lock(m_mutex);
    handOver = handOver && !m_accepted.isEmpty();
    // A guest's cancel the stage has not carried out yet stays cancelled; once the stage's queue is
    // without it, it is forgotten.
    QList<RecordedReservation> waiting;
    waiting.reserve(queue.size());
    QSet<quint64> stillCancelled;
    for (const RecordedReservation& r : queue) {
        if (r.id != 0 && m_cancelled.contains(r.id))
            stillCancelled.insert(r.id);
        else
            waiting.append(r);
    }
    m_cancelled = std::move(stillCancelled);
    std::optional<RecordedReservation> nowPlaying = playing;
    if (nowPlaying)
        nowPlaying->playing = true;
    if (!handOver && waiting == m_queue && nowPlaying == m_playing)
        return;
    m_queue = std::move(waiting);
    m_playing = std::move(nowPlaying);
    if (handOver)
        m_accepted.removeFirst();
    // A failed write is logged; the next change writes the whole record again.
    writeLocked();
}

void QueueRecord::clear()
{
    std::lock_guard lock(m_mutex);
    const QFileInfo file(m_path);
    // What is still offered is in the file already, as every write puts it there.
    const bool written = !m_offered.isEmpty() || !file.exists() || (file.isFile() && file.size() == 0);
    if (m_queue.isEmpty() && m_accepted.isEmpty() && !m_playing && written)
        return;
    m_playing.reset();
    m_queue.clear();
    m_accepted.clear();
    m_cancelled.clear();
    writeLocked(true);
}

void QueueRecord::syncIfDue()
{
    std::lock_guard lock(m_mutex);
    if (m_unsynced && syncDueLocked(m_clock.elapsedMs()))
        writeLocked(true);
}

bool QueueRecord::hasUnsyncedChange() const
{
    std::lock_guard lock(m_mutex);
    return m_unsynced;
}

bool QueueRecord::syncDueLocked(qint64 now) const
{
    return !m_lastSync || now - *m_lastSync >= SyncEveryMs;
}

QString QueueRecord::writeLocked(bool forceSync)
{
    const qint64 now = m_clock.elapsedMs();
    const bool sync = forceSync || syncDueLocked(now);
    QByteArray content;
    for (const RecordedReservation& r : m_offered)
        content += recordLine(r);
    if (m_playing)
        content += recordLine(*m_playing);
    for (const auto* list : {&m_queue, &m_accepted}) {
        for (const RecordedReservation& r : *list)
            content += recordLine(r);
    }
    const QString error = saveFile(m_path, content, sync ? Durability::Synced : Durability::AtomicOnly);
    if (!error.isEmpty()) {
        if (error != m_error)
            qCWarning(lcRecord).noquote() << "queue record not written:" << error;
        m_error = error;
        m_unsynced = true; // syncIfDue() tries again
        return error;
    }
    m_error.clear();
    m_unsynced = !sync;
    if (sync)
        m_lastSync = now;
    return {};
}

} // namespace tarv
