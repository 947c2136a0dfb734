#include "library/numberline.h"

#include "common/cp932.h"

namespace tarv {
namespace {

bool isAsciiBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

// The song number at the start of a number line, read from its bytes as the lenient reader of
// numbers reads its decoded text: blanks (also the ideographic space, 0x81 0x40 in CP932) are
// skipped anywhere, then an optional sign, digits and one decimal point; the value is cut to a
// whole number. nullopt when the line does not begin with a number or its value has more than ten
// digits.
std::optional<qint64> numberLineValue(QByteArrayView line)
{
    char text[40];
    qsizetype length = 0;
    bool overflow = false; // longer than text[] holds: only strtod can say what it rounds to
    bool digits = false;
    bool point = false;
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = line[i];
        char keep = 0;
        if (isAsciiBlank(c))
            continue;
        if (c == '\x81' && i + 1 < size && line[i + 1] == '\x40') {
            ++i;
            continue;
        }
        if (c >= '0' && c <= '9') {
            digits = true;
            keep = c;
        } else if ((c == '-' || c == '+') && length == 0 && !overflow) {
            keep = c;
        } else if (c == '.' && !point) {
            point = true;
            keep = c;
        } else {
            break;
        }
        if (length + 1 < qsizetype(sizeof text))
            text[length++] = keep;
        else
            overflow = true;
    }
    if (!digits)
        return std::nullopt;
    // The usual line, " 100001 ": a whole number read exactly without strtod.
    if (!point && !overflow && length <= 10) {
        const bool negative = text[0] == '-';
        qint64 whole = 0;
        for (qsizetype i = (text[0] == '-' || text[0] == '+') ? 1 : 0; i < length; ++i)
            whole = whole * 10 + (text[i] - '0');
        if (whole >= 10000000000LL)
            return std::nullopt;
        return negative ? -whole : whole;
    }
    double value = 0;
    if (overflow) {
        // A number line of hundreds of digits and blanks: rare enough to read through a copy.
        std::string all;
        for (qsizetype i = 0; i < size; ++i) {
            const char c = line[i];
            if (isAsciiBlank(c))
                continue;
            if (c == '\x81' && i + 1 < size && line[i + 1] == '\x40') {
                ++i;
                continue;
            }
            if ((c >= '0' && c <= '9') || ((c == '-' || c == '+') && all.empty()) ||
                (c == '.' && all.find('.') == std::string::npos))
                all += c;
            else
                break;
        }
        value = std::strtod(all.c_str(), nullptr);
    } else {
        text[length] = 0;
        value = std::strtod(text, nullptr);
    }
    if (!(std::fabs(value) < 1e10))
        return std::nullopt;
    return qint64(value);
}

NumberLineForm numberLineForm(QByteArrayView line)
{
    const qsizetype size = line.size();
    if (size >= 3 && line[0] == ' ' && line[size - 1] == ' ' && (line[1] != '0' || size == 3)) {
        bool digits = true;
        for (qsizetype i = 1; i < size - 1 && digits; ++i)
            digits = line[i] >= '0' && line[i] <= '9';
        if (digits)
            return NumberLineForm::Written;
    }
    // Blanks as the lenient reader skips them, but only around the digits.
    const auto blankAt = [&](qsizetype i) {
        if (isAsciiBlank(line[i]))
            return 1;
        return line[i] == '\x81' && i + 1 < size && line[i + 1] == '\x40' ? 2 : 0;
    };
    qsizetype i = 0;
    while (i < size && blankAt(i))
        i += blankAt(i);
    const qsizetype digitsStart = i;
    while (i < size && line[i] >= '0' && line[i] <= '9')
        ++i;
    if (i == digitsStart)
        return NumberLineForm::Odd;
    while (i < size && blankAt(i))
        i += blankAt(i);
    return i == size ? NumberLineForm::Plain : NumberLineForm::Odd;
}

// A line for a message: control characters, a NUL among them, shown as their symbols.
QString visibleLine(QByteArrayView line)
{
    QString text = decodeCp932(line);
    for (QChar& c : text)
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
    return text;
}

void appendNumber(char*& out, qint64 number)
{
    char digits[24];
    int n = 0;
    const bool negative = number < 0;
    quint64 value = negative ? quint64(0) - quint64(number) : quint64(number);
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    if (negative)
        *out++ = '-';
    while (n)
        *out++ = digits[--n];
}

} // namespace tarv
