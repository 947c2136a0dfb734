#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"
#include "search/searchtext.h"
#include "search/songcatalog.h"
#include "search/titlereading.h"
#include "support/appfolder.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tarv;
using namespace std::chrono_literals;

namespace {

const std::vector<CatalogSong> Songs{
    {100001, QStringLiteral("桜並木の約束")},     {100002, QStringLiteral("東京ナイトドライブ")},
    {100003, QStringLiteral("さくらんぼの季節")}, {100004, QStringLiteral("夜明けのメロディー")},
    {100005, QStringLiteral("ｻｸﾗ ｻｸ")},           {100006, QStringLiteral("Love Song")}};

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
        {QStringLiteral("10000"), {100001, 100002, 100003, 100004, 100005, 100006}},
        {QStringLiteral("00002"), {}}, // digits match a number from its beginning
        {QStringLiteral(" "), {100001, 100002, 100003, 100004, 100005, 100006}},
        {QStringLiteral("ないもの"), {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(numbers(index, row.query), row.found) << row.query.toStdString();
    // Before the readings are read, titles are found by their text.
    EXPECT_EQ(numbers(titlesOnly, u"さくら"), (std::vector<qint64>{100003, 100005}));
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
    ASSERT_TRUE(saveFile(SongCatalog::readingsCacheFile(paths), "tarv-readings 1 0 3\nx\n").isEmpty());
    SongCatalog restarted(paths);
    EXPECT_EQ(settledSearch(restarted, u"とうきょう"), std::vector<qint64>{100002});
}
