// The drop note (db/dropping.txt, db/zihodropping.txt) as the start reads it: no crash, every copy has
// a number of at most six digits, and a note written from what was read reads back the same.
#include "fuzzcheck.h"

#include "common/dropnote.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    int unread = 0;
    const QList<PendingCopy> copies = parsePendingCopies(content, &unread);
    FUZZ_CHECK(unread >= 0);
    for (const PendingCopy& copy : copies)
        FUZZ_CHECK(copy.number > 0 && copy.number <= 999999);
    int unreadAgain = 0;
    FUZZ_CHECK(parsePendingCopies(pendingCopiesContent(copies), &unreadAgain) == copies);
    FUZZ_CHECK(unreadAgain == 0);
    return 0;
}
