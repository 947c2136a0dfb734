#pragma once

#include "library/songlist.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace tarv {

// Reservation lookup in the song list. Numbers compare by numeric value and, when the list holds a
// number twice, the later entry wins. The parsed list is kept while the file's size and times are
// unchanged, so a lookup in a large library costs a file status check and a hash probe.
class SongLookup
{
public:
    explicit SongLookup(QString songListPath);

    // The entry whose number equals the numeric value of the text; nullopt when there is none
    // (also when the song list is missing or unreadable).
    std::optional<Song> find(double number);

    // The number of entries (number line and title line pairs) in the song list, 0 when it is missing.
    qsizetype count();

private:
    void refresh();

    struct Stamp
    {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        QDateTime changed;
        bool operator==(const Stamp&) const = default;
    };

    QString m_path;
    std::optional<Stamp> m_stamp;
    QList<Song> m_songs;
    qsizetype m_pairCount = 0;
    QHash<qint64, qsizetype> m_index; // number -> position of its last entry
};

} // namespace tarv
