#include "search/songcatalog.h"

#include "common/savefile.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "library/exports.h"
#include "search/searchtext.h"
#include "search/titlereading.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace tarv {

Q_LOGGING_CATEGORY(lcSearch, "tarv.search")

namespace {

constexpr std::chrono::seconds PollInterval{2};

// Bumped whenever the folding or the reading of titles changes, so an older cache is not used.
constexpr QByteArrayView CacheFormat = "tarv-readings 2";

struct FileStamp
{
    QString path;
    qint64 size = -1;
    qint64 modified = -1;
    qint64 listModified = -1;
    bool operator==(const FileStamp&) const = default;
};

FileStamp fileStamp(const AppPaths& paths)
{
    const auto songFile = existingExchangeFile(paths, ExchangeFile::Songs);
    if (!songFile)
        return {};
    const QFileInfo info(*songFile);
    const QFileInfo list(paths.songList());
    return {*songFile, info.exists() ? info.size() : -1, info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1,
            list.exists() ? list.lastModified().toMSecsSinceEpoch() : -1};
}

QByteArray cacheHeader(const QByteArray& contentHash, qsizetype count)
{
    return CacheFormat.toByteArray() + ' ' + contentHash + ' ' + QByteArray::number(count) + '\n';
}

std::shared_ptr<const SearchColumn> loadReadings(const QString& path, const QByteArray& header, qsizetype count)
{
    // A line of a reading per title, for the largest song file.
    constexpr qint64 MaxCacheBytes = 64 * 1024 * 1024;
    QString error;
    const auto bytes = readFileBytes(path, MaxCacheBytes, &error);
    if (!bytes || !bytes->startsWith(header))
        return nullptr;
    const QString lines = QString::fromUtf8(QByteArrayView(*bytes).sliced(header.size()));
    std::optional<SearchColumn> readings = SearchColumn::fromLines(lines, count);
    return readings ? std::make_shared<const SearchColumn>(std::move(*readings)) : nullptr;
}

QString saveReadings(const QString& path, const QByteArray& header, const QStringList& readings)
{
    QByteArray content = header;
    for (const QString& reading : readings)
        content += reading.toUtf8() + '\n';
    // A lost cache is only read again from MeCab.
    return saveFile(path, content, Durability::AtomicOnly);
}

} // namespace

struct SongCatalog::Private
{
    explicit Private(const AppPaths& paths) : paths(paths) {}

    void run(std::stop_token stop);
    void update(std::stop_token stop);
    void install(SongIndex index);
    std::optional<QStringList> readTitles(const SongIndex& index, std::stop_token stop);

    const AppPaths paths;
    mutable std::mutex mutex;
    mutable std::condition_variable_any changed; // the worker's wake-up, and its reports
    std::shared_ptr<const SongIndex> current;    // null until the first table is read
    FileStamp seen;                              // as refresh() last saw the files
    bool pending = true;                         // the worker has to look at the files
    bool busy = false;

    // The worker's own.
    FileStamp loaded;
    qint64 exportedList = -1; // the list's time when songdb.txt was last written from it
    std::unique_ptr<TitleReader> reader;
    bool readerFailed = false;

    std::jthread worker; // last: stopped and joined before the rest goes
};

void SongCatalog::Private::run(std::stop_token stop)
{
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
        // Also now and then unasked, so a changed list is indexed before a guest searches it.
        changed.wait_for(lock, stop, PollInterval, [this] { return pending; });
        if (stop.stop_requested())
            break;
        pending = false;
        busy = true;
        lock.unlock();
        update(stop);
        lock.lock();
        busy = false;
        changed.notify_all();
    }
}

void SongCatalog::Private::install(SongIndex index)
{
    auto shared = std::make_shared<const SongIndex>(std::move(index));
    const std::lock_guard lock(mutex);
    current = std::move(shared);
    changed.notify_all();
}

void SongCatalog::Private::update(std::stop_token stop)
{
    const auto songFile = existingExchangeFile(paths, ExchangeFile::Songs);
    const QFileInfo list(paths.songList());
    // Once per change of the list, even when its time lies ahead of the clock.
    if (songFile && list.exists()) {
        const QFileInfo info(*songFile);
        const qint64 listModified = list.lastModified().toMSecsSinceEpoch();
        if (!info.exists() || (info.lastModified() < list.lastModified() && listModified != exportedList)) {
            exportedList = listModified;
            const ExportResult result = exportWebSongFile(paths);
            if (!result.ok())
                qCWarning(lcSearch).noquote() << "songdb.txt not written:" << result.error;
        }
    }
    const FileStamp stamp = fileStamp(paths);
    {
        const std::lock_guard lock(mutex);
        if (current && stamp == loaded)
            return;
    }
    loaded = stamp;
    QString error; // a file the guests' pages cannot read is shown to them as empty
    std::optional<QByteArray> content =
        songFile ? readExchangeFile(*songFile, MaxRecordFileBytes, &error) : std::nullopt;
    if (!error.isEmpty())
        qCWarning(lcSearch).noquote() << "songdb.txt not read:" << error;
    if (!content || content->size() > MaxRecordFileBytes)
        content = QByteArray();
    std::vector<CatalogSong> songs = parseSongRecords(*content);
    bool first = false;
    {
        const std::lock_guard lock(mutex);
        first = !current;
    }
    // A changed list goes in whole, with its readings: until then the guests search the one before.
    if (songs.empty())
        return install(SongIndex());

    // The cached readings are read while the titles are indexed.
    const qsizetype count = qsizetype(songs.size());
    const QByteArray header = cacheHeader(QCryptographicHash::hash(*content, QCryptographicHash::Sha1).toHex(), count);
    const QString cache = readingsCacheFile(paths);
    std::future<std::shared_ptr<const SearchColumn>> cached =
        std::async(std::launch::async, [&] { return loadReadings(cache, header, count); });
    const SongIndex index(std::move(songs));
    if (std::shared_ptr<const SearchColumn> readings = cached.get())
        return install(index.withReadings(std::move(readings)));

    // Only the very first table, with no readings cached, is searched by its text alone while MeCab
    // reads its titles.
    if (first)
        install(index);
    const std::optional<QStringList> readings = readTitles(index, stop);
    if (!readings) {
        if (!stop.stop_requested()) // without MeCab, titles are searched by their text
            install(index);
        return;
    }
    if (const QString saveError = saveReadings(cache, header, *readings); !saveError.isEmpty())
        qCWarning(lcSearch).noquote() << "readings not cached:" << saveError;
    install(index.withReadings(*readings));
}

// The folded readings of the titles; nullopt without MeCab's dictionary or when the catalog goes.
std::optional<QStringList> SongCatalog::Private::readTitles(const SongIndex& index, std::stop_token stop)
{
    if (!reader && !readerFailed) {
        QString error;
        reader = TitleReader::create(&error);
        readerFailed = !reader;
        if (readerFailed)
            qCWarning(lcSearch).noquote() << "titles are searched without their readings: MeCab:" << error;
    }
    if (!reader)
        return std::nullopt;
    QElapsedTimer timer;
    timer.start();
    QStringList readings;
    readings.reserve(qsizetype(index.songs().size()));
    for (const CatalogSong& song : index.songs()) {
        if (readings.size() % 1024 == 0 && stop.stop_requested())
            return std::nullopt;
        readings.append(foldForSearch(reader->reading(song.title)));
    }
    qCInfo(lcSearch) << "read" << readings.size() << "titles in" << timer.elapsed() << "ms";
    return readings;
}

SongCatalog::SongCatalog(const AppPaths& paths) : d(std::make_unique<Private>(paths))
{
    d->worker = std::jthread([d = d.get()](std::stop_token stop) { d->run(stop); });
}

SongCatalog::~SongCatalog() = default;

void SongCatalog::refresh()
{
    const FileStamp stamp = fileStamp(d->paths);
    std::unique_lock lock(d->mutex);
    if (!(stamp == d->seen)) {
        d->seen = stamp;
        d->pending = true;
        d->changed.notify_all();
    }
    d->changed.wait_for(lock, std::chrono::seconds(10), [this] { return d->current != nullptr; });
}

std::shared_ptr<const SongIndex> SongCatalog::index() const
{
    static const auto none = std::make_shared<const SongIndex>();
    const std::lock_guard lock(d->mutex);
    return d->current ? d->current : none;
}

bool SongCatalog::waitUntilIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [this] { return !d->pending && !d->busy; });
}

QString SongCatalog::readingsCacheFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/readings.cache"));
}

} // namespace tarv
