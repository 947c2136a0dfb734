#pragma once

#include "common/apppaths.h"

#include <QDate>
#include <QList>
#include <QString>

#include <vector>

namespace tarv {

// db/registered.txt: the day each song was registered by a drop onto the library, one line per
// song as NUMBER<TAB>yyyy-MM-dd (UTF-8, LF), only ever appended to; the last line of a number
// holds. A song of before the file, or of a line that cannot be read, counts from the day its
// video in src/ was last written (a drop writes the copy).
QString registeredFile(const AppPaths& paths);

// Appends the songs a drop has just listed, registered on date. Returns why it could not, otherwise
// an empty text. Losing a line only makes the song count from its video's day instead.
QString noteRegistered(const AppPaths& paths, const QList<qint64>& numbers, const QDate& date);

struct RegisteredSong
{
    qint64 number = 0;
    QDate registered;
    bool operator==(const RegisteredSong&) const = default;
};

// Of numbers (songs of the list), those registered on since or later, newest first and, on one day,
// by number. Reads registered.txt once and looks at the videos of the songs it does not name.
std::vector<RegisteredSong> songsRegisteredSince(const AppPaths& paths, const std::vector<qint64>& numbers,
                                                 const QDate& since);

} // namespace tarv
