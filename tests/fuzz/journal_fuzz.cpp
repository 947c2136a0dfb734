// The journal of the saves of several files (db/saving.txt): no crash; a torn or refused journal has
// nothing to write, a refused one names what it wanted; a whole one written again reads back the same.
#include "fuzzcheck.h"

#include "common/filetransaction.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const ChangeJournal journal = parseChangeJournal(content);
    switch (journal.state) {
    case ChangeJournal::State::Torn:
        FUZZ_CHECK(journal.changes.isEmpty() && journal.refusedName.isEmpty());
        break;
    case ChangeJournal::State::Refused:
        FUZZ_CHECK(journal.changes.isEmpty() && !journal.refusedName.isEmpty());
        break;
    case ChangeJournal::State::Whole: {
        qsizetype bytes = 0;
        for (const FileChange& change : journal.changes)
            bytes += change.content.size();
        FUZZ_CHECK(bytes <= content.size());
        const ChangeJournal again = parseChangeJournal(changeJournalContent(journal.changes));
        FUZZ_CHECK(again.state == ChangeJournal::State::Whole && again.changes == journal.changes);
        break;
    }
    }
    return 0;
}
