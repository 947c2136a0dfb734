// The CP932 codec: decoding any bytes and encoding any UTF-16 text never fails, and text called
// encodable is encoded without a "?" of its own.
#include "fuzzcheck.h"

#include "common/cp932.h"

using namespace tarv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString decoded = decodeCp932(bytes);
    FUZZ_CHECK(bytes.isEmpty() == decoded.isEmpty());
    // Decoded text encodes back to the same bytes, except where a byte did not decode.
    if (!decoded.contains(QChar::ReplacementCharacter)) {
        FUZZ_CHECK(encodableInCp932(decoded));
    }

    // The same bytes as UTF-16, lone surrogates and all.
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    const QByteArray encoded = encodeCp932(text);
    FUZZ_CHECK(text.isEmpty() == encoded.isEmpty());
    if (encodableInCp932(text)) {
        FUZZ_CHECK(encoded.count('?') == text.count(u'?'));
        FUZZ_CHECK(!decodeCp932(encoded).contains(QChar::ReplacementCharacter));
    } else {
        FUZZ_CHECK(encoded.count('?') > text.count(u'?'));
    }
    return 0;
}
