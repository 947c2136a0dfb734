#pragma once

#include "common/apppaths.h"
#include "common/songnumber.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tarv {

// One entry of db/musiclist.txt. The title keeps its bytes as read, so a title nobody edits is
// written back byte for byte, even when they are not valid CP932.
struct Song
{
    qint64 number = 0;
    QByteArray rawTitle;

    QString title() const;
    QString numberText() const { return QString::number(number); }
    // "100001 | 夜明けの歌", as the library window lists it.
    QString displayText() const;

    // An entry with a title a person typed (encoded to CP932).
    static Song fromTitle(qint64 number, const QString& title);
};

// A song list beyond any real library is refused, neither read nor backed up.
constexpr qint64 MaxSongListBytes = 64 * 1024 * 1024;
constexpr qint64 MaxSongListEntries = 1000000;

// A parsed song list held as the file's bytes and, per entry, its number and where its title lies
// in those bytes: reading, ordering and rewriting a large list copies no line. A title stays raw
// bytes until someone shows it.
class SongTable
{
public:
    struct Entry
    {
        qint64 number = 0;
        qsizetype titleStart = 0;
        qint32 titleSize = 0;
        // A number line read as plain digits but not written " number " (no blanks, leading zeros):
        // given back as it was while the number stays. 0 for a line written as " number ".
        qint32 numberSize = 0;
        qsizetype numberStart = 0;
    };

    qsizetype size() const { return qsizetype(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }
    const std::vector<Entry>& entries() const { return m_entries; }
    QByteArrayView rawTitle(const Entry& entry) const
    {
        return {m_bytes.constData() + entry.titleStart, entry.titleSize};
    }
    QByteArrayView rawTitle(qsizetype i) const { return rawTitle(m_entries[size_t(i)]); }
    qint64 number(qsizetype i) const { return m_entries[size_t(i)].number; }
    Song song(qsizetype i) const { return Song{number(i), rawTitle(i).toByteArray()}; }
    QList<Song> songs() const;

    // Number and title line pairs read, including those skipped for a number line that is not one.
    qsizetype pairCount() const { return m_pairCount; }
    // Lines skipped while reading, for the operator.
    const QStringList& warnings() const { return m_warnings; }
    // Number lines read leniently that a rewrite would not give back (a NUL, a sign, a point, an
    // exponent or other text with the digits), for the operator: the list is read, never rewritten.
    const QStringList& oddNumberLines() const { return m_oddNumberLines; }

    // Reads file content: every number line / title line pair, in file order.
    static SongTable parse(QByteArray content);
    static SongTable fromSongs(const QList<Song>& songs);

    void append(qint64 number, QByteArrayView rawTitle);
    // Ascending by number, equal numbers in their input order.
    void order();
    bool isOrdered() const;
    // Keeps the entries for which keep(entry) holds.
    template <typename Keep> void filter(Keep keep)
    {
        std::erase_if(m_entries, [&](const Entry& e) { return !keep(e); });
    }
    void removeAt(qsizetype i) { m_entries.erase(m_entries.begin() + i); }
    void setNumber(qsizetype i, qint64 number);
    void setRawTitle(qsizetype i, QByteArrayView rawTitle);

    // The bytes of the list in its current order, in one buffer sized in advance.
    QByteArray serialize() const;

private:
    friend QString rewriteSongTable(const QString& path, SongTable table);

    QByteArray m_bytes; // the content read, then the titles appended since
    std::vector<Entry> m_entries;
    qsizetype m_pairCount = 0;
    QStringList m_warnings;
    QStringList m_oddNumberLines;
};

struct SongListLoad
{
    QList<Song> songs;
    bool found = false;   // the file exists and was read
    QString error;        // why it could not be read (empty when found or simply missing)
    QStringList warnings; // lines skipped while reading, for the operator
};

// Load: every number line / title line pair, in file order. A missing file is an empty library.
// A number line that does not begin with a number, or a number line alone at the end, is skipped
// and named in the warnings.
SongListLoad loadSongList(const QString& path);
SongListLoad parseSongList(const QByteArray& content);

// The song list at path as last read, shared by its readers (the stage's lookup, the library
// window, the exports) and read again only when the file's size or times change. nullptr, with
// the reason in *error, when the file exists but cannot be read or is larger than any real library
// (MaxSongListBytes, MaxSongListEntries); a missing file is an empty list.
std::shared_ptr<const SongTable> sharedSongTable(const QString& path, QString* error = nullptr);

// Rewrite: replaces the whole file atomically with the table's entries in their order, and makes
// the table what sharedSongTable() gives for the file. Returns an empty text on success, otherwise
// the reason (the old file is then unchanged).
QString rewriteSongTable(const QString& path, SongTable table);

// Order: ascending by number, equal numbers in their input order.
QList<Song> orderSongs(const QList<Song>& songs);

// The bytes of a list: " number " then the title, each line ending in CR LF.
QByteArray serializeSongList(const QList<Song>& songs);

// Rewrite: replaces the whole file atomically with the entries in the given order.
// Returns an empty text on success, otherwise the reason (the old file is then unchanged).
QString rewriteSongList(const QString& path, const QList<Song>& songs);

// The backup name of a moment: db/bu/yyyyMMddhhmmss.txt.
QString backupFileName(const QDateTime& when);

// Back up: copies db/musiclist.txt byte for byte into db/bu/ under the moment's name (replacing a
// backup of the same second). Returns an empty text on success, otherwise the reason (also for a
// list larger than any real library).
QString backupSongList(const AppPaths& paths, const QDateTime& when);

struct LibraryTotals
{
    qint64 count = 0;
    qint64 bytes = 0;
    QStringList missingVideos; // numbers of entries whose video is not in src/
};

// Library totals: the entry count and the summed size of src/<number> of every entry.
LibraryTotals libraryTotals(const AppPaths& paths, const QList<Song>& songs);

// The sizes of the songs' videos in src/, read once and then kept current by the operations that
// copy, rename or delete a video, so that the totals after a change read no other video.
class VideoSizes
{
public:
    explicit VideoSizes(const AppPaths& paths);
    ~VideoSizes();

    // Starts reading, on other threads, the sizes the list's totals will need; totals() waits for them.
    void prefetch(const SongTable& songs);
    // The totals of the list; reads the size of a video only the first time its number is asked for.
    LibraryTotals totals(const SongTable& songs);
    // The video of this number was written, replaced or deleted.
    void changed(qint64 number);
    void forgetAll();

private:
    struct Reading;

    qint64 read(qint64 number) const;
    // Waits for a reading in progress and keeps what it read.
    void settle();

    const AppPaths& m_paths;
    QHash<qint64, qint64> m_sizes; // -1: no video
    std::unique_ptr<Reading> m_reading;
};

// The lengths of the songs' videos, each read once (and again once its file changes). Thread-safe: the
// guest server's threads ask for them.
class VideoDurations
{
public:
    explicit VideoDurations(const AppPaths& paths);
    ~VideoDurations();
    VideoDurations(const VideoDurations&) = delete;
    VideoDurations& operator=(const VideoDurations&) = delete;

    // Seconds; none when the song has no video or its length cannot be read.
    std::optional<double> durationSeconds(const SongNumber& number) const;
    // The same for any video of src/ by its name (a time signal's "001001").
    std::optional<double> videoSeconds(const QString& name) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The length of a video file in seconds, as its container gives it; none for a file that is not a
// video or cannot be read.
std::optional<double> readVideoDuration(const QString& path);

// "--- All files:12Count (3.4MB : 0GB) ---" (megabytes to one decimal, gigabytes to two, truncated).
QString summaryLine(const LibraryTotals& totals);

} // namespace tarv
