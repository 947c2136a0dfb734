#include "history/playlog.h"

#include "common/savefile.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "stage/command.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <zlib.h>

namespace tarv {

Q_LOGGING_CATEGORY(lcHistory, "tarv.history")

namespace {

constexpr QByteArrayView StartKind = "start";
constexpr QByteArrayView EndKind = "end";
constexpr qsizetype TimeLength = 25;      // 2026-03-14T21:05:09+09:00
constexpr qsizetype ChecksumLength = 9;   // a tab and 8 hex digits
constexpr qsizetype MaxDeviceLength = 96; // a device cookie, or "address:" and an address
constexpr int MaxIdDigits = 18;
constexpr int MaxSecondsDigits = 9;

quint32 checksum(QByteArrayView bytes)
{
    return quint32(::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// A device as the log stores it: no control characters (so no tab or line end), at most
// MaxDeviceLength characters; empty when it is none or has nothing left.
QString storedDevice(QStringView device)
{
    QString out;
    for (QChar c : device.left(MaxDeviceLength)) {
        if (c.category() != QChar::Other_Control && c != QChar::LineSeparator && c != QChar::ParagraphSeparator)
            out += c;
    }
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

QByteArray timeText(const QDateTime& time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.year(), date.month(), date.day(),
                  clock.hour(), clock.minute(), clock.second(), offset < 0 ? '-' : '+', std::abs(offset) / 3600,
                  std::abs(offset) % 3600 / 60);
    return QByteArray(text);
}

QByteArray closedLine(QByteArray body)
{
    char crc[16];
    std::snprintf(crc, sizeof crc, "\t%08x\n", unsigned(checksum(body)));
    return body + crc;
}

// Digits only, at most maxDigits of them; nullopt for anything else.
std::optional<quint64> digits(QByteArrayView text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    quint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint64(c - '0');
    }
    return value;
}

std::optional<quint32> hexDigits(QByteArrayView text)
{
    quint32 value = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            value = value << 4 | quint32(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = value << 4 | quint32(c - 'a' + 10);
        else
            return std::nullopt;
    }
    return value;
}

std::optional<int> signedStep(QByteArrayView text)
{
    const bool negative = text.startsWith('-');
    const auto value = digits(negative ? text.sliced(1) : text, 3);
    if (!value)
        return std::nullopt;
    return negative ? -int(*value) : int(*value);
}

struct LineTime
{
    qint64 secs = 0;
    int month = 0;
};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (the civil-from-days inverse
// of H. Hinnant's date algorithms): a million lines are read without a QDate each.
qint64 daysSinceEpoch(int year, int month, int day)
{
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return qint64(era) * 146097 + dayOfEra - 719468;
}

// "2026-03-14T21:05:09+09:00", exactly.
std::optional<LineTime> parseTime(QByteArrayView t)
{
    if (t.size() != TimeLength || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
        (t[19] != '+' && t[19] != '-') || t[22] != ':')
        return std::nullopt;
    const auto year = digits(t.sliced(0, 4), 4), month = digits(t.sliced(5, 2), 2), day = digits(t.sliced(8, 2), 2);
    const auto hour = digits(t.sliced(11, 2), 2), minute = digits(t.sliced(14, 2), 2);
    const auto second = digits(t.sliced(17, 2), 2);
    const auto offsetHours = digits(t.sliced(20, 2), 2), offsetMinutes = digits(t.sliced(23, 2), 2);
    if (!year || !month || !day || !hour || !minute || !second || !offsetHours || !offsetMinutes || *hour > 23 ||
        *minute > 59 || *second > 60 || *offsetHours > 18 || *offsetMinutes > 59)
        return std::nullopt;
    if (!QDate::isValid(int(*year), int(*month), int(*day)))
        return std::nullopt;
    const qint64 offset = qint64(*offsetHours * 3600 + *offsetMinutes * 60) * (t[19] == '-' ? -1 : 1);
    const qint64 local =
        daysSinceEpoch(int(*year), int(*month), int(*day)) * 86400 + qint64(*hour * 3600 + *minute * 60 + *second);
    return LineTime{local - offset, int(*year) * 12 + int(*month) - 1};
}

struct TransparentHash
{
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Reads lines of the log. Names come back as shared texts: a log names the same few users and
// phones thousands of times, and each is checked and decoded once.
class LineReader
{
public:
    explicit LineReader(PlayEvents& events, PlayLogReport& report) : m_events(events), m_report(report) {}

    void read(QByteArrayView content)
    {
        forEachLine(content, [this](QByteArrayView line) {
            if (line.trimmed().isEmpty())
                return;
            if (readLine(line))
                ++m_report.lines;
            else
                ++m_report.unreadable;
        });
    }

    quint64 highestId() const { return m_highestId; }

private:
    using Names = std::unordered_map<std::string, QString, TransparentHash, std::equal_to<>>;
    static constexpr size_t MaxKnownNames = 1 << 16;

    bool readLine(QByteArrayView line)
    {
        if (line.size() < TimeLength + ChecksumLength || line[line.size() - ChecksumLength] != '\t')
            return false;
        const QByteArrayView body = line.first(line.size() - ChecksumLength);
        const auto crc = hexDigits(line.last(ChecksumLength - 1));
        if (!crc || *crc != checksum(body))
            return false;
        QByteArrayView fields[9];
        qsizetype count = 0;
        for (qsizetype from = 0; count < 9;) {
            const qsizetype tab = body.indexOf('\t', from);
            fields[count++] = body.sliced(from, (tab < 0 ? body.size() : tab) - from);
            if (tab < 0)
                break;
            from = tab + 1;
        }
        if (count < 4)
            return false;
        const auto id = digits(fields[2], MaxIdDigits);
        if (!id || *id == 0)
            return false;
        if (fields[1] == EndKind) {
            const auto seconds = digits(fields[3], MaxSecondsDigits);
            if ((count != 4 && count != 6) || !seconds || !parseTime(fields[0]))
                return false;
            std::optional<KeyTempo> endedAt;
            if (count == 6) {
                const auto key = signedStep(fields[4]), tempo = signedStep(fields[5]);
                if (!key || !tempo)
                    return false;
                endedAt = KeyTempo{*key, *tempo}.clamped();
            }
            m_events.ended(*id, int(*seconds), endedAt);
            return true;
        }
        if (fields[1] != StartKind || count != 8)
            return false;
        const auto time = parseTime(fields[0]);
        const auto number = digits(fields[3], 6);
        const auto key = signedStep(fields[6]), tempo = signedStep(fields[7]);
        if (!time || !number || !SongNumber(qint64(*number)).isSongNumber() || !key || !tempo)
            return false;
        const QString* user = name(m_users, fields[4], false);
        const QString* device = name(m_devices, fields[5], true);
        if (!user || !device)
            return false;
        m_highestId = std::max(m_highestId, *id);
        m_play.id = *id;
        m_play.startedAt = time->secs;
        m_play.month = time->month;
        m_play.number = qint64(*number);
        m_play.user = *user;
        m_play.device = *device;
        m_play.keyTempo = KeyTempo{*key, *tempo}.clamped();
        m_events.started(m_play);
        return true;
    }

    // The name of a field, if it is one the log could have written.
    const QString* name(Names& known, QByteArrayView bytes, bool isDevice)
    {
        const std::string_view key(bytes.data(), size_t(bytes.size()));
        if (const auto found = known.find(key); found != known.end())
            return &found->second;
        if (!bytes.isValidUtf8())
            return nullptr;
        QString text = QString::fromUtf8(bytes);
        if (isDevice ? storedDevice(text) != text : (text.isEmpty() || storedUserName(text) != text))
            return nullptr;
        if (known.size() >= MaxKnownNames)
            known.clear(); // a log of countless names is read all the same, only slower
        return &known.emplace(std::string(key), std::move(text)).first->second;
    }

    PlayEvents& m_events;
    PlayLogReport& m_report;
    Names m_users;
    Names m_devices;
    PlayRecord m_play;
    quint64 m_highestId = 0;
};

const QRegularExpression& keptFileName()
{
    static const QRegularExpression pattern(QStringLiteral("^playlog-(\\d{8}-\\d{6})(?:-(\\d{1,6}))?\\.txt$"));
    return pattern;
}

} // namespace

struct PlayLog::Private
{
    Private(const AppPaths& paths, const Clock& clock, qint64 rotationBytes)
        : paths(paths), clock(clock), rotationBytes(rotationBytes)
    {
    }
    ~Private() { close(); }

    bool open();
    void close();
    bool rotate();
    bool append(const QByteArray& line);
    bool syncNow();
    void fail(const QString& reason);

    const AppPaths paths;
    const Clock& clock;
    const qint64 rotationBytes;
    int fd = -1;
    qint64 size = 0;
    bool atLineStart = true; // the file ends with a line end (or is empty)
    bool unsynced = false;
    bool cannotRotate = false;
    std::optional<qint64> lastSync;
    quint64 lastId = 0;
    QString error;
};

void PlayLog::Private::fail(const QString& reason)
{
    if (reason != error)
        qCWarning(lcHistory).noquote() << "play log:" << reason;
    error = reason;
}

bool PlayLog::Private::open()
{
    const QString path = currentFile(paths);
    QDir().mkpath(paths.dbDir());
    QString reason;
    fd = openForAppending(path, &size, &atLineStart, &reason);
    if (fd < 0) {
        fail(QStringLiteral("%1: %2").arg(path, reason));
        return false;
    }
    if (size == 0)
        syncFolder(paths.dbDir());
    return true;
}

void PlayLog::Private::close()
{
    if (fd < 0)
        return;
    if (unsynced)
        syncNow();
    ::close(fd);
    fd = -1;
}

bool PlayLog::Private::rotate()
{
    syncNow(); // a failure is in error(); the file is kept all the same
    ::close(fd);
    fd = -1;
    const QString stamp = clock.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString kept = paths.file(QStringLiteral("db/playlog-%1.txt").arg(stamp));
    for (int n = 2; nameTaken(kept); ++n)
        kept = paths.file(QStringLiteral("db/playlog-%1-%2.txt").arg(stamp).arg(n));
    // A rename that fails leaves the file growing, which loses nothing; it is not tried again.
    if (::rename(QFile::encodeName(currentFile(paths)).constData(), QFile::encodeName(kept).constData()) != 0) {
        fail(QStringLiteral("%1: %2").arg(kept, fileErrorText(errno)));
        cannotRotate = true;
    } else {
        qCInfo(lcHistory).noquote() << "play log kept as" << kept;
    }
    syncFolder(paths.dbDir());
    return open();
}

bool PlayLog::Private::append(const QByteArray& line)
{
    if (fd < 0 && !open())
        return false;
    if (size > 0 && size + line.size() + (atLineStart ? 0 : 1) > rotationBytes && !cannotRotate && !rotate())
        return false;
    const QByteArray out = atLineStart ? line : '\n' + line;
    qsizetype written = 0;
    if (const int failure = writeAll(fd, out, &written)) {
        size += written;
        // Part of a line may be there: the next one starts on a line of its own.
        atLineStart = atLineStart && written == 0;
        fail(QStringLiteral("%1: %2").arg(currentFile(paths), fileErrorText(failure)));
        return false;
    }
    size += written;
    atLineStart = true;
    unsynced = true;
    error.clear();
    if (!lastSync || clock.elapsedMs() - *lastSync >= SyncEveryMs)
        syncNow();
    return true;
}

bool PlayLog::Private::syncNow()
{
    if (fd < 0 || !unsynced)
        return true;
    lastSync = clock.elapsedMs();
    if (::fdatasync(fd) != 0) {
        fail(QStringLiteral("%1: %2").arg(currentFile(paths), fileErrorText(errno)));
        return false;
    }
    unsynced = false;
    return true;
}

PlayLog::PlayLog(const AppPaths& paths, const Clock& clock, qint64 rotationBytes)
    : d(std::make_unique<Private>(paths, clock, rotationBytes))
{
}

PlayLog::~PlayLog() = default;

PlayLogReport PlayLog::read(PlayEvents& events)
{
    PlayLogReport report;
    LineReader reader(events, report);
    for (const QString& path : files(d->paths)) {
        QString error;
        const auto content = readFileBytes(path, MaxFileBytes, &error);
        if (!content) {
            report.problems << error;
            continue;
        }
        ++report.files;
        reader.read(*content);
    }
    d->lastId = std::max(d->lastId, reader.highestId());
    if (report.unreadable > 0)
        qCInfo(lcHistory) << "play log:" << report.unreadable << "lines left out";
    return report;
}

std::optional<PlayRecord> PlayLog::appendStart(const PlayStart& start)
{
    if (!start.number.isSongNumber())
        return std::nullopt;
    const QDateTime now = d->clock.now();
    PlayRecord play;
    play.id = ++d->lastId;
    play.startedAt = now.toSecsSinceEpoch();
    play.month = monthKey(now.date());
    play.number = start.number.value();
    play.user = storedUserName(start.user);
    play.device = storedDevice(start.device);
    play.keyTempo = start.keyTempo.clamped();
    if (play.user.isEmpty())
        play.user = GuestUser.toString();
    const QByteArray tab("\t");
    d->append(closedLine(timeText(now) + tab + StartKind.toByteArray() + tab + QByteArray::number(play.id) + tab +
                         QByteArray::number(play.number) + tab + play.user.toUtf8() + tab + play.device.toUtf8() + tab +
                         QByteArray::number(play.keyTempo.key) + tab + QByteArray::number(play.keyTempo.tempo)));
    return play;
}

bool PlayLog::appendEnd(quint64 id, int seconds, KeyTempo endedAt)
{
    if (id == 0)
        return false;
    const QByteArray tab("\t");
    endedAt = endedAt.clamped();
    return d->append(closedLine(timeText(d->clock.now()) + tab + EndKind.toByteArray() + tab + QByteArray::number(id) +
                                tab + QByteArray::number(std::clamp(seconds, 0, 999'999'999)) + tab +
                                QByteArray::number(endedAt.key) + tab + QByteArray::number(endedAt.tempo)));
}

bool PlayLog::syncIfDue()
{
    if (!d->unsynced || (d->lastSync && d->clock.elapsedMs() - *d->lastSync < SyncEveryMs))
        return false;
    return d->syncNow();
}

bool PlayLog::sync()
{
    return d->syncNow();
}

bool PlayLog::hasUnsynced() const
{
    return d->unsynced;
}

QString PlayLog::error() const
{
    return d->error;
}

QString PlayLog::currentFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/playlog.txt"));
}

QStringList PlayLog::files(const AppPaths& paths)
{
    struct Kept
    {
        QString stamp;
        int suffix;
        QString name;
    };
    std::vector<Kept> kept;
    const QDir db(paths.dbDir());
    for (const QString& name : db.entryList({QStringLiteral("playlog-*.txt")}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = keptFileName().match(name);
        if (match.hasMatch())
            kept.push_back({match.captured(1), match.captured(2).toInt(), name});
    }
    // playlog-20260314-210509.txt, then playlog-20260314-210509-2.txt when it was taken.
    std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.suffix < b.suffix;
    });
    QStringList out;
    for (const Kept& file : kept)
        out << db.filePath(file.name);
    if (nameTaken(currentFile(paths)))
        out << currentFile(paths);
    return out;
}

} // namespace tarv
