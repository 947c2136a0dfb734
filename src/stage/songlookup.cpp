#include "stage/songlookup.h"

#include <algorithm>
#include <numeric>

namespace tarv {

SongLookup::SongLookup(QString songListPath) : m_path(std::move(songListPath)) {}

void SongLookup::refresh()
{
    auto table = sharedSongTable(m_path);
    if (table == m_table)
        return;
    // An unreadable file counts as empty and is tried again next time.
    static const auto empty = std::make_shared<const SongTable>();
    m_table = table ? std::move(table) : empty;
    m_order.clear();
    if (!m_table->isOrdered()) {
        m_order.resize(size_t(m_table->size()));
        std::iota(m_order.begin(), m_order.end(), qsizetype(0));
        std::stable_sort(m_order.begin(), m_order.end(),
                         [this](qsizetype a, qsizetype b) { return m_table->number(a) < m_table->number(b); });
    }
}

std::optional<Song> SongLookup::find(SongNumber number)
{
    refresh();
    if (!number.isValid())
        return std::nullopt;
    const qint64 wanted = number.value();
    const auto numberAt = [this](qsizetype position) {
        return m_table->number(m_order.empty() ? position : m_order[size_t(position)]);
    };
    // The last entry of that number: the one before the first greater number.
    qsizetype low = 0;
    qsizetype high = m_table->size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (numberAt(middle) <= wanted)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0 || numberAt(low - 1) != wanted)
        return std::nullopt;
    return m_table->song(m_order.empty() ? low - 1 : m_order[size_t(low - 1)]);
}

qsizetype SongLookup::count()
{
    refresh();
    return m_table->pairCount();
}

} // namespace tarv
