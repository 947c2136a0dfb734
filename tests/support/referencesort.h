#pragma once

#include "library/songlist.h"

#include <QList>

namespace tarv::test {

// The song list ordering written out literally: repeated selection of the smallest remaining number,
// 999999 marking a placed entry. Quadratic; kept only as the reference the real ordering must match.
inline QList<Song> referenceSelectionSort(QList<Song> input)
{
    QList<Song> output(input.size());
    for (qsizetype k = 0; k < input.size(); ++k) {
        qint64 minimum = PlacedMark;
        qsizetype slot = 0;
        for (qsizetype i = 0; i < input.size(); ++i) {
            if (input[i].number < minimum) {
                minimum = input[i].number;
                slot = i;
            }
        }
        output[k] = input[slot];
        input[slot].number = PlacedMark;
        input[slot].rawTitle.clear();
    }
    return output;
}

} // namespace tarv::test
