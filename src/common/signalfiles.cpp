#include "common/signalfiles.h"

#include "common/cp932.h"
#include "common/display.h"
#include "common/droprules.h"
#include "common/linepairs.h"
#include "common/operatorlog.h"
#include "common/textfile.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace tarv {
namespace {

// Far above the 999,998 entries a time-signal list can have.
constexpr qint64 MaxSignalFileBytes = 64 * 1024 * 1024;

bool allDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The pairs of a file, with a last line alone taken as a record whose second line is empty.
template <typename T> SignalFileLoad<T> loadPairs(const QString& path, T (*make)(const LinePair&))
{
    SignalFileLoad<T> result;
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo::exists(path)) {
        result.problem = QStringLiteral("%1 がないので空として読みました").arg(name);
        return result;
    }
    QString error;
    const auto bytes = readFileBytes(path, MaxSignalFileBytes, &error);
    if (!bytes) {
        result.readable = false;
        result.problem = QStringLiteral("%1 を読み込めません: %2").arg(name, error);
        return result;
    }
    const QList<QByteArray> lines = splitLines(*bytes);
    for (qsizetype i = 0; i < lines.size(); i += 2)
        result.items.append(make(LinePair{lines[i], i + 1 < lines.size() ? lines[i + 1] : QByteArray(), int(i + 1)}));
    if (lines.size() % 2 != 0)
        result.problem = QStringLiteral("%1 の最後の行に対になる行がないので、空の行として読みました").arg(name);
    return result;
}

SignalEntry entryFromPair(const LinePair& pair)
{
    const QString number = decodeCp932(pair.first);
    bool ok = false;
    const qint64 value = allDigits(number.trimmed()) ? number.trimmed().toLongLong(&ok) : -1;
    if (ok && value <= 999999)
        return SignalEntry{sixDigits(value), pair.second, {}};
    return SignalEntry{number, pair.second, pair.first};
}

TimeItem timeFromPair(const LinePair& pair)
{
    return TimeItem{pair.first, pair.second};
}

} // namespace

QString SignalEntry::title() const
{
    return decodeCp932(rawTitle);
}

bool SignalEntry::namesVideo() const
{
    return allDigits(number);
}

QString SignalEntry::displayText() const
{
    return displayForm(number, title());
}

SignalEntry SignalEntry::make(qint64 number, const QString& title)
{
    return SignalEntry{sixDigits(number), encodeCp932(listableTitle(title)), {}};
}

QString TimeItem::time() const
{
    return decodeCp932(rawTime);
}

QString TimeItem::field() const
{
    return decodeCp932(rawField);
}

QString TimeItem::playedField() const
{
    const QString text = field();
    return text.isEmpty() ? NoFile : text;
}

QString TimeItem::displayText() const
{
    return displayForm(time(), field());
}

TimeItem TimeItem::make(const QString& time, const QString& field)
{
    return TimeItem{encodeCp932(time), encodeCp932(field)};
}

SignalFileLoad<SignalEntry> loadSignalEntries(const QString& path)
{
    return loadPairs(path, &entryFromPair);
}

SignalFileLoad<TimeItem> loadTimeItems(const QString& path)
{
    return loadPairs(path, &timeFromPair);
}

QByteArray serializeSignalEntries(const QList<SignalEntry>& entries)
{
    QList<LinePair> pairs;
    pairs.reserve(entries.size());
    for (const SignalEntry& entry : entries)
        pairs.append(LinePair{entry.rawNumber.isEmpty() ? encodeCp932(entry.number) : entry.rawNumber, entry.rawTitle});
    return writeLinePairs(pairs);
}

QByteArray serializeTimeItems(const QList<TimeItem>& items)
{
    QList<LinePair> pairs;
    pairs.reserve(items.size());
    for (const TimeItem& item : items)
        pairs.append(LinePair{item.rawTime, item.rawField});
    return writeLinePairs(pairs);
}

QList<SignalEntry> orderSignalEntries(QList<SignalEntry> entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SignalEntry& a, const SignalEntry& b) { return a.value() < b.value(); });
    return entries;
}

QString sixDigits(qint64 number)
{
    return QString::number(number).rightJustified(6, u'0');
}

std::optional<qint64> parseSignalNumber(const QString& typed)
{
    const QString digits = typed.trimmed();
    if (!allDigits(digits) || digits.size() > 6)
        return std::nullopt;
    const qint64 value = digits.toLongLong();
    if (value < 1 || value > LastSignalNumber)
        return std::nullopt;
    return value;
}

std::optional<QString> normalisedTime(const QString& typed)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch match = form.match(typed.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
}

bool usableField(const QString& field)
{
    if (field == NoFile)
        return true;
    // A bare name: nothing that reaches another folder, a drive or an address.
    return !field.isEmpty() && field != u"." && field != u".." && !field.contains(u'/') && !field.contains(u'\\') &&
           !field.contains(u':') && field.trimmed() == field;
}

qint64 signalVideoBytes(const AppPaths& paths, const QList<SignalEntry>& entries, QStringList* missing)
{
    qint64 bytes = 0;
    for (const SignalEntry& entry : entries) {
        if (!entry.namesVideo())
            continue;
        const QFileInfo video(paths.video(entry.number));
        if (video.isFile())
            bytes += video.size();
        else if (missing)
            *missing << entry.number;
    }
    return bytes;
}

QString signalSummary(qint64 count, qint64 bytes)
{
    return QStringLiteral("--- All files:%1Count (%2MB) ---\r\n").arg(count).arg(megabytesText(bytes)) + DropHereLine;
}

} // namespace tarv
