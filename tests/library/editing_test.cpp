#include "library/libraryfixture.h"

#include "library/library.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "support/killtest.h"

#include "library/recovery.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

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

// A number listed twice: each entry is edited or deleted alone, and the video both show stays.
TEST_F(EditingTest, OneOfTwoEntriesUnderOneNumberIsEditedAlone)
{
    struct Row
    {
        const char* name;
        int row; // in the list as read
        std::function<Library::EditOutcome(Library&)> edit;
        const char16_t* list; // afterwards
    };
    const Row rows[] = {
        {"the second's title", 2,
         [](Library& l) { return l.change(QStringLiteral("100005"), QStringLiteral("新"), false); },
         u" 100002 \r\n二番\r\n 100005 \r\n五番\r\n 100005 \r\n新\r\n"},
        {"the first's title", 1,
         [](Library& l) { return l.change(QStringLiteral("100005"), QStringLiteral("新"), false); },
         u" 100002 \r\n二番\r\n 100005 \r\n新\r\n 100005 \r\n別の五番\r\n"},
        {"the second deleted", 2, [](Library& l) { return l.remove(false); },
         u" 100002 \r\n二番\r\n 100005 \r\n五番\r\n"},
        {"the first deleted", 1, [](Library& l) { return l.remove(false); },
         u" 100002 \r\n二番\r\n 100005 \r\n別の五番\r\n"},
        // Renumbered, one of them would take the video the other still shows.
        {"the second renumbered: refused", 2,
         [](Library& l) { return l.change(QStringLiteral("100006"), QStringLiteral("別の五番"), false); }, nullptr},
    };
    const QByteArray before = encodeCp932(u" 100002 \r\n二番\r\n 100005 \r\n五番\r\n 100005 \r\n別の五番\r\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempLibrary::writeBytes(lib.paths.songList(), before);
        library.refreshSongs();
        ASSERT_TRUE(library.select(row.row));
        const auto outcome = row.edit(library);
        EXPECT_EQ(outcome, row.list ? Library::EditOutcome::Done : Library::EditOutcome::Unchanged);
        EXPECT_EQ(lib.listBytes(), row.list ? encodeCp932(row.list) : before);
        EXPECT_EQ(lib.srcFiles(),
                  (QStringList{QStringLiteral("100002"), QStringLiteral("100005"), QStringLiteral("100009")}));
    }
}

// Each note a kill can leave, against what the list says: the list decides whether the change was
// done, and src/ is brought in step with it.
TEST(RecoveryTest, EachNoteIsSettledByWhatTheListSays)
{
    struct Row
    {
        const char* name;
        std::function<void(TempLibrary&)> left; // what the kill left
        QList<qint64> listed;                   // afterwards, each with its video and nothing else
    };
    const auto copy = [](TempLibrary& lib, qint64 number, bool sourceKept) {
        const QString source = lib.makeSource(QStringLiteral("新曲.mp4"));
        ASSERT_TRUE(QFile::copy(source, lib.paths.video(QString::number(number))));
        if (!sourceKept)
            QFile::remove(source);
        ASSERT_TRUE(notePendingCopies(lib.paths, {{number, "\x90\x56\x8B\xC8", source}}).isEmpty()); // 新曲
    };
    const Row rows[] = {
        {"copy with its source: undone", [&](TempLibrary& lib) { copy(lib, 100003, true); }, {100001}},
        {"copy without its source: listed", [&](TempLibrary& lib) { copy(lib, 100003, false); }, {100001, 100003}},
        {"renumber not written: video back",
         [](TempLibrary& lib) {
             QFile::rename(lib.paths.video(QStringLiteral("100001")), lib.paths.video(QStringLiteral("100007")));
             notePendingEdit(lib.paths, {PendingEdit::Kind::Renumber, 100001, 100007});
         },
         {100001}},
        {"renumber written: video follows",
         [](TempLibrary& lib) {
             lib.writeList({{100007, QStringLiteral("一番")}});
             notePendingEdit(lib.paths, {PendingEdit::Kind::Renumber, 100001, 100007});
         },
         {100007}},
        {"delete written: video goes",
         [](TempLibrary& lib) {
             lib.writeList({});
             notePendingEdit(lib.paths, {PendingEdit::Kind::Delete, 100001, 0});
         },
         {}},
        {"delete not written: video stays",
         [](TempLibrary& lib) {
             notePendingEdit(lib.paths, {PendingEdit::Kind::Delete, 100001, 0});
         },
         {100001}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempLibrary lib;
        lib.writeList({{100001, QStringLiteral("一番")}});
        lib.writeVideo(QStringLiteral("100001"));
        row.left(lib);
        const Recovery recovery = recoverInterruptedChanges(lib.paths);
        EXPECT_TRUE(recovery.error.isEmpty());
        EXPECT_EQ(lib.listNumbers(), row.listed);
        QStringList videos;
        for (qint64 number : row.listed)
            videos << QString::number(number);
        EXPECT_EQ(lib.srcFiles(), videos);
        EXPECT_FALSE(QFileInfo::exists(pendingCopiesFile(lib.paths)) || QFileInfo::exists(pendingEditFile(lib.paths)));
        if (row.listed.contains(100003)) {
            EXPECT_EQ(loadSongList(lib.paths.songList()).songs.last().title(), QStringLiteral("新曲"));
        }
    }
}

// Renumbers and deletes killed at random moments: after the next start's recovery the list and
// src/ name the same songs.
TEST(EditCrashTest, AKilledRenumberOrDeleteLeavesTheListAndSrcConsistent)
{
    for (int round = 0; round < 6; ++round) {
        TempLibrary lib;
        QList<std::pair<qint64, QString>> entries;
        for (int i = 0; i < 300; ++i) {
            entries.append({100001 + i, QStringLiteral("曲%1").arg(i)});
            lib.writeVideo(QString::number(100001 + i), 100);
        }
        lib.writeList(entries);

        runAndKill(
            [&] {
                FakeClock clock;
                ScriptedPrompts prompts;
                FakePlayer preview;
                Library library(lib.paths, clock, prompts, preview);
                library.load();
                // Each song in turn: renumbered to 2xxxxx, then the next one deleted.
                for (int i = 0; i + 1 < 300; i += 2) {
                    library.select(0);
                    library.change(QString::number(200001 + i), QStringLiteral("曲"), false);
                    library.select(0);
                    library.remove(false);
                }
            },
            5000, 400000);

        EXPECT_TRUE(recoverInterruptedChanges(lib.paths).error.isEmpty());
        QStringList listed;
        for (qint64 number : lib.listNumbers())
            listed << QString::number(number);
        listed.sort();
        EXPECT_EQ(lib.srcFiles(), listed) << "round " << round;
    }
}

} // namespace
