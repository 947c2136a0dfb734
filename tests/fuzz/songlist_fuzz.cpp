// The song list as the library loads, orders and rewrites it: no crash, and a rewrite read back
// holds every entry once, in order, with its title bytes exactly as read.
#include "fuzzcheck.h"

#include "library/songlist.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const SongListLoad loaded = parseSongList(content);
    const QList<Song> ordered = orderSongs(loaded.songs);
    FUZZ_CHECK(ordered.size() == loaded.songs.size());
    for (qsizetype i = 1; i < ordered.size(); ++i)
        FUZZ_CHECK(ordered[i - 1].number <= ordered[i].number);

    const QByteArray rewritten = serializeSongList(ordered);
    const SongListLoad reread = parseSongList(rewritten);
    FUZZ_CHECK(reread.warnings.isEmpty());
    FUZZ_CHECK(reread.songs.size() == ordered.size());
    for (qsizetype i = 0; i < ordered.size(); ++i) {
        FUZZ_CHECK(reread.songs[i].number == ordered[i].number);
        FUZZ_CHECK(reread.songs[i].rawTitle == ordered[i].rawTitle);
    }
    // A second rewrite changes nothing.
    FUZZ_CHECK(serializeSongList(orderSongs(reread.songs)) == rewritten);
    return 0;
}
