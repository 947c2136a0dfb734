#include "search/songindex.h"

#include "common/cp932.h"
#include "search/searchtext.h"

#include <algorithm>

namespace tarv {

SearchColumn::SearchColumn(const QStringList& texts)
{
    qsizetype length = texts.size();
    for (const QString& text : texts)
        length += text.size();
    m_text.reserve(length);
    m_starts.reserve(size_t(texts.size()));
    for (const QString& text : texts) {
        m_starts.push_back(m_text.size());
        m_text += Separator;
        m_text += text;
    }
}

QStringView SearchColumn::at(qsizetype i) const
{
    const qsizetype begin = m_starts[size_t(i)] + 1;
    const qsizetype end = size_t(i + 1) < m_starts.size() ? m_starts[size_t(i + 1)] : m_text.size();
    return QStringView(m_text).mid(begin, end - begin);
}

void SearchColumn::mark(QStringView needle, std::vector<quint8>& hits, quint8 bit) const
{
    const QStringView text(m_text);
    for (qsizetype from = 0, at; (at = text.indexOf(needle, from)) >= 0;) {
        const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), at);
        hits[size_t(next - m_starts.begin() - 1)] |= bit;
        if (next == m_starts.end())
            break;
        from = *next; // the rest of this text can add nothing
    }
}

struct SongIndex::Titles
{
    std::vector<CatalogSong> songs;
    QHash<qint64, qsizetype> byNumber; // a number listed twice: its last entry
    SearchColumn titles;
    SearchColumn numbers;
};

SongIndex::SongIndex(std::vector<CatalogSong> songs)
{
    auto titles = std::make_shared<Titles>();
    QStringList keys, numbers;
    keys.reserve(qsizetype(songs.size()));
    numbers.reserve(qsizetype(songs.size()));
    titles->byNumber.reserve(qsizetype(songs.size()));
    for (qsizetype i = 0; i < qsizetype(songs.size()); ++i) {
        keys.append(foldForSearch(songs[size_t(i)].title));
        numbers.append(QString::number(songs[size_t(i)].number));
        titles->byNumber.insert(songs[size_t(i)].number, i);
    }
    titles->songs = std::move(songs);
    titles->titles = SearchColumn(keys);
    titles->numbers = SearchColumn(numbers);
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

const CatalogSong* SongIndex::find(qint64 number) const
{
    if (!m_titles)
        return nullptr;
    const auto it = m_titles->byNumber.constFind(number);
    return it == m_titles->byNumber.constEnd() ? nullptr : &m_titles->songs[size_t(*it)];
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
        m_titles->numbers.mark(QString(SearchColumn::Separator + key), hits, TitleHit);
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
    const QString text = decodeCp932(content);
    for (QStringView line : QStringView(text).split(u"\r\n", Qt::SkipEmptyParts)) {
        // Titles may hold "$": the number is the first field, the title the rest.
        if (!line.endsWith(u"$ENT"))
            continue;
        line.chop(4);
        const qsizetype dollar = line.indexOf(u'$');
        bool ok = false;
        const qint64 number = dollar < 0 ? 0 : line.left(dollar).toLongLong(&ok);
        if (ok)
            songs.push_back({number, line.mid(dollar + 1).toString()});
    }
    return songs;
}

} // namespace tarv
