#pragma once

#include "common/apppaths.h"
#include "search/songindex.h"

#include <QString>

#include <chrono>
#include <memory>

namespace tarv {

// The songs the guests search, read once from the web song file (songdb.txt) and kept in memory,
// shared by every request. A worker thread of its own rewrites songdb.txt when the song list is newer,
// reads it into a new index with the titles' readings, from the cache in db/ when it was made for the
// same file content, otherwise from MeCab (then cached). A new index replaces the one before only once
// it has its readings; the very first, without a cache, is searched by its titles' text alone until
// MeCab has read them. Thread-safe.
class SongCatalog
{
public:
    explicit SongCatalog(const AppPaths& paths);
    ~SongCatalog();
    SongCatalog(const SongCatalog&) = delete;
    SongCatalog& operator=(const SongCatalog&) = delete;

    // Has the worker bring the index up to date when the song list or songdb.txt changed since the
    // last call (a few stats, no reading). Waits only while no table has been read yet at all.
    void refresh();
    // The index as it stands; never null.
    std::shared_ptr<const SongIndex> index() const;

    // For tests and benchmarks: waits until the worker has nothing left to do. False on a timeout.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    // db/readings.cache: the folded reading of each title of songdb.txt, with a hash of that file.
    static QString readingsCacheFile(const AppPaths& paths);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tarv
