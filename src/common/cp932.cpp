#include "common/cp932.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

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

} // namespace

QString decodeCp932(QByteArrayView bytes)
{
    // Plain ASCII (every number line, most exchange lines) reads the same in CP932.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), bytes.size());
    Iconv& cd = decoder();
    const QByteArray utf8 = cd.convert(bytes, [](const char*, size_t, QByteArray& out) -> size_t {
        out.append("\xEF\xBF\xBD"); // U+FFFD
        return 1;
    });
    return QString::fromUtf8(utf8);
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
