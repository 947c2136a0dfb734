#pragma once

#include <QByteArray>
#include <QList>

namespace tarv {

// A record of two lines (number or time, then title or file field), kept as raw bytes so that
// a line nobody edits is written back unchanged.
struct LinePair
{
    QByteArray first;
    QByteArray second;
    int firstLine = 0; // 1-based line number of the first line in its file
};

struct LinePairs
{
    QList<LinePair> pairs;
    bool danglingLine = false; // the file ended with a first line alone
};

LinePairs readLinePairs(const QByteArray& content);
QByteArray writeLinePairs(const QList<LinePair>& pairs);

} // namespace tarv
