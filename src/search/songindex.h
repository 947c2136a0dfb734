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

// Texts searched for a part of them, one per song, held in one buffer so that a search is one pass
// of a substring search over it rather than one call per song.
class SearchColumn
{
public:
    SearchColumn() = default;
    explicit SearchColumn(const QStringList& texts);

    void reserve(qsizetype texts, qsizetype characters);
    void append(QStringView text);

    QStringView at(qsizetype i) const;
    // Sets bit in hits[i] for each text i that holds needle (not empty)...
    void mark(QStringView needle, std::vector<quint8>& hits, quint8 bit) const;
    // ... or that begins with prefix.
    void markPrefixed(QStringView prefix, std::vector<quint8>& hits, quint8 bit) const;

    static constexpr char16_t Separator = u'\n'; // never in a folded text

private:
    QString m_text;                  // each text preceded by Separator
    std::vector<qsizetype> m_starts; // where each text's separator is
};

// The songs the guests search, with their folded titles and, once read, the folded readings of the
// titles. Immutable: a change makes a new index, so a search holds its own and needs no lock.
class SongIndex
{
public:
    SongIndex() = default;
    explicit SongIndex(std::vector<CatalogSong> songs);

    // This index with the titles' readings, folded (foldForSearch), one per song.
    SongIndex withReadings(const QStringList& foldedReadings) const;

    const std::vector<CatalogSong>& songs() const;
    bool hasReadings() const { return bool(m_readings); }
    // The folded reading of the song at a position of songs(); empty until the readings are there.
    QStringView reading(qsizetype position) const;

    // The positions of the songs that match a typed text: those whose title holds it (or, for
    // digits, whose number begins with them) in list order, then those whose reading alone holds
    // it. Every song for a text that folds to nothing.
    std::vector<qsizetype> search(QStringView query) const;

private:
    struct Titles;
    std::shared_ptr<const Titles> m_titles;
    std::shared_ptr<const SearchColumn> m_readings;
};

// The songs of the web song file ("number$title$ENT" lines in CP932), in file order.
std::vector<CatalogSong> parseSongRecords(const QByteArray& content);

} // namespace tarv
