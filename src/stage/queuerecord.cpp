#include "stage/queuerecord.h"

#include "common/numbers.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "stage/command.h"

#include <QFileInfo>
#include <QLoggingCategory>

namespace tarv {

Q_LOGGING_CATEGORY(lcRecord, "tarv.queuerecord")

namespace {

// A room's queue is a few hundred songs at most; this holds tens of thousands.
constexpr qint64 MaxRecordBytes = 4 * 1024 * 1024;

// A synced write at most this often; the timers that call syncIfDue() tick every 100 to 200 ms, so
// no change waits more than about a second for the disk.
constexpr auto SyncEvery = std::chrono::milliseconds(900);

// UTF-8, one reservation a line: the number, a tab, the user (a stored user name has no control
// characters, so no tab and no line end).
QByteArray recordContent(const QList<RecordedReservation>& queue, const QList<RecordedReservation>& accepted)
{
    QByteArray out;
    for (const auto* list : {&queue, &accepted}) {
        for (const RecordedReservation& r : *list)
            out += r.number.toUtf8() + '\t' + r.user.toUtf8() + '\n';
    }
    return out;
}

} // namespace

RecordedReservation requestedReservation(const QString& code, const QString& user)
{
    const QString stored = storedUserName(user);
    return {decimalText(leadingNumber(code)), stored.isEmpty() ? GuestUser.toString() : stored};
}

QueueRecord::QueueRecord(QString path) : m_path(std::move(path)) {}

qsizetype QueueRecord::load()
{
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_accepted.clear();
    if (!QFileInfo::exists(m_path))
        return 0;
    QString error;
    const auto bytes = readFileBytes(m_path, MaxRecordBytes, &error);
    if (!bytes) {
        qCWarning(lcRecord).noquote() << "queue record not read:" << error;
        return 0;
    }
    forEachLine(*bytes, [this](QByteArrayView line) {
        const QString text = QString::fromUtf8(line);
        if (text.trimmed().isEmpty())
            return;
        const qsizetype tab = text.indexOf(u'\t');
        m_queue.append(tab < 0 ? RecordedReservation{text, GuestUser.toString()}
                               : RecordedReservation{text.left(tab), text.mid(tab + 1)});
    });
    return m_queue.size();
}

QList<RecordedReservation> QueueRecord::queue() const
{
    std::lock_guard lock(m_mutex);
    return m_queue;
}

QString QueueRecord::accept(const RecordedReservation& reservation)
{
    std::lock_guard lock(m_mutex);
    m_accepted.append(reservation);
    const QString error = writeLocked();
    if (!error.isEmpty())
        m_accepted.removeLast();
    return error;
}

void QueueRecord::setQueue(const QList<RecordedReservation>& queue, bool handOver)
{
    std::lock_guard lock(m_mutex);
    handOver = handOver && !m_accepted.isEmpty();
    if (!handOver && queue == m_queue)
        return;
    m_queue = queue;
    if (handOver)
        m_accepted.removeFirst();
    // A failed write is logged; the next change writes the whole record again.
    writeLocked();
}

void QueueRecord::clear()
{
    std::lock_guard lock(m_mutex);
    if (m_queue.isEmpty() && m_accepted.isEmpty() && QFileInfo(m_path).size() == 0)
        return;
    m_queue.clear();
    m_accepted.clear();
    writeLocked(true);
}

void QueueRecord::syncIfDue()
{
    std::lock_guard lock(m_mutex);
    if (m_unsynced && SteadyClock::now() - m_lastSync >= SyncEvery)
        writeLocked(true);
}

QString QueueRecord::writeLocked(bool forceSync)
{
    const auto now = SteadyClock::now();
    const bool sync = forceSync || now - m_lastSync >= SyncEvery;
    const QString error =
        saveFile(m_path, recordContent(m_queue, m_accepted), sync ? Durability::Synced : Durability::AtomicOnly);
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
