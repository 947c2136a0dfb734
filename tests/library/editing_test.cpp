#include "library/libraryfixture.h"

#include "library/library.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QFileInfo>

using namespace tarv;
using namespace tarv::test;

namespace {

class EditingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        lib.writeList(
            {{100002, QStringLiteral("二番")}, {100005, QStringLiteral("五番")}, {100009, QStringLiteral("九番")}});
        for (const char* n : {"100002", "100005", "100009"})
            lib.writeVideo(QString::fromLatin1(n), 2000);
        library.load();
    }

    // Double-clicks the row whose entry has this number.
    void selectNumber(qint64 number)
    {
        for (int row = 0; row < library.songs().size(); ++row) {
            if (library.songs()[row].number == number) {
                ASSERT_TRUE(library.select(row));
                return;
            }
        }
        FAIL() << "no row for " << number;
    }

    bool videoExists(const char* number) const
    {
        return QFileInfo::exists(lib.paths.video(QString::fromLatin1(number)));
    }

    TempLibrary lib;
    FakeClock clock;
    ScriptedPrompts prompts;
    FakePlayer preview;
    Library library{lib.paths, clock, prompts, preview};
};

TEST_F(EditingTest, ChangingOnlyTheTitleKeepsNumberVideoAndPlace)
{
    EXPECT_FALSE(library.select(3)); // no entry under the pointer
    selectNumber(100005);
    ASSERT_EQ(library.change(QStringLiteral("100005"), QStringLiteral("新しい <題>"), true),
              Library::EditOutcome::Done);

    EXPECT_EQ(prompts.confirmTexts, QStringList{QStringLiteral("変更しますか？")});
    EXPECT_EQ(lib.listBytes(), encodeCp932(u" 100002 \r\n二番\r\n 100005 \r\n新しい <題>\r\n 100009 \r\n九番\r\n"));
    EXPECT_TRUE(videoExists("100005"));
    const QStringList lines = logLines(library.log());
    EXPECT_EQ(lines.mid(0, 5),
              (QStringList{QStringLiteral("--- All files:3Count (0MB : 0GB) ---"), DropHereLine,
                           QStringLiteral("--- Finish Edit ---"),
                           QStringLiteral("--- Edit:100005 -> 100005 ** 五番 ->新しい <題> ---"), StartProcessLine}));
    EXPECT_EQ(library.songs()[1].title(), QStringLiteral("新しい <題>"));
    EXPECT_EQ(lib.backups().size(), 1);
    // The frame is back to idle.
    EXPECT_FALSE(library.editFrame().selected);
    EXPECT_EQ(library.editFrame().newNumber, QStringLiteral("000000"));
    EXPECT_EQ(library.editFrame().newTitle, QString());
}

TEST_F(EditingTest, RenumberingMovesTheEntryAndRenamesTheVideo)
{
    selectNumber(100009);
    ASSERT_EQ(library.change(QStringLiteral("100001"), QStringLiteral("九番"), false), Library::EditOutcome::Done);

    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100002, 100005}));
    EXPECT_TRUE(videoExists("100001"));
    EXPECT_FALSE(videoExists("100009"));
    EXPECT_EQ(library.songs().first().displayText(), QStringLiteral("100001 | 九番"));
    EXPECT_TRUE(logLines(library.log()).contains(QStringLiteral("--- Edit:100009 -> 100001 ** 九番 ->九番 ---")));
    EXPECT_TRUE(lib.backups().isEmpty());
    EXPECT_TRUE(preview.mediaPath().isEmpty()); // the preview let go of the renamed video
}

TEST_F(EditingTest, RefusedChangesLeaveListAndSrcInStep)
{
    lib.writeVideo(QStringLiteral("100007"), 10); // a stray file under a free number
    const QByteArray before = lib.listBytes();
    const QStringList srcBefore = lib.srcFiles();
    const QString logBefore = library.log().text();
    selectNumber(100005);

    EXPECT_EQ(library.change(QStringLiteral("100002"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(library.change(QStringLiteral("100007"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(library.change(QStringLiteral("999999"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(library.change(QStringLiteral("abc"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(library.change(QStringLiteral("100006"), QStringLiteral("😀"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(prompts.messages.size(), 5);
    EXPECT_TRUE(prompts.confirmTexts.isEmpty());

    prompts.confirmations = {false};
    EXPECT_EQ(library.change(QStringLiteral("100006"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    // An entry gone from the list behind the window's back is neither renumbered nor deleted.
    TempLibrary::writeBytes(lib.paths.songList(), encodeCp932(u" 100002 \r\n二番\r\n 100009 \r\n九番\r\n"));
    EXPECT_EQ(library.change(QStringLiteral("100006"), QStringLiteral("x"), true), Library::EditOutcome::Unchanged);
    EXPECT_EQ(library.remove(true), Library::EditOutcome::Unchanged);
    TempLibrary::writeBytes(lib.paths.songList(), before);

    EXPECT_EQ(lib.listBytes(), before);
    EXPECT_EQ(lib.srcFiles(), srcBefore);
    EXPECT_EQ(library.log().text(), logBefore);
    EXPECT_TRUE(lib.backups().isEmpty());
    EXPECT_TRUE(library.editFrame().selected); // still selected after a refusal
}

TEST_F(EditingTest, ChangingKeepsTheBytesOfOtherTitles)
{
    TempLibrary::writeBytes(lib.paths.songList(), QByteArray(" 100002 \r\nbad \x81\r\n 100005 \r\nok\r\n"));
    library.refreshSongs();
    selectNumber(100005);
    ASSERT_EQ(library.change(QStringLiteral("100003"), QStringLiteral("ok"), false), Library::EditOutcome::Done);
    EXPECT_EQ(lib.listBytes(), QByteArray(" 100002 \r\nbad \x81\r\n 100003 \r\nok\r\n"));

    // Renumbering the entry whose title does not decode keeps its bytes too.
    selectNumber(100002);
    ASSERT_EQ(library.change(QStringLiteral("100004"), library.editFrame().newTitle, false),
              Library::EditOutcome::Done);
    EXPECT_EQ(lib.listBytes(), QByteArray(" 100003 \r\nok\r\n 100004 \r\nbad \x81\r\n"));
}

TEST_F(EditingTest, SkippedListLinesAreShownAndNeitherChangeNorDeleteRewritesTheList)
{
    const QByteArray list = encodeCp932(u" 100002 \r\n二番\r\nabc\r\n五番\r\n 100009 \r\n九番\r\n");
    TempLibrary::writeBytes(lib.paths.songList(), list);
    Library opened{lib.paths, clock, prompts, preview};
    opened.load();
    EXPECT_EQ(
        logLines(opened.log()).mid(1),
        (QStringList{DropHereLine, QStringLiteral("--- 注意: 3行目「abc」は曲番号ではないので読み飛ばしました ---")}));

    ASSERT_TRUE(opened.select(0));
    EXPECT_EQ(opened.change(QStringLiteral("100003"), QStringLiteral("x"), false), Library::EditOutcome::Unchanged);
    EXPECT_EQ(opened.remove(false), Library::EditOutcome::Unchanged);
    EXPECT_EQ(prompts.messages.size(), 2);
    EXPECT_TRUE(prompts.confirmTexts.isEmpty());
    EXPECT_EQ(lib.listBytes(), list);
    EXPECT_TRUE(videoExists("100002"));
}

TEST_F(EditingTest, NumberLinesARewriteWouldChangeAreShownAndNeitherChangeNorDeleteRewritesTheList)
{
    // Each is read leniently as a number, but a rewrite would write another line in its place.
    const QByteArray oddLines[] = {
        QByteArray(" 100\000005 ", 9), "1e5", " 100005 abc", "+100005", " 100 005", "100005.0"};
    for (const QByteArray& odd : oddLines) {
        SCOPED_TRACE(odd.toStdString());
        const QByteArray list = " 100002 \r\nA\r\n" + odd + "\r\nB\r\n 100009 \r\nC\r\n";
        TempLibrary::writeBytes(lib.paths.songList(), list);
        Library opened{lib.paths, clock, prompts, preview};
        opened.load();
        EXPECT_TRUE(logLines(opened.log()).join(u'\n').contains(QStringLiteral("--- 注意: 3行目")));
        ASSERT_TRUE(opened.select(0));
        prompts.messages.clear();
        EXPECT_EQ(opened.change(QStringLiteral("100003"), QStringLiteral("x"), false), Library::EditOutcome::Unchanged);
        EXPECT_EQ(opened.remove(false), Library::EditOutcome::Unchanged);
        EXPECT_EQ(prompts.messages.size(), 2);
        EXPECT_EQ(lib.listBytes(), list);
    }
    EXPECT_TRUE(prompts.confirmTexts.isEmpty());
}

TEST_F(EditingTest, DeletingRemovesTheEntryAndItsVideo)
{
    selectNumber(100005);
    prompts.confirmations = {false};
    EXPECT_EQ(library.remove(true), Library::EditOutcome::Unchanged);
    EXPECT_TRUE(videoExists("100005"));
    EXPECT_EQ(lib.listNumbers().size(), 3);

    ASSERT_EQ(library.remove(true), Library::EditOutcome::Done);
    EXPECT_EQ(prompts.confirmTexts.last(), QStringLiteral("削除しますか？\r\n削除すると復元できません"));
    EXPECT_EQ(lib.listBytes(), encodeCp932(u" 100002 \r\n二番\r\n 100009 \r\n九番\r\n"));
    EXPECT_FALSE(videoExists("100005"));
    EXPECT_EQ(logLines(library.log()).mid(0, 4),
              (QStringList{QStringLiteral("--- All files:2Count (0MB : 0GB) ---"), DropHereLine,
                           QStringLiteral("--- Finish Delete ---"), QStringLiteral("--- Delete:100005 ** 五番 ---")}));
    EXPECT_EQ(library.songs().size(), 2);
    EXPECT_EQ(lib.backups().size(), 1);
    EXPECT_FALSE(library.editFrame().selected);
    EXPECT_EQ(library.remove(true), Library::EditOutcome::Unchanged); // nothing selected any more
}

} // namespace
