#include "library/songlist.h"

#include "common/cp932.h"
#include "common/display.h"
#include "common/numbers.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/numberline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace tarv {

QString Song::title() const
{
    return decodeCp932(rawTitle);
}

QString Song::displayText() const
{
    return displayForm(numberText(), title());
}

Song Song::fromTitle(qint64 number, const QString& title)
{
    return Song{number, encodeCp932(title)};
}

QList<Song> SongTable::songs() const
{
    QList<Song> out;
    out.reserve(size());
    for (const Entry& entry : m_entries)
        out.append(Song{entry.number, rawTitle(entry).toByteArray()});
    return out;
}

SongTable SongTable::parse(QByteArray content)
{
    SongTable table;
    table.m_bytes = std::move(content);
    const char* const base = table.m_bytes.constData();
    table.m_entries.reserve(size_t(table.m_bytes.size() / 24));
    QByteArrayView numberLine;
    bool haveNumberLine = false;
    int lineNumber = 0;
    forEachLine(table.m_bytes, [&](QByteArrayView line) {
        ++lineNumber;
        if (!haveNumberLine) {
            numberLine = line;
            haveNumberLine = true;
            return;
        }
        haveNumberLine = false;
        ++table.m_pairCount;
        const auto number = numberLineValue(numberLine);
        if (!number) {
            table.m_warnings << QStringLiteral("%1行目「%2」は曲番号ではないので読み飛ばしました")
                                    .arg(lineNumber - 1)
                                    .arg(visibleLine(numberLine));
            return;
        }
        Entry entry{*number, line.data() - base, qint32(line.size())};
        switch (numberLineForm(numberLine)) {
        case NumberLineForm::Written:
            break;
        case NumberLineForm::Plain:
            entry.numberStart = numberLine.data() - base;
            entry.numberSize = qint32(numberLine.size());
            break;
        case NumberLineForm::Odd:
            table.m_oddNumberLines << QStringLiteral("%1行目「%2」は曲番号 %3 の書き方ではないので書き換えられません")
                                          .arg(lineNumber - 1)
                                          .arg(visibleLine(numberLine))
                                          .arg(*number);
            break;
        }
        table.m_entries.push_back(entry);
    });
    // A blank line at the end (an editor's extra line end) holds nothing to lose.
    if (haveNumberLine && !numberLine.trimmed().isEmpty())
        table.m_warnings << QStringLiteral("最後の行に曲名がないので読み飛ばしました");
    return table;
}

SongTable SongTable::fromSongs(const QList<Song>& songs)
{
    SongTable table;
    qsizetype bytes = 0;
    for (const Song& song : songs)
        bytes += song.rawTitle.size();
    table.m_bytes.reserve(bytes);
    table.m_entries.reserve(size_t(songs.size()));
    for (const Song& song : songs)
        table.append(song.number, song.rawTitle);
    return table;
}

void SongTable::append(qint64 number, QByteArrayView rawTitle)
{
    m_entries.push_back(Entry{number, m_bytes.size(), qint32(rawTitle.size())});
    m_bytes.append(rawTitle);
    ++m_pairCount;
}

void SongTable::setRawTitle(qsizetype i, QByteArrayView rawTitle)
{
    Entry& entry = m_entries[size_t(i)];
    entry.titleStart = m_bytes.size();
    entry.titleSize = qint32(rawTitle.size());
    m_bytes.append(rawTitle);
}

void SongTable::setNumber(qsizetype i, qint64 number)
{
    Entry& entry = m_entries[size_t(i)];
    if (entry.number != number)
        entry = Entry{number, entry.titleStart, entry.titleSize};
}

void SongTable::order()
{
    if (isOrdered())
        return;
    // A stable radix sort on the numbers' distance from the smallest, 11 bits a pass from the lowest:
    // song numbers span under 2^20, so a list takes two passes over its entries.
    const auto [lowest, highest] = std::minmax_element(
        m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    const qint64 low = lowest->number;
    const quint64 span = quint64(highest->number) - quint64(low);
    constexpr int Bits = 11;
    std::vector<Entry> other(m_entries.size());
    for (int shift = 0; shift < 64 && (span >> shift) != 0; shift += Bits) {
        std::array<size_t, (1 << Bits) + 1> start{};
        const auto digit = [&](const Entry& e) {
            return ((quint64(e.number) - quint64(low)) >> shift) & ((1 << Bits) - 1);
        };
        for (const Entry& e : m_entries)
            ++start[digit(e) + 1];
        for (size_t d = 1; d < start.size(); ++d)
            start[d] += start[d - 1];
        for (const Entry& e : m_entries)
            other[start[digit(e)]++] = e;
        m_entries.swap(other);
    }
}

bool SongTable::isOrdered() const
{
    return std::is_sorted(m_entries.begin(), m_entries.end(),
                          [](const Entry& a, const Entry& b) { return a.number < b.number; });
}

QByteArray SongTable::serialize() const
{
    // " number " CR LF title CR LF: at most 20 digits and a sign, six bytes of blanks and line ends.
    qsizetype capacity = 0;
    for (const Entry& entry : m_entries)
        capacity += entry.titleSize + entry.numberSize + 27;
    QByteArray out(capacity, Qt::Uninitialized);
    char* p = out.data();
    const char* const titles = m_bytes.constData();
    const size_t count = m_entries.size();
    for (size_t i = 0; i < count; ++i) {
        // Ordered entries read their titles from all over the buffer: ask for them a little early.
        constexpr size_t Ahead = 16;
        if (i + Ahead < count)
            __builtin_prefetch(titles + m_entries[i + Ahead].titleStart);
        const Entry& entry = m_entries[i];
        if (entry.numberSize > 0) {
            std::memcpy(p, titles + entry.numberStart, size_t(entry.numberSize));
            p += entry.numberSize;
        } else {
            *p++ = ' ';
            appendNumber(p, entry.number);
            *p++ = ' ';
        }
        *p++ = '\r';
        *p++ = '\n';
        std::memcpy(p, titles + entry.titleStart, size_t(entry.titleSize));
        p += entry.titleSize;
        *p++ = '\r';
        *p++ = '\n';
    }
    out.truncate(p - out.constData());
    return out;
}

SongListLoad parseSongList(const QByteArray& content)
{
    const SongTable table = SongTable::parse(content);
    SongListLoad result;
    result.found = true;
    result.songs = table.songs();
    result.warnings = table.warnings();
    return result;
}

SongListLoad loadSongList(const QString& path)
{
    SongListLoad result;
    const auto table = sharedSongTable(path, &result.error);
    if (!table)
        return result;
    result.found = QFileInfo::exists(path);
    result.songs = table->songs();
    result.warnings = table->warnings();
    return result;
}

namespace {

// What tells one state of a file from another without reading it. File times move in steps of a
// clock tick, so two writes of the same size within one tick look alike: a stamp taken less than
// a tick after the file last changed is not trusted on its own.
struct FileStamp
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp&) const = default;

    static FileStamp of(const QString& path)
    {
        FileStamp stamp;
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return stamp;
        stamp.exists = true;
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = st.st_size;
        stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
        return stamp;
    }

    // Long enough ago (file times step by a clock tick, 10 ms at most) that a later change is bound
    // to move the file's times.
    bool settled() const
    {
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const qint64 nowNs = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
        return std::max(modifiedNs, changedNs) < nowNs - 20000000;
    }
};

struct SharedTable
{
    FileStamp stamp;
    bool settled = false;
    QByteArray content; // the file's bytes the table stands for
    std::shared_ptr<const SongTable> table;
    QString refusal; // why the file could not be read (with no table)
};

struct SharedTables
{
    std::mutex mutex;
    QHash<QString, SharedTable> tables;

    void put(const QString& path, const FileStamp& stamp, QByteArray content, std::shared_ptr<const SongTable> table,
             QString refusal = {})
    {
        std::lock_guard lock(mutex);
        tables.insert(path,
                      SharedTable{stamp, stamp.settled(), std::move(content), std::move(table), std::move(refusal)});
    }
};

SharedTables& sharedTables()
{
    static SharedTables shared;
    return shared;
}

QString tooLargeText(qint64 bytes)
{
    return QStringLiteral("曲目リストが大きすぎるので読み込みません（%1 MB、上限 %2 MB）")
        .arg((bytes + (1 << 20) - 1) >> 20)
        .arg(MaxSongListBytes >> 20);
}

// The list's bytes, its size checked before it is read; nullopt with the reason when it cannot be
// read or is larger than any real library.
std::optional<QByteArray> readSongListBytes(const QString& path, QString* error)
{
    const auto refuse = [&](const QString& reason) {
        *error = reason;
        return std::nullopt;
    };
    if (const QFileInfo info(path); info.isFile() && info.size() > MaxSongListBytes)
        return refuse(tooLargeText(info.size()));
    QString reason;
    auto bytes = readRegularFile(path, MaxSongListBytes, Links::Follow, &reason);
    if (!bytes)
        return refuse(reason.isEmpty() ? QStringLiteral("%1: ファイルがありません").arg(path) : reason);
    if (bytes->size() > MaxSongListBytes)
        return refuse(tooLargeText(QFileInfo(path).size()));
    const qint64 lines =
        std::count(bytes->cbegin(), bytes->cend(), '\n') + (!bytes->isEmpty() && !bytes->endsWith('\n') ? 1 : 0);
    if (lines / 2 > MaxSongListEntries)
        return refuse(QStringLiteral("曲目リストの曲が多すぎるので読み込みません（%1 曲、上限 %2 曲）")
                          .arg(lines / 2)
                          .arg(MaxSongListEntries));
    return std::move(*bytes);
}

} // namespace

std::shared_ptr<const SongTable> sharedSongTable(const QString& path, QString* error)
{
    const FileStamp stamp = FileStamp::of(path);
    SharedTables& shared = sharedTables();
    SharedTable known;
    {
        std::lock_guard lock(shared.mutex);
        known = shared.tables.value(path);
    }
    if ((known.table || !known.refusal.isEmpty()) && known.stamp == stamp && known.settled) {
        if (error && !known.table)
            *error = known.refusal;
        return known.table;
    }
    if (!stamp.exists) {
        static const auto empty = std::make_shared<const SongTable>();
        return empty;
    }
    QString readError;
    auto bytes = readSongListBytes(path, &readError);
    if (!bytes) {
        // Not read again until the file changes: a list too large costs a read of 64 MiB.
        shared.put(path, stamp, {}, nullptr, readError);
        if (error)
            *error = readError;
        return nullptr;
    }
    if (known.table && known.content == *bytes) {
        shared.put(path, stamp, std::move(*bytes), known.table);
        return known.table;
    }
    auto table = std::make_shared<const SongTable>(SongTable::parse(*bytes));
    shared.put(path, stamp, std::move(*bytes), table);
    return table;
}

QString rewriteSongTable(const QString& path, SongTable table)
{
    QByteArray content = table.serialize();
    table.m_pairCount = table.size();
    table.m_warnings.clear();
    table.m_oddNumberLines.clear();
    const QString error = saveFile(path, content);
    if (!error.isEmpty())
        return error;
    // The table as written is what a reader would parse from the file now.
    sharedTables().put(path, FileStamp::of(path), std::move(content),
                       std::make_shared<const SongTable>(std::move(table)));
    return {};
}

QList<Song> orderSongs(const QList<Song>& songs)
{
    SongTable table = SongTable::fromSongs(songs);
    table.order();
    return table.songs();
}

QByteArray serializeSongList(const QList<Song>& songs)
{
    return SongTable::fromSongs(songs).serialize();
}

QString rewriteSongList(const QString& path, const QList<Song>& songs)
{
    return rewriteSongTable(path, SongTable::fromSongs(songs));
}

QString backupFileName(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".txt");
}

QString backupSongList(const AppPaths& paths, const QDateTime& when)
{
    if (!QFileInfo(paths.backupDir()).isDir())
        return QStringLiteral("%1 がありません").arg(paths.backupDir());
    QString error;
    const auto bytes = readSongListBytes(paths.songList(), &error);
    if (!bytes)
        return QStringLiteral("%1: %2").arg(paths.songList(), error);
    return saveFile(QDir(paths.backupDir()).filePath(backupFileName(when)), *bytes);
}

} // namespace tarv
