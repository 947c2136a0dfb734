// The number readers: the lenient leading number, the typed song number and the decimal text.
#include "fuzzcheck.h"

#include "common/numbers.h"
#include "library/entryrules.h"
#include "library/songlist.h"

#include <cmath>
#include <cstring>

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = leadingNumber(text);
    if (!beginsWithNumber(text)) {
        FUZZ_CHECK(value == 0);
    }
    FUZZ_CHECK(!std::isnan(value));

    if (const auto number = parseSongNumber(text)) {
        FUZZ_CHECK(*number >= FirstSongNumber && *number <= LastSongNumber);
        FUZZ_CHECK(text.trimmed().toLongLong() == *number);
    }

    if (size >= sizeof(double)) {
        double any;
        std::memcpy(&any, data, sizeof any);
        if (std::isfinite(any)) {
            const QString written = decimalText(any);
            FUZZ_CHECK(!written.contains(u'e') && !written.contains(u','));
            FUZZ_CHECK(leadingNumber(written) == any || std::fabs(any) < 1e-300);
        }
    }
    return 0;
}
