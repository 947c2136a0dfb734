#include "search/songindex.h"

#include "common/cp932.h"
#include "exchange/exchange.h"
#include "search/searchtext.h"

#include <algorithm>
#include <charconv>

namespace tarv {

SearchColumn::SearchColumn(const QStringList& texts)
{
    qsizetype characters = 0;
    for (const QString& text : texts)
        characters += text.size();
    reserve(texts.size(), characters);
    for (const QString& text : texts)
        append(text);
}

void SearchColumn::reserve(qsizetype texts, qsizetype characters)
{
    m_text.reserve(texts + characters);
    m_starts.reserve(size_t(texts));
}

void SearchColumn::append(QStringView text)
{
    m_starts.push_back(m_text.size());
    m_text += Separator;
    m_text += text;
}

QStringView SearchColumn::at(qsizetype i) const
{
    const qsizetype begin = m_starts[size_t(i)] + 1;
    const qsizetype end = size_t(i + 1) < m_starts.size() ? m_starts[size_t(i + 1)] : m_text.size();
    return QStringView(m_text).mid(begin, end - begin);
}

void SearchColumn::mark(QStringView needle, std::vector<quint8>& hits, quint8 bit) const
{
    // Finding the needle's first character is a vector scan; most places it is found are then
    // told apart by the next one. Several times faster than a substring search over the buffer.
    const QStringView text(m_text);
    const QStringView rest = needle.mid(1);
    const qsizetype last = text.size() - needle.size();
    for (qsizetype from = 0, at; (at = text.indexOf(needle.front(), from)) >= 0 && at <= last;) {
        if (!std::equal(rest.begin(), rest.end(), text.begin() + at + 1)) {
            from = at + 1;
            continue;
        }
        const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), at);
        hits[size_t(next - m_starts.begin() - 1)] |= bit;
        if (next == m_starts.end())
            break;
        from = *next; // the rest of this text can add nothing
    }
}

void SearchColumn::markPrefixed(QStringView prefix, std::vector<quint8>& hits, quint8 bit) const
{
    for (size_t i = 0; i < m_starts.size(); ++i) {
        if (at(qsizetype(i)).startsWith(prefix))
            hits[i] |= bit;
    }
}

struct SongIndex::Titles
{
    std::vector<CatalogSong> songs;
    SearchColumn titles;
    SearchColumn numbers;
};

SongIndex::SongIndex(std::vector<CatalogSong> songs)
{
    auto titles = std::make_shared<Titles>();
    const qsizetype count = qsizetype(songs.size());
    titles->titles.reserve(count, count * 16);
    titles->numbers.reserve(count, count * 6);
    char digits[24];
    char16_t number[24];
    for (qsizetype i = 0; i < count; ++i) {
        const CatalogSong& song = songs[size_t(i)];
        titles->titles.append(foldForSearch(song.title));
        const char* end = std::to_chars(digits, digits + sizeof digits, song.number).ptr;
        std::copy(static_cast<const char*>(digits), end, number);
        titles->numbers.append(QStringView(number, end - digits));
    }
    titles->songs = std::move(songs);
    m_titles = std::move(titles);
}

SongIndex SongIndex::withReadings(const QStringList& foldedReadings) const
{
    SongIndex out = *this;
    if (foldedReadings.size() == qsizetype(songs().size()))
        out.m_readings = std::make_shared<const SearchColumn>(foldedReadings);
    return out;
}

const std::vector<CatalogSong>& SongIndex::songs() const
{
    static const std::vector<CatalogSong> none;
    return m_titles ? m_titles->songs : none;
}

QStringView SongIndex::reading(qsizetype position) const
{
    return m_readings ? m_readings->at(position) : QStringView();
}

std::vector<qsizetype> SongIndex::search(QStringView query) const
{
    const qsizetype count = qsizetype(songs().size());
    std::vector<qsizetype> found;
    const QString key = foldForSearch(query);
    if (key.isEmpty()) {
        found.resize(size_t(count));
        for (qsizetype i = 0; i < count; ++i)
            found[size_t(i)] = i;
        return found;
    }
    if (count == 0)
        return found;
    enum : quint8 { TitleHit = 1, ReadingHit = 2 };
    std::vector<quint8> hits(size_t(count), 0);
    m_titles->titles.mark(key, hits, TitleHit);
    if (std::all_of(key.begin(), key.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        m_titles->numbers.markPrefixed(key, hits, TitleHit);
    if (m_readings)
        m_readings->mark(key, hits, ReadingHit);
    for (qsizetype i = 0; i < count; ++i) {
        if (hits[size_t(i)] & TitleHit)
            found.push_back(i);
    }
    for (qsizetype i = 0; i < count; ++i) {
        if (hits[size_t(i)] == ReadingHit)
            found.push_back(i);
    }
    return found;
}

std::vector<CatalogSong> parseSongRecords(const QByteArray& content)
{
    std::vector<CatalogSong> songs;
    for (const SongRecord& record : parseSongFile(decodeCp932(content)))
        songs.push_back({record.number.value(), record.title});
    return songs;
}

} // namespace tarv
