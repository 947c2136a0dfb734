#include "stage/turnsettings.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QByteArrayView>

namespace tarv {
namespace {

// Either file holds one short line; a longer one is not ours.
constexpr qint64 MaxSettingBytes = 4 * 1024;

constexpr qint64 ClosedForMs = 6 * 3600 * 1000;

// The first line of a settings file as a person may have saved it: a UTF-8 byte order mark and
// blanks around it are ignored.
QByteArray firstLine(const QByteArray& content)
{
    const QList<QByteArray> lines = splitLines(content);
    if (lines.isEmpty())
        return {};
    QByteArrayView line = lines.constFirst();
    if (line.startsWith("\xEF\xBB\xBF"))
        line = line.sliced(3);
    return line.trimmed().toByteArray();
}

std::optional<int> twoDigits(QByteArrayView text, int limit)
{
    if (text.isEmpty() || text.size() > 2)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value >= limit)
        return std::nullopt;
    return value;
}

} // namespace

QueueOrder readQueueOrder(const AppPaths& paths)
{
    const std::optional<QByteArray> content = readFileBytes(paths.queueOrderFile(), MaxSettingBytes);
    return content ? queueOrderFromContent(*content) : QueueOrder::Fifo;
}

QueueOrder queueOrderFromContent(const QByteArray& content)
{
    return firstLine(content) == "rotation" ? QueueOrder::Rotation : QueueOrder::Fifo;
}

QString saveQueueOrder(const AppPaths& paths, QueueOrder order)
{
    return saveFile(paths.queueOrderFile(),
                    order == QueueOrder::Rotation ? QByteArray("rotation\r\n") : QByteArray("fifo\r\n"));
}

std::optional<QTime> readClosingTime(const AppPaths& paths)
{
    const std::optional<QByteArray> content = readFileBytes(paths.closingTimeFile(), MaxSettingBytes);
    return content ? closingTimeFromContent(*content) : std::nullopt;
}

std::optional<QTime> closingTimeFromContent(const QByteArray& content)
{
    const QByteArray line = firstLine(content);
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    const std::optional<int> hours = twoDigits(QByteArrayView(line).first(colon), 24);
    const QByteArrayView minuteText = QByteArrayView(line).sliced(colon + 1);
    const std::optional<int> minutes = minuteText.size() == 2 ? twoDigits(minuteText, 60) : std::nullopt;
    if (!hours || !minutes)
        return std::nullopt;
    return QTime(*hours, *minutes);
}

QString saveClosingTime(const AppPaths& paths, std::optional<QTime> closing)
{
    const QByteArray line = closing ? closing->toString(QStringLiteral("HH:mm")).toLatin1() : QByteArray("none");
    return saveFile(paths.closingTimeFile(), line + "\r\n");
}

QString closingNoticeText(int minutes)
{
    return QStringLiteral("閉店まであと %1 分").arg(minutes);
}

QDateTime closingMoment(const QDateTime& now, QTime closing)
{
    QDateTime moment = now;
    moment.setTime(QTime(closing.hour(), closing.minute()));
    const qint64 ahead = now.msecsTo(moment);
    if (ahead <= -ClosedForMs)
        return moment.addDays(1);
    if (ahead > 24 * 3600 * 1000 - ClosedForMs)
        return moment.addDays(-1);
    return moment;
}

std::optional<int> minutesToClosing(const QDateTime& now, std::optional<QTime> closing)
{
    if (!closing)
        return std::nullopt;
    const qint64 left = now.msecsTo(closingMoment(now, *closing));
    if (left <= 0 || left > qint64(ClosingNoticeMinutes) * 60 * 1000)
        return std::nullopt;
    return int((left + 59999) / 60000);
}

bool endsAfterClosing(const QDateTime& now, std::optional<QTime> closing, const std::optional<QDateTime>& songEnd)
{
    if (!closing)
        return false;
    const QDateTime moment = closingMoment(now, *closing);
    if (now >= moment)
        return true;
    return songEnd && *songEnd > moment;
}

} // namespace tarv
