#include "common/fields.h"

namespace tarv {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

bool endsField(QChar c)
{
    return c == u',' || isLineEnd(c);
}

} // namespace

QStringList readFields(QStringView text)
{
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        while (i < n && isBlank(text[i]))
            ++i;
        QString field;
        if (i < n && text[i] == u'"') {
            qsizetype close = i + 1;
            while (close < n && text[close] != u'"' && !isLineEnd(text[close]))
                ++close;
            // An unclosed quote runs to the line end.
            field = text.mid(i + 1, close - i - 1).toString();
            i = close < n && text[close] == u'"' ? close + 1 : close;
            // Anything between the closing quote and the next separator is not part of the field.
            while (i < n && !endsField(text[i]))
                ++i;
        } else {
            const qsizetype start = i;
            while (i < n && !endsField(text[i]))
                ++i;
            qsizetype end = i;
            while (end > start && isBlank(text[end - 1]))
                --end;
            field = text.mid(start, end - start).toString();
        }
        fields << field;
        if (i >= n)
            break;
        if (text[i] == u',') {
            ++i;
            continue;
        }
        // A line end: CR LF counts once.
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        ++i;
        if (i >= n)
            break;
    }
    return fields;
}

QString firstField(QStringView line)
{
    return readFields(line).constFirst();
}

} // namespace tarv
