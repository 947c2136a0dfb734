#include "common/fields.h"

namespace tarv {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList readFields(QStringView line)
{
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        while (i < n && isBlank(line[i]))
            ++i;
        QString field;
        if (i < n && line[i] == u'"') {
            const qsizetype close = line.indexOf(u'"', i + 1);
            if (close < 0) { // an unclosed quote runs to the line end
                field = line.mid(i + 1).toString();
                i = n;
            } else {
                field = line.mid(i + 1, close - i - 1).toString();
                i = close + 1;
                // Anything between the closing quote and the next comma is not part of the field.
                while (i < n && line[i] != u',')
                    ++i;
            }
        } else {
            const qsizetype start = i;
            while (i < n && line[i] != u',')
                ++i;
            qsizetype end = i;
            while (end > start && isBlank(line[end - 1]))
                --end;
            field = line.mid(start, end - start).toString();
        }
        fields << field;
        if (i >= n)
            break;
        ++i; // the comma
    }
    return fields;
}

QString firstField(QStringView line)
{
    return readFields(line).constFirst();
}

} // namespace tarv
