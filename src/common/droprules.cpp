#include "common/droprules.h"

#include "common/numbers.h"

#include <cmath>

namespace tarv {

QString proposedTitle(const QString& fileName)
{
    if (fileName.size() < 4)
        return fileName;
    return fileName.left(fileName.size() - 4);
}

QString listableTitle(const QString& title)
{
    QString out = title;
    out.replace(u'\r', u' ');
    out.replace(u'\n', u' ');
    return out;
}

QString megabytesText(qint64 bytes)
{
    return decimalText(std::floor(double(bytes) / 1024 / 1024 * 10) / 10);
}

} // namespace tarv
