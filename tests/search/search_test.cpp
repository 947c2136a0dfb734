#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"
#include "search/searchtext.h"
#include "search/songcatalog.h"
#include "search/titlereading.h"
#include "support/appfolder.h"

#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace tarv;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const std::vector<CatalogSong> Songs{
    {100001, QStringLiteral("桜並木の約束")},     {100002, QStringLiteral("東京ナイトドライブ")},
    {100003, QStringLiteral("さくらんぼの季節")}, {100004, QStringLiteral("夜明けのメロディー")},
    {100005, QStringLiteral("ｻｸﾗ ｻｸ")},           {100006, QStringLiteral("Love Song")},
    {100007, QStringLiteral("ラーメン大好き")}};

std::vector<qint64> numbers(const SongIndex& index, QStringView query)
{
    std::vector<qint64> out;
    for (qsizetype i : index.search(query))
        out.push_back(index.songs()[size_t(i)].number);
    return out;
}

} // namespace

TEST(SongSearch, FindsTitlesByTextThenByReadingWhateverTheKanaWidthOrLongVowels)
{
    QString error;
    const auto reader = TitleReader::create(&error);
    ASSERT_TRUE(reader) << error.toStdString();
    QStringList readings;
    for (const CatalogSong& song : Songs)
        readings.append(foldForSearch(reader->reading(song.title)));
    const SongIndex titlesOnly(Songs);
    const SongIndex index = titlesOnly.withReadings(readings);

    const struct
    {
        QString query;
        std::vector<qint64> found;
    } rows[] = {
        // Matches on the title's text come first, in list order, then those on the reading alone.
        {QStringLiteral("さくら"), {100003, 100005, 100001}},
        {QStringLiteral("サクラ"), {100003, 100005, 100001}},
        {QStringLiteral("ｻｸﾗ"), {100003, 100005, 100001}},
        {QStringLiteral("なみき"), {100001}},
        {QStringLiteral("とうきょう"), {100002}},
        {QStringLiteral("トウキョウ"), {100002}},
        {QStringLiteral("東京"), {100002}},
        {QStringLiteral("めろでぃ"), {100004}},
        {QStringLiteral("メロディ～"), {100004}},
        {QStringLiteral("ﾒﾛﾃﾞｨｰ"), {100004}},
        {QStringLiteral("よあけ"), {100004}},
        {QStringLiteral("ｌｏｖｅ　ＳＯＮＧ"), {100006}},
        {QStringLiteral("10000"), {100001, 100002, 100003, 100004, 100005, 100006, 100007}},
        {QStringLiteral("00002"), {}}, // digits match a number from its beginning
        {QStringLiteral(" "), {100001, 100002, 100003, 100004, 100005, 100006, 100007}},
        {QStringLiteral("ないもの"), {}},
        // Long vowels however written: ー, the vowel again, う after o, or left out.
        {QStringLiteral("とーきょー"), {100002}},
        {QStringLiteral("ときょ"), {100002}},
        {QStringLiteral("らあめん"), {100007}},
        {QStringLiteral("ラアメン"), {100007}},
        {QStringLiteral("だいすき"), {100007}},
        // Romaji: the kana it spells, on titles first, then on readings; latin as it is.
        {QStringLiteral("sakura"), {100003, 100005, 100001}},
        {QStringLiteral("SAKURA NAMIKI"), {100001}},
        {QStringLiteral("toukyou"), {100002}},
        {QStringLiteral("tokyo"), {100002}},
        {QStringLiteral("tōkyō"), {100002}},
        {QStringLiteral("ra-men"), {100007}},
        {QStringLiteral("yoakeno"), {100004}},
        {QStringLiteral("yoaken"), {100004}}, // still typing
        {QStringLiteral("love"), {100006}},
        {QStringLiteral("song"), {100006}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(numbers(index, row.query), row.found) << row.query.toStdString();
    // Before the readings are read, titles are found by their text.
    EXPECT_EQ(numbers(titlesOnly, u"さくら"), (std::vector<qint64>{100003, 100005}));
}

TEST(SearchColumn, FindsExactlyTheTextsThatHoldTheNeedle)
{
    // Texts and needles from a few characters, so that pairs recur and share buckets: what the
    // index finds is what looking at every text finds.
    QRandomGenerator random(7);
    const QString alphabet = QStringLiteral("abcさくら桜東京の");
    const auto some = [&](int longest) {
        QString text;
        for (int i = int(random.bounded(longest)) + 1; i > 0; --i)
            text += alphabet[qsizetype(random.bounded(quint32(alphabet.size())))];
        return text;
    };
    QStringList texts{QString()};
    for (int i = 0; i < 3000; ++i)
        texts.append(some(12));
    const SearchColumn column(texts);
    for (int i = 0; i < 500; ++i) {
        const QString needle = some(5);
        std::vector<quint32> expected;
        for (qsizetype t = 0; t < texts.size(); ++t) {
            if (texts[t].contains(needle))
                expected.push_back(quint32(t));
        }
        ASSERT_EQ(column.find(needle), expected) << needle.toStdString();
    }
}

TEST(SearchText, LongVowelsFoldOneWay)
{
    const struct
    {
        QString a, b;
        bool same;
    } rows[] = {
        {QStringLiteral("とーきょー"), QStringLiteral("トウキョウ"), true},
        {QStringLiteral("とおきょお"), QStringLiteral("ときょ"), true},
        {QStringLiteral("らあめん"), QStringLiteral("ラーメン"), true},
        {QStringLiteral("ｹｲﾀｲ"), QStringLiteral("けーたい"), true},
        {QStringLiteral("かわいい"), QStringLiteral("カワイ～"), true},
        {QStringLiteral("きょう"), QStringLiteral("キョー"), true},
        // A vowel after another vowel that it does not lengthen stays.
        {QStringLiteral("いう"), QStringLiteral("い"), false},
        {QStringLiteral("あい"), QStringLiteral("あ"), false},
        {QStringLiteral("おい"), QStringLiteral("お"), false},
        {QStringLiteral("ふぁ"), QStringLiteral("ふ"), false},
        // Only after kana: not after kanji or latin letters.
        {QStringLiteral("愛う"), QStringLiteral("愛"), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(foldForSearch(row.a) == foldForSearch(row.b), row.same)
            << row.a.toStdString() << " " << row.b.toStdString();
}

TEST(SearchText, RomajiSpellsKana)
{
    const struct
    {
        const char16_t* typed;
        std::optional<QString> kana;
    } rows[] = {
        {u"sakura", u"さくら"_qs},
        {u"shinbunsha", u"しんぶんしゃ"_qs},
        {u"shimbunsha", u"しんぶんしゃ"_qs},
        {u"sinbunsya", u"しんぶんしゃ"_qs},
        {u"konnichiwa", u"こんにちわ"_qs},
        {u"konnnichiha", u"こんにちは"_qs},
        {u"kon'ya", u"こんや"_qs},
        {u"onna", u"おんな"_qs},
        {u"kanji", u"かんじ"_qs},
        {u"kitte", u"きって"_qs},
        {u"matcha", u"まっちゃ"_qs},
        {u"tyotto", u"ちょっと"_qs},
        {u"tsuki", u"つき"_qs},
        {u"tuki", u"つき"_qs},
        {u"fuji", u"ふじ"_qs},
        {u"huzi", u"ふじ"_qs},
        {u"jyuu", u"じゅう"_qs},
        {u"ra-men'ya", u"らーめんや"_qs},
        {u"konnyaku", u"こんにゃく"_qs},
        {u"tōkyō", u"とーきょー"_qs},
        {u"東京no", u"東京の"_qs},
        {u"10gatu", u"10がつ"_qs},
        // Still being typed: what is not yet a syllable at the end is left out.
        {u"sak", u"さ"_qs},
        {u"kyouk", u"きょう"_qs},
        {u"sakuran", u"さくら"_qs}, // a last n may yet be な
        {u"sakurann", u"さくらん"_qs},
        {u"kitt", u"きっ"_qs},
        // Not romaji, or no latin letters at all.
        {u"love", std::nullopt},
        {u"night", std::nullopt},
        {u"dream", std::nullopt},
        {u"さくら", std::nullopt},
        {u"2024", std::nullopt},
        {u"b'z", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(kanaFromRomaji(row.typed), row.kana) << QString::fromUtf16(row.typed).toStdString();
}

TEST(SearchText, KatakanaFoldsToHiraganaToItsEnd)
{
    // ヴ, ヵ and ヶ are the last katakana with hiragana of their own; ヷ..ヺ have none and stay.
    EXPECT_EQ(foldForSearch(u"ヴァイオリン"), foldForSearch(u"ゔぁいおりん"));
    EXPECT_EQ(foldForSearch(u"ヵヶ"), QStringLiteral("ゕゖ"));
    EXPECT_EQ(foldForSearch(u"ヷ"), QStringLiteral("ヷ"));
}

class SongCatalogTest : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        const QString webRoot = dir.filePath(QStringLiteral("www"));
        ASSERT_TRUE(QDir().mkpath(webRoot + QStringLiteral("/cgi-bin/tarv")));
        ASSERT_TRUE(saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n").isEmpty());
    }

    void writeSongList(const std::vector<CatalogSong>& songs, int secondsAhead = 0)
    {
        QByteArray list;
        for (const CatalogSong& song : songs)
            list += ' ' + QByteArray::number(song.number) + " \r\n" + encodeCp932(song.title) + "\r\n";
        ASSERT_TRUE(saveFile(paths.songList(), list).isEmpty());
        QFile file(paths.songList());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(QDateTime::currentDateTime().addSecs(secondsAhead), QFileDevice::FileModificationTime));
    }

    static std::vector<qint64> settledSearch(SongCatalog& catalog, QStringView query)
    {
        catalog.refresh();
        EXPECT_TRUE(catalog.waitUntilIdle(30s));
        return numbers(*catalog.index(), query);
    }

    QByteArray cache() const
    {
        QFile file(SongCatalog::readingsCacheFile(paths));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(SongCatalogTest, ReadingsComeFromTheCacheUntilTheListChanges)
{
    writeSongList({Songs[0], Songs[3]});
    {
        SongCatalog catalog(paths);
        EXPECT_EQ(settledSearch(catalog, u"さくら"), std::vector<qint64>{100001});
        EXPECT_TRUE(catalog.index()->hasReadings());
    }
    EXPECT_TRUE(QFile::exists(*existingExchangeFile(paths, ExchangeFile::Songs))); // songdb.txt written

    // A reading only the cache knows shows that a new start reads the cache, not MeCab.
    QByteArray forged = cache();
    ASSERT_TRUE(forged.contains(QStringLiteral("さくらなみきのやくそく").toUtf8()));
    forged.replace(QStringLiteral("さくらなみきのやくそく").toUtf8(), QStringLiteral("にせのよみ").toUtf8());
    ASSERT_TRUE(saveFile(SongCatalog::readingsCacheFile(paths), forged).isEmpty());
    SongCatalog catalog(paths);
    EXPECT_EQ(settledSearch(catalog, u"にせのよみ"), std::vector<qint64>{100001});

    // A changed list rewrites songdb.txt and reads the titles again.
    writeSongList({Songs[0], Songs[1], Songs[3]}, 60);
    EXPECT_EQ(settledSearch(catalog, u"とうきょう"), std::vector<qint64>{100002});
    EXPECT_EQ(numbers(*catalog.index(), u"にせのよみ"), std::vector<qint64>{});
    EXPECT_EQ(numbers(*catalog.index(), u"さくら"), std::vector<qint64>{100001});
    EXPECT_NE(cache(), forged);

    // A cache that does not fit its list is read over, never trusted.
    const QByteArray header = cache().left(cache().indexOf('\n') + 1);
    for (const QByteArray& unfit : {QByteArray("tarv-readings 1 0 3\nx\ny\nz\n"), header + "x\ny\n",
                                    header + "x\ny\nz\nw\n", header + "x\ny\nz\nw"}) {
        ASSERT_TRUE(saveFile(SongCatalog::readingsCacheFile(paths), unfit).isEmpty());
        SongCatalog restarted(paths);
        EXPECT_EQ(settledSearch(restarted, u"とうきょう"), std::vector<qint64>{100002}) << unfit.toStdString();
    }
}

TEST_F(SongCatalogTest, AChangedListIsNeverSearchedWithoutItsReadings)
{
    std::vector<CatalogSong> songs;
    for (int i = 0; i < 3000; ++i) // enough that MeCab takes a while over them
        songs.push_back({200000 + i, QStringLiteral("桜並木の約束 %1").arg(i)});
    writeSongList(songs);
    SongCatalog catalog(paths);
    EXPECT_EQ(settledSearch(catalog, u"sakura").size(), songs.size());
    ASSERT_TRUE(catalog.index()->hasReadings());

    songs.push_back(Songs[1]);
    writeSongList(songs, 60);
    catalog.refresh();
    // Until the new list is read with its readings, searches go to the list before.
    int searches = 0;
    while (!catalog.waitUntilIdle(0ms)) {
        ASSERT_TRUE(catalog.index()->hasReadings());
        ++searches;
    }
    EXPECT_GT(searches, 0);
    EXPECT_EQ(numbers(*catalog.index(), u"とうきょう"), std::vector<qint64>{100002});
}
