#include "stage/queuefile.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/webroot.h"

#include <QFileInfo>

namespace tarv {
namespace {

QByteArray titleBytes(const QString& title, const QByteArray& raw)
{
    return raw.isEmpty() ? encodeCp932(title) : raw;
}

QByteArray recordLine(const QByteArray& number, const QByteArray& title, const QString& user)
{
    return number + '$' + title + '$' + encodeCp932(user) + "$ENT\r\n";
}

} // namespace

QByteArray fullQueueFile(const NowPlaying& now, const QList<QueueEntry>& queue)
{
    QByteArray out;
    if (now.number.size() == 6) {
        out += recordLine(encodeCp932(now.number), titleBytes(now.title, now.rawTitle), now.user);
    } else {
        const QString text = now.text();
        out += recordLine(encodeCp932(text.left(6)), encodeCp932(text.mid(9)), now.user);
    }
    for (const QueueEntry& entry : queue)
        out += recordLine(encodeCp932(entry.number), titleBytes(entry.title, entry.rawTitle), entry.user);
    return out;
}

QString writeQueueFile(const std::optional<QString>& webRoot, const QByteArray& content)
{
    if (!webRoot)
        return {};
    const QString file = exchangeFile(*webRoot, queueFileName());
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return {};
    return saveFile(file, content);
}

} // namespace tarv
