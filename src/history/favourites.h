#pragma once

#include "common/apppaths.h"
#include "common/songnumber.h"

#include <QList>
#include <QString>

#include <memory>

namespace tarv {

// Each named user's favourite songs (マイリスト), in db/favourites.txt, so that a regular finds them
// on any phone by their name. UTF-8, one line per name: the stored name, then the song numbers in
// the order they were starred, separated by tabs. A line that cannot be read is kept as it is.
// Every change replaces the file atomically; while the file cannot be read (refused, too long, a
// read error) nothing is changed, so it is never overwritten. "Guest" is nobody in particular and
// has no list. Thread-safe.
class Favourites
{
public:
    static constexpr qint64 MaxFileBytes = 4 * 1024 * 1024;
    static constexpr int MaxSongsPerName = 500;

    explicit Favourites(QString path);
    ~Favourites();
    Favourites(const Favourites&) = delete;
    Favourites& operator=(const Favourites&) = delete;

    // db/favourites.txt
    static QString file(const AppPaths& paths);

    // Reads the file (the first call of any other reads it too). Returns why it could not be read,
    // otherwise an empty text (a missing file is an empty one).
    QString load();

    // The songs a name starred, in the order starred; none for "Guest".
    QList<SongNumber> songs(const QString& user) const;
    bool contains(const QString& user, const SongNumber& number) const;

    // Stars a song (on) or takes its star away. Returns why it could not, in words for the guest,
    // otherwise an empty text (also when nothing had to change).
    QString set(const QString& user, const SongNumber& number, bool on);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tarv
