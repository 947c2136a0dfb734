#include "common/cp932.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>

namespace tarv {
namespace {

class Iconv
{
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

    void reset()
    {
        if (valid())
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }

    // Converts the whole input; onBadInput(in, left) decides how many bytes to skip and what to emit.
    template <typename OnBad> QByteArray convert(QByteArrayView input, OnBad onBadInput)
    {
        QByteArray out;
        if (!valid())
            return out;
        out.reserve(input.size() * 2 + 16);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = size_t(input.size());
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, qsizetype(outPtr - buffer));
            if (rc != size_t(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: a sequence that does not convert.
            const size_t skip = onBadInput(in, inLeft, out);
            in += skip;
            inLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t m_cd;
};

size_t utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    return 4;
}

// Code points iconv cannot be trusted with: a lone surrogate (which UTF-8 cannot carry) and the
// tag characters U+E0000..U+E007F, which glibc's CP932 drops without an error. None has a CP932 form.
bool outsideIconv(char32_t c)
{
    return (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xE0000 && c <= 0xE007F);
}

// Splits text into runs that iconv is given whole and code points that are outsideIconv().
template <typename OnRun, typename OnOutside> void splitForIconv(QStringView text, OnRun onRun, OnOutside onOutside)
{
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        char32_t c = text[i].unicode();
        qsizetype length = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            length = 2;
        }
        if (outsideIconv(c)) {
            if (i > start)
                onRun(text.sliced(start, i - start));
            onOutside();
            start = i + length;
        }
        i += length;
    }
    if (start < text.size())
        onRun(text.sliced(start));
}

// One converter per direction and thread, opened once: opening one costs far more than converting
// a title. convert() resets the shift state after a bad sequence; reset() clears it before each use.
Iconv& decoder()
{
    thread_local Iconv cd("UTF-8", "CP932");
    cd.reset();
    return cd;
}

Iconv& encoder()
{
    thread_local Iconv cd("CP932", "UTF-8");
    cd.reset();
    return cd;
}

// What iconv makes of each byte and each lead and trail byte pair, asked once per process and lead
// byte, so that a valid title decodes by table lookups alone. A cell holds the UTF-16 code unit, or
// Lead (a single byte that starts a pair) or Other (iconv reports an error or more than one unit:
// such a text is decoded by iconv itself, with its exact handling of bad input).
class DecodeTable
{
public:
    static constexpr char16_t Lead = 0xFFFE;
    static constexpr char16_t Other = 0xFFFF;

    static DecodeTable& instance()
    {
        static DecodeTable table;
        return table;
    }

    char16_t single(unsigned char byte) const { return m_single[byte]; }
    const std::array<char16_t, 256>& pairs(unsigned char lead)
    {
        std::call_once(m_pairsFilled[lead], [this, lead] {
            for (int trail = 0; trail < 256; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                m_pairs[lead][size_t(trail)] = ask(QByteArrayView(pair, 2));
            }
        });
        return m_pairs[lead];
    }

private:
    DecodeTable()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const char one = char(byte);
            m_single[size_t(byte)] = ask(QByteArrayView(&one, 1), true);
        }
    }

    static char16_t ask(QByteArrayView bytes, bool single = false)
    {
        thread_local Iconv cd("UTF-16LE", "CP932");
        cd.reset();
        char in[2];
        std::memcpy(in, bytes.data(), size_t(bytes.size()));
        char* inPtr = in;
        size_t inLeft = size_t(bytes.size());
        char out[16];
        char* outPtr = out;
        size_t outLeft = sizeof out;
        if (!cd.valid())
            return Other;
        if (iconv(cd.handle(), &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1))
            return single && errno == EINVAL ? Lead : Other;
        if (inLeft != 0 || outPtr - out != 2)
            return Other;
        const char16_t unit = char16_t(static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
        return QChar::isSurrogate(unit) || unit == Lead || unit == Other ? Other : unit;
    }

    std::array<char16_t, 256> m_single{};
    std::array<std::array<char16_t, 256>, 256> m_pairs{};
    std::array<std::once_flag, 256> m_pairsFilled;
};

// Appends bytes decoded through the table; false (and out as it was) when some byte needs iconv.
bool appendThroughTable(QString& out, QByteArrayView bytes)
{
    DecodeTable& table = DecodeTable::instance();
    const qsizetype before = out.size();
    out.resize(before + bytes.size()); // one code unit a byte at most
    char16_t* p = reinterpret_cast<char16_t*>(out.data()) + before;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = in + bytes.size();
    while (in < end) {
        char16_t unit = table.single(*in);
        if (unit == DecodeTable::Lead && in + 1 < end) {
            unit = table.pairs(in[0])[in[1]];
            ++in;
        }
        if (unit >= DecodeTable::Lead) {
            out.truncate(before);
            return false;
        }
        *p++ = unit;
        ++in;
    }
    out.truncate(p - reinterpret_cast<const char16_t*>(out.constData()));
    return true;
}

} // namespace

QString decodeCp932WithIconv(QByteArrayView bytes)
{
    Iconv& cd = decoder();
    const QByteArray utf8 = cd.convert(bytes, [](const char*, size_t, QByteArray& out) -> size_t {
        out.append("\xEF\xBF\xBD"); // U+FFFD
        return 1;
    });
    return QString::fromUtf8(utf8);
}

void appendCp932(QString& out, QByteArrayView bytes)
{
    if (!appendThroughTable(out, bytes))
        out += decodeCp932WithIconv(bytes);
}

QString decodeCp932(QByteArrayView bytes)
{
    QString out;
    appendCp932(out, bytes);
    return out;
}

QByteArray encodeCp932(QStringView text)
{
    Iconv& cd = encoder();
    QByteArray out;
    splitForIconv(
        text,
        [&cd, &out](QStringView run) {
            out += cd.convert(run.toUtf8(), [](const char* in, size_t left, QByteArray& converted) -> size_t {
                converted.append('?');
                return std::min(left, utf8SequenceLength(static_cast<unsigned char>(*in)));
            });
        },
        [&out] { out += '?'; });
    return out;
}

bool encodableInCp932(QStringView text)
{
    Iconv& cd = encoder();
    bool ok = true;
    splitForIconv(
        text,
        [&cd, &ok](QStringView run) {
            cd.convert(run.toUtf8(), [&ok](const char* in, size_t left, QByteArray&) -> size_t {
                ok = false;
                return std::min(left, utf8SequenceLength(static_cast<unsigned char>(*in)));
            });
        },
        [&ok] { ok = false; });
    return ok;
}

} // namespace tarv
