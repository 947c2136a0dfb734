#include "library/libraryfixture.h"

#include "library/exports.h"
#include "library/library.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QFileInfo>

using namespace tarv;
using namespace tarv::test;

namespace {

QByteArray headerLines(const QString& lastUpdate, int count)
{
    return encodeCp932(
        QStringLiteral("<html><head><title>Tarv楽曲DB - [DBLastUpDate:") + lastUpdate +
        QStringLiteral("] [SystemVersion:1.00]</title></head><body><font style=\"font-family:ＭＳ ゴシック\">\r\n"
                       "楽曲予約：[nnnnnn]→[送信]　※「-」は入力不要<br>\r\n"
                       "予約確認：[送信]を押すたびに切り替え<br>\r\n"
                       "予約取消：予約確認画面で[99]→[送信]<br>\r\n"
                       "予約割込：予約画面で[11]→[送信]、予約確認画面で[11]→[送信]<br>\r\n"
                       "再生終了：[44]→[送信]→確認画面で[44]→[送信]<br>\r\n"
                       "歌い直し：[55]→[送信]→確認画面で[55]→[送信]<br>\r\n"
                       "音量調整：[1]~[10]→[送信]<hr>\r\n"
                       "曲 番 号| 楽 曲 名 (") +
        QString::number(count) + QStringLiteral(")<br>\r\n"));
}

const QByteArray Rule = "--------+------------------------------------------------------------------<br>\r\n";
const QByteArray Footer = "</font></body></html>\r\n";

TEST(SongBook, HeadingCountsEveryEntryAndAnEmptyListHasNoRules)
{
    QList<Song> songs;
    for (int i = 0; i < 250; ++i)
        songs << Song::fromTitle(100000 + i, QStringLiteral("t"));
    const QByteArray html = songBookHtml(songs, QString(), QStringLiteral("1.00"));
    EXPECT_TRUE(html.contains(encodeCp932(u"曲 番 号| 楽 曲 名 (250)<br>\r\n")));
    EXPECT_EQ(html.count(Rule), 1);

    EXPECT_EQ(songBookHtml({}, QStringLiteral("2026/03/14"), QStringLiteral("1.00")),
              headerLines(QStringLiteral("2026/03/14"), 0) + Footer);
}

TEST(SongBook, GeneralDateDropsAMidnightTime)
{
    EXPECT_EQ(generalDateText(QDateTime(QDate(2026, 3, 4), QTime(7, 5, 9))), QStringLiteral("2026/03/04 7:05:09"));
    EXPECT_EQ(generalDateText(QDateTime(QDate(2026, 3, 4), QTime(0, 0))), QStringLiteral("2026/03/04"));
}

class ExportTest : public ::testing::Test
{
protected:
    TempLibrary lib;
    FakeClock clock;
    ScriptedPrompts prompts;
    FakePlayer preview;
    Library library{lib.paths, clock, prompts, preview};

    QString webRoot() const { return lib.dir.path() + QStringLiteral("/www"); }
    void setWebRoot() const
    {
        QDir().mkpath(webRoot() + QStringLiteral("/cgi-bin/tarv"));
        TempLibrary::writeBytes(lib.paths.webRootFile(), webRoot().toUtf8() + "\r\n");
    }
    QString songdb() const { return webRoot() + QStringLiteral("/cgi-bin/tarv/songdb.txt"); }
};

TEST_F(ExportTest, BothExportsOrderAnUnorderedListGroupTheBookAndKeepTitleBytes)
{
    TempLibrary::writeBytes(lib.paths.songList(),
                            QByteArray(" 110001 \r\nb\x81\r\n 100002 \r\nRock & <Roll>\r\n100001\r\na\r\n"));
    setWebRoot();

    library.exportWebSongFile();
    EXPECT_EQ(library.exportLabel(), QStringLiteral("Finish : DB > CGIDB"));
    EXPECT_EQ(TempLibrary::readBytes(songdb()),
              QByteArray("100001$a$ENT\r\n100002$Rock & <Roll>$ENT\r\n110001$b\x81$ENT\r\n"));

    // A rule line before 10-0001 and before 11-0001 only; titles escaped as HTML, their other bytes kept.
    library.exportSongBook(QStringLiteral("1.00"));
    EXPECT_EQ(library.exportLabel(), QStringLiteral("Finish : DB > HTML"));
    const QString date = generalDateText(QFileInfo(lib.paths.songList()).lastModified());
    EXPECT_EQ(TempLibrary::readBytes(lib.paths.file(QStringLiteral("db/db.html"))),
              headerLines(date, 3) + Rule + "10-0001 | a<br>\r\n10-0002 | Rock &amp; &lt;Roll&gt;<br>\r\n" + Rule +
                  "11-0001 | b\x81<br>\r\n" + Footer);
    EXPECT_TRUE(prompts.messages.isEmpty());

    lib.writeList({}); // an empty list empties the file
    library.exportWebSongFile();
    EXPECT_TRUE(QFileInfo::exists(songdb()));
    EXPECT_EQ(TempLibrary::readBytes(songdb()), QByteArray());
}

TEST_F(ExportTest, AMissingExchangeFolderShowsThePathMessageAndWritesNothing)
{
    lib.writeList({{100001, QStringLiteral("a")}});
    QDir().mkpath(webRoot());
    TempLibrary::writeBytes(lib.paths.webRootFile(), webRoot().toUtf8() + "\r\n");

    library.exportWebSongFile();
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("Pathの設定が正しくありません")});
    EXPECT_FALSE(QFileInfo::exists(songdb()));
    EXPECT_EQ(library.exportLabel(), QString());

    QFile::remove(lib.paths.webRootFile()); // no web root at all
    library.exportWebSongFile();
    EXPECT_EQ(prompts.messages.size(), 2);
}

TEST_F(ExportTest, AMissingDbFolderIsReportedNotACrash)
{
    QDir(lib.paths.dbDir()).removeRecursively();
    library.exportSongBook(QStringLiteral("1.00"));
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(library.exportLabel(), QString());
    EXPECT_FALSE(QFileInfo::exists(lib.paths.file(QStringLiteral("db/db.html"))));
}

} // namespace
