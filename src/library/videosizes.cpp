#include "library/songlist.h"

#include "common/numbers.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The library's totals: the sizes of the listed videos, read in parallel.

namespace tarv {

LibraryTotals libraryTotals(const AppPaths& paths, const QList<Song>& songs)
{
    return VideoSizes(paths).totals(SongTable::fromSongs(songs));
}

namespace {

// src/ opened for reading the sizes of its files by name.
struct OpenDir
{
    explicit OpenDir(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~OpenDir()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenDir(const OpenDir&) = delete;
    OpenDir& operator=(const OpenDir&) = delete;
    const int fd;
};

// The size of src/<number>, or -1 when it is not a regular file. srcDir is an open descriptor of src/.
qint64 videoSize(int srcDir, qint64 number)
{
    char name[24] = {};
    std::to_chars(name, name + sizeof name - 1, number);
    struct stat st;
    if (::fstatat(srcDir, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

} // namespace

// The sizes of many videos, read in chunks taken in turn by a few threads and, once it asks for
// them, the thread that waits: a stat is a system call of about a microsecond, and a big library
// has a hundred thousand videos.
struct VideoSizes::Reading
{
    static constexpr size_t Chunk = 2048;

    Reading(const QString& srcDir, std::vector<qint64> numbers)
        : srcDir(srcDir), numbers(std::move(numbers)), sizes(this->numbers.size())
    {
        const size_t helpers =
            std::min<size_t>(this->numbers.size() / Chunk, std::max(2u, std::thread::hardware_concurrency()) - 1);
        try {
            for (size_t i = 0; i < helpers; ++i)
                threads.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to spare: the waiting thread reads them all.
        }
    }

    void work()
    {
        for (size_t begin; (begin = next.fetch_add(Chunk)) < numbers.size();)
            for (size_t i = begin; i < std::min(begin + Chunk, numbers.size()); ++i)
                sizes[i] = srcDir.fd < 0 ? -1 : videoSize(srcDir.fd, numbers[i]);
    }

    // Helps with what is left and waits for the helpers.
    void finish()
    {
        work();
        threads.clear();
    }

    const OpenDir srcDir;
    const std::vector<qint64> numbers;
    std::vector<qint64> sizes;
    std::atomic<size_t> next{0};
    std::vector<std::jthread> threads; // last: joined before the rest goes
};

VideoSizes::VideoSizes(const AppPaths& paths) : m_paths(paths) {}

VideoSizes::~VideoSizes()
{
    settle();
}

qint64 VideoSizes::read(qint64 number) const
{
    const OpenDir srcDir(m_paths.srcDir());
    return srcDir.fd < 0 ? -1 : videoSize(srcDir.fd, number);
}

void VideoSizes::prefetch(const SongTable& songs)
{
    settle();
    std::vector<qint64> unknown;
    for (const SongTable::Entry& entry : songs.entries())
        if (!m_sizes.contains(entry.number))
            unknown.push_back(entry.number); // a number listed twice is read twice, to the same size
    if (!unknown.empty())
        m_reading = std::make_unique<Reading>(m_paths.srcDir(), std::move(unknown));
}

void VideoSizes::settle()
{
    if (!m_reading)
        return;
    m_reading->finish();
    m_sizes.reserve(m_sizes.size() + qsizetype(m_reading->numbers.size()));
    for (size_t i = 0; i < m_reading->numbers.size(); ++i)
        m_sizes.insert(m_reading->numbers[i], m_reading->sizes[i]);
    m_reading.reset();
}

void VideoSizes::forgetAll()
{
    settle();
    m_sizes.clear();
}

LibraryTotals VideoSizes::totals(const SongTable& songs)
{
    prefetch(songs);
    settle();
    LibraryTotals totals;
    totals.count = songs.size();
    for (const SongTable::Entry& entry : songs.entries()) {
        const qint64 size = m_sizes.value(entry.number);
        if (size >= 0)
            totals.bytes += size;
        else
            totals.missingVideos << QString::number(entry.number);
    }
    return totals;
}

void VideoSizes::changed(qint64 number)
{
    settle();
    if (m_sizes.contains(number))
        m_sizes.insert(number, read(number));
}

QString summaryLine(const LibraryTotals& totals)
{
    const double bytes = double(totals.bytes);
    const double mb = std::floor(bytes / 1024 / 1024 * 10) / 10;
    const double gb = std::floor(bytes / 1024 / 1024 / 1024 * 100) / 100;
    return QStringLiteral("--- All files:") + QString::number(totals.count) + QStringLiteral("Count (") +
           decimalText(mb) + QStringLiteral("MB : ") + decimalText(gb) + QStringLiteral("GB) ---");
}

} // namespace tarv
