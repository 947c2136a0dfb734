#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace tarv {

struct CatalogSong
{
    qint64 number = 0;
    QString title;
};

// Texts searched for a part of them, one per song, held in one buffer with an index of the texts
// that hold each character and each pair of characters, so that a search reads only the texts that
// hold the rarest pair of what is searched for, not every text.
class SearchColumn
{
public:
    SearchColumn() = default;
    explicit SearchColumn(const QStringList& texts);
    // Texts each ended by a line feed, as many as count; nullopt for another number of them.
    static std::optional<SearchColumn> fromLines(QStringView lines, qsizetype count);

    // Texts one by one, then the index: reserve(), append() for each, index().
    void reserve(qsizetype texts, qsizetype characters);
    void append(QStringView text);
    void index();

    qsizetype size() const { return m_starts.empty() ? 0 : qsizetype(m_starts.size()) - 1; }
    QStringView at(qsizetype i) const;
    // The positions of the texts that hold needle (not empty), in order.
    std::vector<quint32> find(QStringView needle) const;

private:
    quint32 bucket(char16_t first, char16_t second) const;

    QString m_text;                // the texts one after another
    std::vector<quint32> m_starts; // where each text begins, and the end
    // Texts by the characters and pairs they hold, hashed into buckets: the texts of bucket b are
    // m_postings[m_buckets[b]] up to m_postings[m_buckets[b + 1]], in order, each once.
    int m_shift = 32;
    std::vector<quint32> m_buckets;
    std::vector<quint32> m_postings;
};

// The songs the guests search, with their folded titles and, once read, the folded readings of the
// titles. Immutable: a change makes a new index, so a search holds its own and needs no lock. A search
// reads only the titles that may hold what is searched for.
class SongIndex
{
public:
    SongIndex() = default;
    explicit SongIndex(std::vector<CatalogSong> songs);

    // This index with the titles' readings, folded (foldForSearch), one per song.
    SongIndex withReadings(const QStringList& foldedReadings) const;
    SongIndex withReadings(std::shared_ptr<const SearchColumn> foldedReadings) const;

    const std::vector<CatalogSong>& songs() const;
    bool hasReadings() const { return bool(m_readings); }
    // The folded reading of the song at a position of songs(); empty until the readings are there.
    QStringView reading(qsizetype position) const;

    // The positions of the songs that match a typed text: those whose title holds it (or, for
    // digits, whose number begins with them) in list order, then those whose reading alone holds
    // it. Typed in romaji, the kana it spells match too. Every song for a text that folds to nothing.
    std::vector<qsizetype> search(QStringView query) const;

private:
    struct Titles;
    std::shared_ptr<const Titles> m_titles;
    std::shared_ptr<const SearchColumn> m_readings;
};

// The songs of the web song file ("number$title$ENT" lines in CP932), in file order.
std::vector<CatalogSong> parseSongRecords(const QByteArray& content);

} // namespace tarv
