// The edit note (db/editing.txt): no crash, only song numbers, a renumber between two numbers, and a
// note written from what was read reads back the same.
#include "fuzzcheck.h"

#include "common/songnumber.h"
#include "library/recovery.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto edit = parsePendingEdit(content);
    if (!edit)
        return 0;
    FUZZ_CHECK(edit->number >= FirstSongNumber && edit->number <= LastSongNumber);
    if (edit->kind == PendingEdit::Kind::Renumber) {
        FUZZ_CHECK(edit->newNumber >= FirstSongNumber && edit->newNumber <= LastSongNumber);
        FUZZ_CHECK(edit->newNumber != edit->number);
    }
    FUZZ_CHECK(parsePendingEdit(pendingEditContent(*edit)) == edit);
    return 0;
}
