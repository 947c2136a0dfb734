// The queue record as a start reads it: no crash, never more than the limit of entries, the song that
// was playing first, and what it read, written again, reads back the same with every line readable.
#include "fuzzcheck.h"

#include "stage/queuerecord.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const RecordContent read = parseRecord(QByteArrayView(data, qsizetype(size)));
    FUZZ_CHECK(read.entries.size() <= RecordContent::MaxEntries);
    QByteArray rewritten;
    bool playingPart = true;
    for (const RecordedReservation& r : read.entries) {
        FUZZ_CHECK(!r.playing || playingPart);
        playingPart = r.playing;
        if (r.keyTempo)
            FUZZ_CHECK(r.keyTempo->clamped() == *r.keyTempo);
        rewritten += recordLine(r);
    }
    const RecordContent reread = parseRecord(rewritten);
    FUZZ_CHECK(reread.unreadable == 0);
    FUZZ_CHECK(reread.beyondLimit == 0);
    FUZZ_CHECK(reread.entries == read.entries);
    FUZZ_CHECK(parseRecord(QByteArrayView(data, qsizetype(size))).entries == read.entries);
    return 0;
}
