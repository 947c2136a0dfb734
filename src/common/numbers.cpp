#include "common/numbers.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <string>

namespace tarv {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == QChar(0x3000);
}

// Collects the characters of the leading number, skipping blanks between them.
std::string leadingNumberText(QStringView text)
{
    std::string out;
    bool digits = false;
    bool point = false;
    for (QChar c : text) {
        if (isBlank(c))
            continue;
        if (c >= u'0' && c <= u'9') {
            out += char(c.unicode());
            digits = true;
        } else if ((c == u'-' || c == u'+') && out.empty()) {
            out += char(c.unicode());
        } else if (c == u'.' && !point) {
            out += '.';
            point = true;
        } else {
            break;
        }
    }
    return digits ? out : std::string();
}

} // namespace

double leadingNumber(QStringView text)
{
    const std::string number = leadingNumberText(text);
    if (number.empty())
        return 0;
    return std::strtod(number.c_str(), nullptr);
}

bool beginsWithNumber(QStringView text)
{
    return !leadingNumberText(text).empty();
}

QString decimalText(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    // 'f' never switches to an exponent: 0.00001 stays "0.00001", not "1e-05".
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

} // namespace tarv
