#pragma once

#include "library/songlist.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tarv {

// Reservation lookup in the song list. Numbers compare by numeric value and, when the list holds a
// number twice, the later entry wins. It searches the shared parsed list (read again only when the
// file changes), so a lookup in a large library costs a file status check and a binary search.
class SongLookup
{
public:
    explicit SongLookup(QString songListPath);

    // The entry of that number; nullopt when there is none (also for no number, and when the song
    // list is missing or unreadable).
    std::optional<Song> find(SongNumber number);

    // The number of entries (number line and title line pairs) in the song list, 0 when it is missing.
    qsizetype count();

private:
    void refresh();

    QString m_path;
    std::shared_ptr<const SongTable> m_table;
    // Positions of the entries in ascending order of number (equal numbers in file order); empty
    // when the file is in that order already, as the library writes it.
    std::vector<qsizetype> m_order;
};

} // namespace tarv
