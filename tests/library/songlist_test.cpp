#include "common/savefile.h"
#include "common/textfile.h"
#include "library/songlist.h"
#include "support/referencesort.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace tarv;

namespace {

QList<qint64> numbers(const QList<Song>& songs)
{
    QList<qint64> out;
    for (const Song& s : songs)
        out << s.number;
    return out;
}

QList<QByteArray> titles(const QList<Song>& songs)
{
    QList<QByteArray> out;
    for (const Song& s : songs)
        out << s.rawTitle;
    return out;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    ASSERT_TRUE(saveFile(path, bytes).isEmpty());
}

} // namespace

TEST(SongListOrder, MatchesTheSelectionSortOnRandomListsWithDuplicates)
{
    QRandomGenerator random(20261208);
    for (int round = 0; round < 200; ++round) {
        QList<Song> songs;
        const int size = random.bounded(0, 60);
        for (int i = 0; i < size; ++i) {
            const int kind = random.bounded(4);
            const qint64 number = kind == 0 ? 0 : kind == 1 ? 999998 : 100000 + random.bounded(20);
            songs << Song{number, QByteArray::number(i)};
        }
        const QList<Song> expected = test::referenceSelectionSort(songs);
        const QList<Song> actual = orderSongs(songs);
        ASSERT_EQ(numbers(actual), numbers(expected)) << "round " << round;
        ASSERT_EQ(titles(actual), titles(expected)) << "round " << round;
    }
}

TEST(SongListOrder, IsAStableSortAcrossTheWholeRangeOfNumbers)
{
    // Negative, tiny and ten-digit numbers, with duplicates: every pass of the radix sort matters.
    // (The selection sort drops numbers from the placed mark up, so a plain stable sort is the oracle.)
    QRandomGenerator random(20261209);
    const qint64 edges[] = {-9999999999, -1, 0, 1, 999998, 999999, 1LL << 33, 9999999999};
    for (int round = 0; round < 100; ++round) {
        QList<Song> songs;
        const int size = random.bounded(0, 300);
        for (int i = 0; i < size; ++i) {
            const qint64 number =
                random.bounded(3) == 0 ? edges[random.bounded(8)] : qint64(random.bounded(20000000000.0)) - 9999999999;
            songs << Song{number, QByteArray::number(i)};
        }
        QList<Song> expected = songs;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Song& a, const Song& b) { return a.number < b.number; });
        const QList<Song> actual = orderSongs(songs);
        ASSERT_EQ(numbers(actual), numbers(expected)) << "round " << round;
        ASSERT_EQ(titles(actual), titles(expected)) << "round " << round;
    }
}

TEST(SongListOrder, PutsASmallerLaterNumberFirstAndKeepsNumbersBeyondTheMark)
{
    const QList<Song> ordered = orderSongs({Song{100002, "b"}, Song{100001, "a"}});
    EXPECT_EQ(numbers(ordered), (QList<qint64>{100001, 100002}));
    // A number at or above the placed mark is not lost (the literal selection sort would drop it).
    const QList<Song> big = orderSongs({Song{1000000, "big"}, Song{100001, "a"}});
    EXPECT_EQ(titles(big), (QList<QByteArray>{"a", "big"}));
}

TEST(SongListFile, ReadsEveryFormOfNumberLine)
{
    const SongListLoad load = parseSongList(" 100001 \r\nA\r\n100002\r\nB\r\n0100003\r\nC\r\n  100004\r\n\r\n");
    EXPECT_EQ(numbers(load.songs), (QList<qint64>{100001, 100002, 100003, 100004}));
    EXPECT_EQ(load.songs[3].rawTitle, QByteArray());
    EXPECT_TRUE(load.warnings.isEmpty());
}

TEST(SongListFile, OddLinesAndBadNumbersAreSkippedAndReported)
{
    const SongListLoad load =
        parseSongList(" 100001 \r\nA\r\nabc\r\nB\r\n 100002 \r\nC\r\n 99999999999999999999 \r\nD\r\n 100003 \r\n");
    EXPECT_EQ(numbers(load.songs), (QList<qint64>{100001, 100002}));
    ASSERT_EQ(load.warnings.size(), 3);
    EXPECT_TRUE(load.warnings[0].contains(QStringLiteral("3行目")));
    // A blank line after the last pair loses nothing and is not worth a warning.
    EXPECT_TRUE(parseSongList(" 100001 \r\nA\r\n\r\n").warnings.isEmpty());
}

TEST(SongListFile, UneditedTitlesAreWrittenBackByteForByte)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("musiclist.txt"));
    const QByteArray original(
        " 100002 \r\n\x82\r\n 100001 \r\n | \r\n 100003 \r\n\r\n 100004 \r\n\xFF\x81\x40\x87\x54\r\n");
    writeBytes(path, original);

    const SongListLoad load = loadSongList(path);
    ASSERT_TRUE(load.found);
    ASSERT_TRUE(rewriteSongList(path, orderSongs(load.songs)).isEmpty());
    EXPECT_EQ(
        readFileBytes(path, 64 << 20).value(),
        QByteArray(" 100001 \r\n | \r\n 100002 \r\n\x82\r\n 100003 \r\n\r\n 100004 \r\n\xFF\x81\x40\x87\x54\r\n"));

    // Rewriting an ordered list again changes nothing.
    const QByteArray once = readFileBytes(path, 64 << 20).value();
    ASSERT_TRUE(rewriteSongList(path, orderSongs(loadSongList(path).songs)).isEmpty());
    EXPECT_EQ(readFileBytes(path, 64 << 20).value(), once);
}

TEST(SongListFile, PlainNumberLinesAreWrittenBackUntilTheirNumberChanges)
{
    // \201\100: the ideographic space.
    SongTable table = SongTable::parse("100002\r\nB\r\n 0100001\t\r\nA\r\n\201\100100003 \r\nC\r\n");
    EXPECT_TRUE(table.oddNumberLines().isEmpty());
    table.order();
    table.setNumber(0, 100001);
    table.setNumber(2, 100004);
    EXPECT_EQ(table.serialize(), QByteArray(" 0100001\t\r\nA\r\n100002\r\nB\r\n 100004 \r\nC\r\n"));
}

TEST(SongListFile, MissingFileIsAnEmptyLibrary)
{
    const SongListLoad load = loadSongList(QStringLiteral("/nonexistent/musiclist.txt"));
    EXPECT_FALSE(load.found);
    EXPECT_TRUE(load.songs.isEmpty());
    EXPECT_TRUE(load.error.isEmpty());
}

class LibraryFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(paths.backupDir()));
        ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
    }
    QTemporaryDir dir;
    AppPaths paths{dir.path()};
};

TEST_F(LibraryFolder, BackupIsAByteCopyNamedByTheMoment)
{
    const QByteArray list(" 100001 \r\n\x82\xA0\r\n");
    writeBytes(paths.songList(), list);
    const QDateTime when(QDate(2026, 3, 14), QTime(21, 5, 9));
    EXPECT_EQ(backupFileName(when), QStringLiteral("20260314210509.txt"));
    ASSERT_TRUE(backupSongList(paths, when).isEmpty());
    const QString backup = QDir(paths.backupDir()).filePath(QStringLiteral("20260314210509.txt"));
    EXPECT_EQ(readFileBytes(backup, 64 << 20).value(), list);

    // A second backup in the same second replaces the first.
    writeBytes(paths.songList(), QByteArray(" 100002 \r\nB\r\n"));
    ASSERT_TRUE(backupSongList(paths, when.addMSecs(500)).isEmpty());
    EXPECT_EQ(readFileBytes(backup, 64 << 20).value(), QByteArray(" 100002 \r\nB\r\n"));
    EXPECT_EQ(QDir(paths.backupDir()).entryList(QDir::Files).size(), 1);
}

TEST_F(LibraryFolder, BackupWithoutListOrFolderIsReported)
{
    EXPECT_FALSE(backupSongList(paths, QDateTime::currentDateTime()).isEmpty());
    writeBytes(paths.songList(), QByteArray());
    QDir(paths.backupDir()).removeRecursively();
    EXPECT_FALSE(backupSongList(paths, QDateTime::currentDateTime()).isEmpty());
}

TEST_F(LibraryFolder, AListBeyondAnyLibraryIsNeitherReadNorBackedUp)
{
    const QByteArray entry("1\n\n");
    const struct
    {
        qint64 size; // the file made sparse to this size, or 0
        qint64 entries;
        bool refused;
    } cases[] = {
        {MaxSongListBytes + 1, 1, true},
        {0, MaxSongListEntries, false},
        {0, MaxSongListEntries + 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size + c.entries);
        writeBytes(paths.songList(), entry.repeated(c.entries));
        if (c.size) {
            ASSERT_TRUE(QFile(paths.songList()).resize(c.size));
        }
        QString error;
        const bool read = sharedSongTable(paths.songList(), &error) != nullptr;
        EXPECT_EQ(read, !c.refused);
        EXPECT_EQ(error.isEmpty(), !c.refused) << error.toStdString();
        EXPECT_EQ(backupSongList(paths, QDateTime::currentDateTime()).isEmpty(), !c.refused);
        EXPECT_EQ(QDir(paths.backupDir()).isEmpty(), c.refused);
        QDir(paths.backupDir()).removeRecursively();
        QDir().mkpath(paths.backupDir());
    }
}

TEST_F(LibraryFolder, TotalsTruncateAndNameMissingVideos)
{
    EXPECT_EQ(summaryLine(libraryTotals(paths, {})), QStringLiteral("--- All files:0Count (0MB : 0GB) ---"));

    QFile video(paths.video(QStringLiteral("100001")));
    ASSERT_TRUE(video.open(QIODevice::WriteOnly));
    ASSERT_TRUE(video.resize(3 * 1024 * 1024 + 1024 * 1024 * 99 / 100)); // 3.99 MB
    video.close();
    const LibraryTotals totals = libraryTotals(paths, {Song{100001, "a"}, Song{100002, "b"}});
    EXPECT_EQ(totals.count, 2);
    EXPECT_EQ(totals.missingVideos, QStringList{QStringLiteral("100002")});
    EXPECT_EQ(summaryLine(totals), QStringLiteral("--- All files:2Count (3.9MB : 0GB) ---"));

    // A list big enough to be read on several threads: every video counted once, in every chunk.
    QList<Song> many;
    qint64 expected = 0;
    QStringList missing;
    for (int i = 0; i < 4500; ++i) {
        const qint64 number = 200000 + i;
        many << Song{number, "t"} << Song{number, "twice"};
        if (i % 7 == 0) {
            missing << QString::number(number) << QString::number(number);
            continue;
        }
        QFile video(paths.video(QString::number(number)));
        ASSERT_TRUE(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(i % 5, 'v'));
        expected += 2 * (i % 5);
    }
    const LibraryTotals manyTotals = libraryTotals(paths, many);
    EXPECT_EQ(manyTotals.count, 9000);
    EXPECT_EQ(manyTotals.bytes, expected);
    EXPECT_EQ(manyTotals.missingVideos, missing);

    LibraryTotals large;
    large.count = 5;
    large.bytes = qint64(1024) * 1024 * 1024 * 2 + qint64(1024) * 1024 * 1024 * 999 / 1000; // 2.999 GB
    EXPECT_EQ(summaryLine(large), QStringLiteral("--- All files:5Count (3070.9MB : 2.99GB) ---"));
}
