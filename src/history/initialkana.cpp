#include "history/initialkana.h"

#include "search/searchtext.h"

#include <algorithm>

namespace tarv {

namespace {

// The plain kana of each hiragana from ぁ (U+3041) to ゖ (U+3096).
constexpr QStringView PlainKana = u"ああいいううええおお"
                                  u"かかききくくけけここ"
                                  u"ささししすすせせそそ"
                                  u"たたちちつつつててとと"
                                  u"なにぬねの"
                                  u"はははひひひふふふへへへほほほ"
                                  u"まみむめも"
                                  u"ややゆゆよよ"
                                  u"らりるれろ"
                                  u"わわいえをん"
                                  u"うかけ";
static_assert(PlainKana.size() == 0x3096 - 0x3041 + 1);

bool isKana(char16_t c)
{
    return c >= 0x3041 && c <= 0x3096;
}

char16_t plain(char16_t c)
{
    return isKana(c) ? PlainKana[c - 0x3041].unicode() : c;
}

// The reading from its first letter or digit on.
QStringView fromFirstLetter(QStringView reading)
{
    qsizetype i = 0;
    while (i < reading.size() && !reading[i].isLetterOrNumber())
        ++i;
    return reading.mid(i);
}

struct Filed
{
    QString plainReading; // the reading with every kana plain: the order's first key
    QString reading;
    qint64 number;
    qsizetype position;
};

} // namespace

const QList<KanaRow>& kanaRows()
{
    static const QList<KanaRow> rows{
        {u'あ', QStringLiteral("あいうえお")}, {u'か', QStringLiteral("かきくけこ")},
        {u'さ', QStringLiteral("さしすせそ")}, {u'た', QStringLiteral("たちつてと")},
        {u'な', QStringLiteral("なにぬねの")}, {u'は', QStringLiteral("はひふへほ")},
        {u'ま', QStringLiteral("まみむめも")}, {u'や', QStringLiteral("やゆよ")},
        {u'ら', QStringLiteral("らりるれろ")}, {u'わ', QStringLiteral("わをん")},
    };
    return rows;
}

QChar initialKana(QStringView foldedReading)
{
    const QStringView rest = fromFirstLetter(foldedReading);
    if (rest.isEmpty() || !isKana(rest.front().unicode()))
        return {};
    return QChar(plain(rest.front().unicode()));
}

InitialIndex::InitialIndex(const SongIndex& index)
{
    const std::vector<CatalogSong>& songs = index.songs();
    std::array<std::vector<Filed>, LastKana - FirstKana + 1> filed;
    for (qsizetype i = 0; i < qsizetype(songs.size()); ++i) {
        const CatalogSong& song = songs[size_t(i)];
        const QString reading =
            fromFirstLetter(index.hasReadings() ? index.reading(i).toString() : foldForSearch(song.title)).toString();
        if (reading.isEmpty() || !isKana(reading.front().unicode()))
            continue;
        QString key = reading;
        for (QChar& c : key)
            c = QChar(plain(c.unicode()));
        filed[key.front().unicode() - FirstKana].push_back({std::move(key), reading, song.number, i});
    }
    for (size_t kana = 0; kana < filed.size(); ++kana) {
        std::vector<Filed>& list = filed[kana];
        std::sort(list.begin(), list.end(), [](const Filed& a, const Filed& b) {
            if (const int order = QStringView(a.plainReading).compare(b.plainReading); order != 0)
                return order < 0;
            if (const int order = QStringView(a.reading).compare(b.reading); order != 0)
                return order < 0;
            return a.number != b.number ? a.number < b.number : a.position < b.position;
        });
        m_songs[kana].reserve(list.size());
        for (const Filed& song : list)
            m_songs[kana].push_back(song.position);
    }
}

const std::vector<qsizetype>& InitialIndex::songs(QStringView kana) const
{
    static const std::vector<qsizetype> none;
    const QString folded = foldForSearch(kana);
    if (folded.size() != 1 || !isKana(folded.front().unicode()))
        return none;
    return m_songs[plain(folded.front().unicode()) - FirstKana];
}

std::shared_ptr<const InitialIndex> InitialIndexCache::of(const std::shared_ptr<const SongIndex>& index)
{
    const std::lock_guard lock(m_mutex);
    if (!m_built || m_source != index) {
        m_built = index ? std::make_shared<const InitialIndex>(*index) : std::make_shared<const InitialIndex>();
        m_source = index;
    }
    return m_built;
}

} // namespace tarv
