#include "search/songindex.h"

#include "common/cp932.h"
#include "exchange/exchange.h"
#include "search/searchtext.h"

#include <algorithm>
#include <iterator>

namespace tarv {

SearchColumn::SearchColumn(const QStringList& texts)
{
    qsizetype characters = 0;
    for (const QString& text : texts)
        characters += text.size();
    reserve(texts.size(), characters);
    for (const QString& text : texts)
        append(text);
    index();
}

std::optional<SearchColumn> SearchColumn::fromLines(QStringView lines, qsizetype count)
{
    SearchColumn column;
    column.m_text.resize(lines.size());
    column.m_starts.reserve(size_t(count) + 1);
    column.m_starts.push_back(0);
    char16_t* out = reinterpret_cast<char16_t*>(column.m_text.data());
    qsizetype size = 0;
    for (QChar c : lines) {
        if (c != u'\n')
            out[size++] = c.unicode();
        else if (column.size() < count)
            column.m_starts.push_back(quint32(size));
        else
            return std::nullopt;
    }
    if (column.size() != count || (!lines.isEmpty() && lines.back() != u'\n'))
        return std::nullopt;
    column.m_text.truncate(size);
    column.index();
    return column;
}

void SearchColumn::reserve(qsizetype texts, qsizetype characters)
{
    m_text.reserve(characters);
    m_starts.reserve(size_t(texts) + 1);
}

void SearchColumn::append(QStringView text)
{
    if (m_starts.empty())
        m_starts.push_back(0);
    m_text += text;
    m_starts.push_back(quint32(m_text.size()));
}

QStringView SearchColumn::at(qsizetype i) const
{
    return QStringView(m_text).mid(m_starts[size_t(i)], m_starts[size_t(i) + 1] - m_starts[size_t(i)]);
}

quint32 SearchColumn::bucket(char16_t first, char16_t second) const
{
    // Fibonacci hashing of the pair; a character alone is the pair (0, it).
    return (((quint32(first) << 16) | second) * 0x9E3779B1u) >> m_shift;
}

void SearchColumn::index()
{
    // About a bucket per character, up to 2^18: the buckets stay short enough that the rarest pair
    // of a search is rare, and a small list takes little room.
    int bits = 8;
    while (bits < 18 && (qsizetype(1) << bits) < m_text.size())
        ++bits;
    m_shift = 32 - bits;
    const size_t buckets = size_t(1) << bits;
    const quint32 texts = m_starts.empty() ? 0 : quint32(m_starts.size() - 1);
    // Each text once in each bucket of its characters and pairs: counted, then placed.
    std::vector<quint32> last(buckets, 0); // the text last counted in the bucket, plus one
    const auto eachBucket = [&](auto&& add) {
        for (quint32 i = 0; i < texts; ++i) {
            const QStringView text = at(i);
            char16_t previous = 0;
            for (QChar c : text) {
                for (const quint32 b : {bucket(0, c.unicode()), bucket(previous, c.unicode())}) {
                    if (last[b] != i + 1) {
                        last[b] = i + 1;
                        add(b, i);
                    }
                }
                previous = c.unicode();
            }
        }
    };
    m_buckets.assign(buckets + 1, 0);
    eachBucket([&](quint32 b, quint32) { ++m_buckets[b + 1]; });
    for (size_t b = 0; b < buckets; ++b)
        m_buckets[b + 1] += m_buckets[b];
    m_postings.resize(m_buckets[buckets]);
    std::vector<quint32> next(m_buckets.begin(), m_buckets.end() - 1);
    std::fill(last.begin(), last.end(), 0);
    eachBucket([&](quint32 b, quint32 i) { m_postings[next[b]++] = i; });
}

std::vector<quint32> SearchColumn::find(QStringView needle) const
{
    std::vector<quint32> found;
    if (m_buckets.empty() || needle.isEmpty())
        return found;
    // The bucket with the fewest texts, of the needle's character alone or of each of its pairs;
    // other characters and pairs share it, so each of its texts is looked at.
    const auto texts = [this](quint32 b) { return m_buckets[b + 1] - m_buckets[b]; };
    quint32 best = bucket(0, needle.front().unicode());
    for (qsizetype i = 1; i < needle.size(); ++i) {
        if (const quint32 b = bucket(needle[i - 1].unicode(), needle[i].unicode()); texts(b) < texts(best))
            best = b;
    }
    for (quint32 p = m_buckets[best]; p < m_buckets[best + 1]; ++p) {
        const QStringView text = at(m_postings[p]);
        if (std::search(text.begin(), text.end(), needle.begin(), needle.end()) != text.end())
            found.push_back(m_postings[p]);
    }
    return found;
}

struct SongIndex::Titles
{
    std::vector<CatalogSong> songs;
    SearchColumn titles;
    std::vector<std::pair<qint64, quint32>> byNumber; // the songs' numbers and positions, by number

    // The positions of the songs whose number, written in decimal, begins with the digits, in order.
    std::vector<quint32> numbersBeginningWith(QStringView digits) const;
};

std::vector<quint32> SongIndex::Titles::numbersBeginningWith(QStringView digits) const
{
    std::vector<quint32> found;
    // Numbers are written without leading zeros, and fit in 18 digits.
    if (digits.isEmpty() || digits.size() > 18 || (digits.front() == u'0' && digits.size() > 1))
        return found;
    const qint64 prefix = digits.toLongLong();
    const qint64 largest = byNumber.empty() ? -1 : byNumber.back().first;
    // The numbers from prefix·10^k up to (prefix + 1)·10^k for each k, or 0 alone.
    for (qint64 low = prefix, high = prefix + 1; low <= largest;) {
        const auto from = std::lower_bound(byNumber.begin(), byNumber.end(), std::pair(low, quint32(0)));
        const auto to = std::lower_bound(from, byNumber.end(), std::pair(high, quint32(0)));
        for (auto i = from; i != to; ++i)
            found.push_back(i->second);
        if (prefix == 0 || low > largest / 10)
            break;
        low *= 10;
        high *= 10;
    }
    std::sort(found.begin(), found.end());
    return found;
}

SongIndex::SongIndex(std::vector<CatalogSong> songs)
{
    auto titles = std::make_shared<Titles>();
    const qsizetype count = qsizetype(songs.size());
    titles->titles.reserve(count, count * 16);
    titles->byNumber.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const CatalogSong& song = songs[size_t(i)];
        titles->titles.append(foldForSearch(song.title));
        if (song.number >= 0)
            titles->byNumber.emplace_back(song.number, quint32(i));
    }
    titles->titles.index();
    std::sort(titles->byNumber.begin(), titles->byNumber.end());
    titles->songs = std::move(songs);
    m_titles = std::move(titles);
}

SongIndex SongIndex::withReadings(const QStringList& foldedReadings) const
{
    if (foldedReadings.size() != qsizetype(songs().size()))
        return *this;
    return withReadings(std::make_shared<const SearchColumn>(foldedReadings));
}

SongIndex SongIndex::withReadings(std::shared_ptr<const SearchColumn> foldedReadings) const
{
    SongIndex out = *this;
    if (foldedReadings && foldedReadings->size() == qsizetype(songs().size()))
        out.m_readings = std::move(foldedReadings);
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

namespace {

std::vector<quint32> united(const std::vector<quint32>& a, const std::vector<quint32>& b)
{
    if (a.empty() || b.empty())
        return a.empty() ? b : a;
    std::vector<quint32> out;
    out.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

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
    // Typed in romaji, the text is also searched for the kana it spells, folded in its turn.
    QString kana;
    if (const std::optional<QString> spelled = kanaFromRomaji(key))
        kana = foldForSearch(*spelled);
    if (kana == key)
        kana.clear();
    const auto inColumn = [&](const SearchColumn& column) {
        return kana.isEmpty() ? column.find(key) : united(column.find(key), column.find(kana));
    };
    std::vector<quint32> titles = inColumn(m_titles->titles);
    if (std::all_of(key.begin(), key.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        titles = united(titles, m_titles->numbersBeginningWith(key));
    std::vector<quint32> readings;
    if (m_readings) {
        const std::vector<quint32> inReadings = inColumn(*m_readings);
        readings.reserve(inReadings.size());
        std::set_difference(inReadings.begin(), inReadings.end(), titles.begin(), titles.end(),
                            std::back_inserter(readings));
    }
    found.reserve(titles.size() + readings.size());
    found.insert(found.end(), titles.begin(), titles.end());
    found.insert(found.end(), readings.begin(), readings.end());
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
