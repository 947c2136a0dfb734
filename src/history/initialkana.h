#pragma once

#include "search/songindex.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <mutex>
#include <vector>

namespace tarv {

// A row of the kana table the guests pick a title's first sound from: あ, and あいうえお.
struct KanaRow
{
    QChar row;
    QString kana;
};

// あ か さ た な は ま や ら わ, each with its kana (わ: わ を ん).
const QList<KanaRow>& kanaRows();

// The kana a reading (folded as the search folds it: katakana as hiragana) is filed under by its
// first sound: a voiced or half-voiced kana under its plain one (が under か, ぱ under は), a small
// one under its full size (ゃ under や, っ under つ), ゔ under う, ゐ and ゑ under い and え. Marks
// and punctuation before the first letter are passed over. Null when the reading starts with no
// kana (latin letters, digits, a kanji left unread).
QChar initialKana(QStringView foldedReading);

// For each kana, the songs whose reading starts with it, in the order of the kana table (五十音) of
// their readings: voicing and small kana count only where the plain kana are the same (かき, がき,
// かぎ), a song's number last. Songs without their reading yet are filed by their title's text.
// Built once per song index; a lookup is then a list made ready. Immutable.
class InitialIndex
{
public:
    InitialIndex() = default;
    explicit InitialIndex(const SongIndex& index);

    // The positions in the index's songs() of the songs filed under kana (also given in katakana or
    // voiced: it is folded first); empty for a text that is no kana.
    const std::vector<qsizetype>& songs(QStringView kana) const;

private:
    static constexpr char16_t FirstKana = u'\u3041';
    static constexpr char16_t LastKana = u'\u3096';
    std::array<std::vector<qsizetype>, LastKana - FirstKana + 1> m_songs;
};

// The initial index of the catalog's index as it stands, built again when the catalog hands out a
// new index (the readings arriving, a changed song list). Thread-safe.
class InitialIndexCache
{
public:
    // The initial index of index; positions in it are positions in index->songs().
    std::shared_ptr<const InitialIndex> of(const std::shared_ptr<const SongIndex>& index);

private:
    std::mutex m_mutex;
    std::shared_ptr<const SongIndex> m_source;
    std::shared_ptr<const InitialIndex> m_built;
};

} // namespace tarv
