#include "library/songlist.h"

#include "common/numbers.h"

#include <QFile>
#include <QFileInfo>

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

extern "C" {
#include <libavformat/avformat.h>
}

// The library's totals: the sizes of the listed videos, read in parallel; and the videos' lengths.

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

std::optional<double> readVideoDuration(const QString& path)
{
    struct CloseInput
    {
        void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    };
    AVDictionary* options = nullptr;
    // A video is one local file: a playlist or a reference inside it opens nothing else.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    const QByteArray url = "file:" + QFile::encodeName(path);
    const int result = avformat_open_input(&opened, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        return std::nullopt;
    const std::unique_ptr<AVFormatContext, CloseInput> context(opened);
    // Most containers give their length in the header; the others once their streams are probed.
    if (context->duration <= 0 && avformat_find_stream_info(context.get(), nullptr) < 0)
        return std::nullopt;
    if (context->duration == AV_NOPTS_VALUE || context->duration <= 0)
        return std::nullopt;
    return double(context->duration) / AV_TIME_BASE;
}

struct VideoDurations::Private
{
    struct Known
    {
        qint64 size = -1;
        qint64 modified = -1;
        std::optional<double> seconds;
    };

    explicit Private(const AppPaths& paths) : paths(paths) {}

    const AppPaths paths;
    std::mutex mutex;
    QHash<QString, Known> known; // by the video's name in src/
};

VideoDurations::VideoDurations(const AppPaths& paths) : d(std::make_unique<Private>(paths)) {}

VideoDurations::~VideoDurations() = default;

std::optional<double> VideoDurations::durationSeconds(const SongNumber& number) const
{
    if (!number.isSongNumber())
        return std::nullopt;
    return videoSeconds(number.text());
}

std::optional<double> VideoDurations::videoSeconds(const QString& name) const
{
    // A bare name of src/, never a path elsewhere.
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == u".." || name == u".")
        return std::nullopt;
    const QFileInfo file(d->paths.video(name));
    if (!file.isFile())
        return std::nullopt;
    const Private::Known stamp{file.size(), file.lastModified().toMSecsSinceEpoch(), std::nullopt};
    {
        const std::lock_guard lock(d->mutex);
        const auto it = d->known.constFind(name);
        if (it != d->known.constEnd() && it->size == stamp.size && it->modified == stamp.modified)
            return it->seconds;
    }
    // Read without the lock: a slow disk holds up no other song's lookup.
    Private::Known read = stamp;
    read.seconds = readVideoDuration(file.filePath());
    const std::lock_guard lock(d->mutex);
    d->known.insert(name, read);
    return read.seconds;
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
