#include "stage/queuefile.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"

namespace tarv {
namespace {

QByteArray titleBytes(const QString& title, const QByteArray& raw)
{
    return raw.isEmpty() ? encodeCp932(title) : raw;
}

QByteArray recordLine(const QByteArray& number, const QByteArray& title, const QString& user)
{
    return exchangeRecord({number, title, encodeCp932(storedUserName(user))});
}

} // namespace

QByteArray fullQueueFile(const NowPlaying& now, const QList<Reservation>& queue)
{
    QByteArray out;
    if (const QString number = now.numberText(); number.size() == 6) {
        out += recordLine(number.toLatin1(), titleBytes(now.title, now.rawTitle), now.user);
    } else {
        const QString text = now.text();
        out += recordLine(encodeCp932(text.left(6)), encodeCp932(text.mid(9)), now.user);
    }
    for (const Reservation& entry : queue)
        out += recordLine(entry.number.text().toLatin1(), titleBytes(entry.title, entry.rawTitle), entry.user);
    return out;
}

QString writeQueueFile(const std::optional<QString>& webRoot, const QByteArray& content)
{
    const auto file = existingExchangeFile(webRoot, ExchangeFile::Queue);
    if (!file)
        return {};
    // Rewritten at every reservation on the interface thread and emptied at every start of karaoke
    // mode: replaced atomically, but without waiting for the disk (about 10 ms a time).
    return writeExchangeFile(*file, content, Durability::AtomicOnly);
}

} // namespace tarv
