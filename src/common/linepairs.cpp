#include "common/linepairs.h"

#include "common/textfile.h"

namespace tarv {

LinePairs readLinePairs(const QByteArray& content)
{
    const QList<QByteArray> lines = splitLines(content);
    LinePairs result;
    result.pairs.reserve(lines.size() / 2);
    qsizetype i = 0;
    for (; i + 1 < lines.size(); i += 2)
        result.pairs.append(LinePair{lines[i], lines[i + 1], int(i + 1)});
    result.danglingLine = i < lines.size();
    return result;
}

QByteArray writeLinePairs(const QList<LinePair>& pairs)
{
    QByteArray out;
    qsizetype size = 0;
    for (const LinePair& p : pairs)
        size += p.first.size() + p.second.size() + 4;
    out.reserve(size);
    for (const LinePair& p : pairs) {
        out += p.first;
        out += "\r\n";
        out += p.second;
        out += "\r\n";
    }
    return out;
}

} // namespace tarv
