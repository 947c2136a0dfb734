// The songs by their first sound: which kana a reading is filed under, and the order of a kana's list.
#include "history/initialkana.h"
#include "search/searchtext.h"

#include <gtest/gtest.h>

using namespace tarv;
using namespace Qt::StringLiterals;

namespace {

TEST(InitialKana, AReadingIsFiledUnderItsFirstPlainKana)
{
    const std::pair<QString, QChar> cases[] = {
        {u"さくら"_s, u'さ'},
        {u"がっこう"_s, u'か'},
        {u"ぱすてる"_s, u'は'},
        {u"ばら"_s, u'は'},
        {u"ゃ"_s, u'や'},
        {u"っぽ"_s, u'つ'},
        {u"ゔぃら"_s, u'う'},
        {u"をとめ"_s, u'を'},
        {u"んだ"_s, u'ん'},
        {u"ゐど"_s, u'い'},
        {u"「あい」"_s, u'あ'},
        {u"　♪ゆき"_s, u'ゆ'},
        {u"abc"_s, QChar()},
        {u"123"_s, QChar()},
        {u"桜"_s, QChar()},
        {QString(), QChar()},
        {foldForSearch(u"ガラス"), u'か'},
        {foldForSearch(u"ｻｸﾗ"), u'さ'},
    };
    for (const auto& [reading, kana] : cases)
        EXPECT_EQ(initialKana(reading), kana) << qPrintable(reading);
    for (const KanaRow& row : kanaRows()) {
        EXPECT_EQ(row.kana.front(), row.row);
        for (QChar kana : row.kana)
            EXPECT_EQ(initialKana(QString(kana)), kana) << "every kana of the table is a plain one";
    }
    EXPECT_EQ(kanaRows().size(), 10);
}

TEST(InitialKana, AKanasSongsComeInTheOrderOfTheKanaTable)
{
    const std::vector<CatalogSong> songs{
        {100001, u"学期"_s}, {100002, u"柿"_s}, {100003, u"鍵"_s}, {100004, u"確"_s},     {100005, u"桜"_s},
        {100006, u"Kaze"_s}, {100007, u"風"_s}, {100008, u"柿"_s}, {100009, u"「蛙」"_s}, {100010, u"かぁさん"_s},
    };
    const QStringList readings{u"がっき"_s, u"かき"_s, u"かぎ"_s, u"かく"_s,       u"さくら"_s,
                               u"kaze"_s,   u"かぜ"_s, u"かき"_s, u"「かえる」"_s, u"かぁさん"_s};
    const SongIndex index = SongIndex(songs).withReadings(readings);
    const InitialIndex initials(index);
    std::vector<qint64> numbers;
    for (qsizetype position : initials.songs(u"か"))
        numbers.push_back(index.songs()[size_t(position)].number);
    // Compared with every kana plain first (かぁさん as かあさん, がっき as かつき), then as read
    // (かき before かぎ), then by number.
    EXPECT_EQ(numbers, (std::vector<qint64>{100010, 100009, 100002, 100008, 100003, 100004, 100007, 100001}));
    EXPECT_EQ(initials.songs(u"が"), initials.songs(u"か"));
    EXPECT_EQ(initials.songs(u"カ"), initials.songs(u"か"));
    EXPECT_EQ(initials.songs(u"さ").size(), 1u);
    EXPECT_TRUE(initials.songs(u"た").empty());
    EXPECT_TRUE(initials.songs(u"k").empty());
    EXPECT_TRUE(initials.songs(u"かき").empty());

    // Before the readings are there, titles in kana are filed by their text.
    const InitialIndex withoutReadings(SongIndex({{100011, u"サクラ"_s}, {100012, u"桜"_s}}));
    EXPECT_EQ(withoutReadings.songs(u"さ"), std::vector<qsizetype>{0});
}

TEST(InitialKana, TheCacheBuildsOncePerIndex)
{
    InitialIndexCache cache;
    auto index = std::make_shared<const SongIndex>(std::vector<CatalogSong>{{100001, u"さくら"_s}});
    const auto first = cache.of(index);
    EXPECT_EQ(cache.of(index), first);
    auto next = std::make_shared<const SongIndex>(index->withReadings({u"さくら"_s}));
    EXPECT_NE(cache.of(next), first);
    EXPECT_TRUE(cache.of(nullptr)->songs(u"さ").empty());
}

} // namespace
