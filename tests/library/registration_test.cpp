#include "library/libraryfixture.h"

#include "library/entryrules.h"
#include "library/registration.h"
#include "support/fakeclock.h"
#include "support/killtest.h"

#include "common/savefile.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarv;
using namespace tarv::test;

namespace {

class RegistrationTest : public ::testing::Test
{
protected:
    TempLibrary lib;
    FakeClock clock;
    ScriptedPrompts prompts;
    OperatorLog log;

    // Runs a whole drop as the window does: begin, then one step per file.
    Registration::State drop(const QStringList& files, RegistrationOptions options = {})
    {
        Registration registration(lib.paths, clock, prompts, log, files, options);
        if (registration.begin()) {
            while (registration.running())
                registration.step();
        }
        lastRefresh = registration.refreshLists();
        return registration.state();
    }

    bool lastRefresh = false;
};

TEST_F(RegistrationTest, TwoFileDropWritesTheLogLinesInOrderAndRegistersBoth)
{
    log.addLine(QStringLiteral("earlier"));
    const QString a = lib.makeSource(QStringLiteral("夜明けの歌.mp4"), 3 * 1024 * 1024 / 2); // 1.5 MB
    const QString b = lib.makeSource(QStringLiteral("song.avi"), 1000);
    prompts.answers = {QStringLiteral("100001")};

    EXPECT_EQ(drop({a, b}), Registration::State::Finished);

    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(prompts.questions[0].prompt, QStringLiteral("First Name No?\r\nnnnnnn"));
    EXPECT_EQ(prompts.questions[0].title, QStringLiteral("InputFirstFileNo"));
    EXPECT_EQ(prompts.questions[0].defaultAnswer, QStringLiteral("100001"));
    const QStringList expected = {
        QStringLiteral("--- All files:2Count (1.5MB : 0GB) ---"),
        QStringLiteral("File(s) Drop Here!"),
        QStringLiteral("--- Finish Process ---"),
        QStringLiteral("--- Finish:2/2 (0MB) ---"),
        QStringLiteral("100002|song"),
        QStringLiteral("--- Finish:1/2 (1.5MB) ---"),
        QStringLiteral("100001|夜明けの歌"),
        QStringLiteral("--- Start Process ---"),
        QStringLiteral("earlier"),
    };
    EXPECT_EQ(logLines(log), expected);
    EXPECT_EQ(lib.listBytes(), encodeCp932(u" 100001 \r\n夜明けの歌\r\n 100002 \r\nsong\r\n"));
    EXPECT_EQ(lib.srcFiles(), (QStringList{QStringLiteral("100001"), QStringLiteral("100002")}));
    EXPECT_TRUE(TempLibrary::readBytes(lib.paths.video(QStringLiteral("100002"))).startsWith("song.avi"));
    EXPECT_FALSE(QFileInfo::exists(a)); // SauceDelete is on by default
    EXPECT_FALSE(QFileInfo::exists(b));
    EXPECT_EQ(lib.backups(), QStringList{QStringLiteral("20260314210509.txt")}); // same second: one file
    EXPECT_EQ(TempLibrary::readBytes(lib.paths.backupDir() + QStringLiteral("/20260314210509.txt")), lib.listBytes());
    EXPECT_TRUE(lastRefresh);
}

TEST_F(RegistrationTest, AutomaticNumberingTakesTheNextFreeNumberPerFile)
{
    lib.writeList({{100003, QStringLiteral("c")}, {100001, QStringLiteral("a")}});
    prompts.answers = {QStringLiteral("100001")};
    const QStringList files = {lib.makeSource(QStringLiteral("one.mp4")), lib.makeSource(QStringLiteral("two.mp4")),
                               lib.makeSource(QStringLiteral("three.mp4"))};

    drop(files);

    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100002, 100003, 100004, 100005}));
    const QStringList lines = logLines(log);
    EXPECT_TRUE(lines.contains(QStringLiteral("100002|one")));
    EXPECT_TRUE(lines.contains(QStringLiteral("100004|two")));
    EXPECT_TRUE(lines.contains(QStringLiteral("100005|three")));
}

TEST_F(RegistrationTest, TitlesComeFromFileNamesAndTheListStaysOrdered)
{
    lib.writeList({{200000, QStringLiteral("later")}});
    prompts.answers = {QStringLiteral("100000")};
    drop({lib.makeSource(QStringLiteral("song.mp4")), lib.makeSource(QStringLiteral("song.mpeg")),
          lib.makeSource(QStringLiteral("ab")), lib.makeSource(QStringLiteral("line\nbreak.mp4"))});

    const QList<Song> songs = loadSongList(lib.paths.songList()).songs;
    ASSERT_EQ(songs.size(), 5);
    EXPECT_EQ(songs[0].title(), QStringLiteral("song"));
    EXPECT_EQ(songs[1].title(), QStringLiteral("song."));      // a four-letter extension keeps its dot
    EXPECT_EQ(songs[2].title(), QStringLiteral("ab"));         // too short to lose four characters
    EXPECT_EQ(songs[3].title(), QStringLiteral("line break")); // a line break would split the entry
    EXPECT_EQ(songs[4].number, 200000);
    EXPECT_EQ(songs[0].number, 100000);
}

TEST_F(RegistrationTest, WithoutSauceDeleteAndAutoSaveTheSourceStaysAndNoBackupIsTaken)
{
    const QString kept = lib.makeSource(QStringLiteral("keep.mp4"));
    prompts.answers = {QStringLiteral("100001")};
    drop({kept}, RegistrationOptions{true, false, false});
    EXPECT_TRUE(QFileInfo::exists(kept));
    EXPECT_TRUE(QFileInfo::exists(lib.paths.video(QStringLiteral("100001"))));
    EXPECT_TRUE(lib.backups().isEmpty());
}

TEST_F(RegistrationTest, ManualNumberingAsksBothQuestionsAgainUntilTheNumberIsFree)
{
    lib.writeList({{100001, QStringLiteral("taken")}});
    const QString file = lib.makeSource(QStringLiteral("mine.mp4"));
    prompts.answers = {QStringLiteral("100001"), QStringLiteral("first try"),  // taken: asked again
                       QStringLiteral("12345"),  QStringLiteral("second try"), // not a song number: refused
                       QStringLiteral("100007"), QStringLiteral("My Song")};

    EXPECT_EQ(drop({file}, RegistrationOptions{false, true, false}), Registration::State::Finished);

    ASSERT_EQ(prompts.questions.size(), 6);
    EXPECT_EQ(prompts.questions[0].prompt, QStringLiteral("FileNo?\r\n") + file);
    EXPECT_EQ(prompts.questions[0].title, QStringLiteral("InputFileNo"));
    EXPECT_EQ(prompts.questions[1].prompt, QStringLiteral("FileTitle?\r\n") + file);
    EXPECT_EQ(prompts.questions[1].title, QStringLiteral("InputFileTitle"));
    EXPECT_EQ(prompts.questions[1].defaultAnswer, QStringLiteral("mine"));
    EXPECT_EQ(prompts.messages.size(), 1); // only the refused number; a taken one asks again silently
    EXPECT_EQ(logLines(log).count(StartProcessLine), 2);
    EXPECT_EQ(logLines(log).mid(2, 4),
              (QStringList{QStringLiteral("--- Finish Process ---"), QStringLiteral("--- Finish:1/1 (0MB) ---"),
                           QStringLiteral("100007|My Song"), StartProcessLine}));
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100007}));
}

TEST_F(RegistrationTest, CancelAtAQuestionKeepsWhatWasRegisteredAndLeavesTheListsAlone)
{
    const QString a = lib.makeSource(QStringLiteral("a.mp4"));
    const QString b = lib.makeSource(QStringLiteral("b.mp4"));
    prompts.answers = {QStringLiteral("abc"), QString()}; // refused, then Cancel at the first number
    EXPECT_EQ(drop({a, b}), Registration::State::Cancelled);
    EXPECT_EQ(prompts.messages.last(), QStringLiteral("Cancel"));
    EXPECT_EQ(logLines(log), QStringList{CancelLine});
    EXPECT_TRUE(lib.srcFiles().isEmpty());

    prompts.answers = {QStringLiteral("100001"), QStringLiteral("A"), QStringLiteral("100002")}; // no title: Cancel
    EXPECT_EQ(drop({a, b}, RegistrationOptions{false, true, false}), Registration::State::Cancelled);
    EXPECT_EQ(logLines(log).first(), CancelLine);
    EXPECT_FALSE(logLines(log).contains(QStringLiteral("--- Finish Process ---")));
    EXPECT_EQ(lib.listNumbers(), QList<qint64>{100001});
    EXPECT_TRUE(QFileInfo::exists(b));
    EXPECT_FALSE(lastRefresh);
}

TEST_F(RegistrationTest, NumberingStopsAtTheHighestSongNumberKeepingWhatWasRegistered)
{
    lib.writeList({{999997, QStringLiteral("x")}});
    prompts.answers = {QStringLiteral("999997")};
    const QString a = lib.makeSource(QStringLiteral("a.mp4"));
    const QString b = lib.makeSource(QStringLiteral("b.mp4"));

    EXPECT_EQ(drop({a, b}), Registration::State::Stopped);

    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{999997, 999998}));
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(logLines(log).first().startsWith(QStringLiteral("--- Stop:")));
    EXPECT_TRUE(QFileInfo::exists(b));
    EXPECT_TRUE(lastRefresh);
}

TEST_F(RegistrationTest, FoldersAndMissingFilesAreLoggedAndSkipped)
{
    QDir().mkpath(lib.dropDir() + QStringLiteral("/folder"));
    const QString good = lib.makeSource(QStringLiteral("good.mp4"));
    prompts.answers = {QStringLiteral("100001")};

    drop({lib.dropDir() + QStringLiteral("/folder"), lib.dropDir() + QStringLiteral("/missing.mp4"), good});

    const QStringList lines = logLines(log);
    EXPECT_EQ(lines.filter(QStringLiteral("--- Skip:")).size(), 2);
    EXPECT_TRUE(lines.contains(QStringLiteral("--- Finish:3/3 (0MB) ---")));
    EXPECT_TRUE(lines.contains(QStringLiteral("100003|good")));
    EXPECT_EQ(lib.listNumbers(), QList<qint64>{100003});
    EXPECT_TRUE(QFileInfo::exists(lib.dropDir() + QStringLiteral("/folder")));
}

TEST_F(RegistrationTest, VideosAlreadyInSrcAreNeverDeletedAsSources)
{
    lib.writeList({{100001, QStringLiteral("listed")}});
    lib.writeVideo(QStringLiteral("100001"), 4000);
    lib.writeVideo(QStringLiteral("100005"), 5000);

    // A stray video registered under its own name stays where it is.
    prompts.answers = {QStringLiteral("100005"), QStringLiteral("stray")};
    drop({lib.paths.video(QStringLiteral("100005"))}, RegistrationOptions{false, true, false});
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100005}));
    EXPECT_EQ(QFileInfo(lib.paths.video(QStringLiteral("100005"))).size(), 5000);

    // A listed song's video dropped again is copied under a new number; the song keeps its video.
    prompts.answers = {QStringLiteral("100001")};
    drop({lib.paths.video(QStringLiteral("100001"))});
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100002, 100005}));
    EXPECT_EQ(QFileInfo(lib.paths.video(QStringLiteral("100001"))).size(), 4000);
    EXPECT_EQ(QFileInfo(lib.paths.video(QStringLiteral("100002"))).size(), 4000);
    EXPECT_EQ(logLines(log).filter(QStringLiteral("--- 注意:")).size(), 1);
}

TEST_F(RegistrationTest, AVideoTheListDoesNotNameIsNeverReplaced)
{
    lib.writeVideo(QStringLiteral("100001"), 4000); // in src/ but not in the list
    lib.writeVideo(QStringLiteral("100003"), 5000);
    const QString a = lib.makeSource(QStringLiteral("a.mp4"));
    const QString b = lib.makeSource(QStringLiteral("b.mp4"));
    prompts.answers = {QStringLiteral("100001")};
    EXPECT_EQ(drop({a, b}), Registration::State::Finished);
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100002, 100004}));

    const QString c = lib.makeSource(QStringLiteral("c.mp4"));
    prompts.answers = {QStringLiteral("100003"), QStringLiteral("C"), QStringLiteral("100005"), QStringLiteral("C")};
    EXPECT_EQ(drop({c}, RegistrationOptions{false, true, false}), Registration::State::Finished);
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("src に 100003 という名前のファイルが既にあります。")});
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100002, 100004, 100005}));
    EXPECT_EQ(QFileInfo(lib.paths.video(QStringLiteral("100001"))).size(), 4000);
    EXPECT_EQ(QFileInfo(lib.paths.video(QStringLiteral("100003"))).size(), 5000);
}

TEST_F(RegistrationTest, AListWithSkippedLinesIsNeverRewritten)
{
    const QByteArray list(" 100001 \r\nA\r\nabc\r\nB\r\n");
    TempLibrary::writeBytes(lib.paths.songList(), list);
    const QString file = lib.makeSource(QStringLiteral("new.mp4"));
    prompts.answers = {QStringLiteral("100001")};

    EXPECT_EQ(drop({file}), Registration::State::Stopped);

    EXPECT_EQ(lib.listBytes(), list);
    EXPECT_TRUE(lib.srcFiles().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(file));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("3行目「abc」")));
}

TEST(EntryRules, SongNumbersAreWholeNumbersInTheSongRange)
{
    EXPECT_EQ(parseSongNumber(QStringLiteral("100000")), 100000);
    EXPECT_EQ(parseSongNumber(QStringLiteral(" 999998 ")), 999998);
    EXPECT_FALSE(parseSongNumber(QStringLiteral("999999")));
    EXPECT_FALSE(parseSongNumber(QStringLiteral("99999")));
    EXPECT_FALSE(parseSongNumber(QStringLiteral("1e5")));
    EXPECT_FALSE(parseSongNumber(QStringLiteral("１００００１")));
    EXPECT_TRUE(badSongNumberMessage(QStringLiteral("%2")).startsWith(QStringLiteral("「%2」")));
}

} // namespace

// A drop killed at a random moment (between or inside copies, list writes, notes and source
// deletions): after the recovery that the next start runs, every numbered video in src/ is listed,
// every listed song has its video, and every dropped video is still in the drop folder or listed.
TEST(RegistrationCrashTest, AKilledDropLeavesTheListAndSrcConsistentAndLosesNoVideo)
{
    for (int round = 0; round < 4; ++round) {
        TempLibrary lib;
        lib.writeList({{100001, QStringLiteral("既存")}});
        TempLibrary::writeBytes(lib.paths.video(QStringLiteral("100001")), "old");
        QStringList files;
        for (int i = 0; i < 200; ++i)
            files << lib.makeSource(QStringLiteral("曲%1.mp4").arg(i), 64 * 1024);

        runAndKill(
            [&] {
                FakeClock clock;
                ScriptedPrompts prompts;
                prompts.answers = {QStringLiteral("100001")};
                OperatorLog log;
                Registration registration(lib.paths, clock, prompts, log, files, {});
                if (registration.begin()) {
                    while (registration.running())
                        registration.step();
                }
            },
            20000, 1500000);

        EXPECT_TRUE(recoverInterruptedChanges(lib.paths).error.isEmpty());
        QStringList listed;
        QSet<QByteArray> listedVideos;
        for (const Song& song : loadSongList(lib.paths.songList()).songs) {
            listed << song.numberText();
            listedVideos << TempLibrary::readBytes(lib.paths.video(song.numberText()));
        }
        QStringList videos = QDir(lib.paths.srcDir()).entryList(QDir::Files, QDir::Name);
        videos.removeIf(isSaveTemporaryName);
        EXPECT_EQ(videos, listed) << "round " << round;
        EXPECT_FALSE(QFileInfo::exists(pendingCopiesFile(lib.paths)));
        for (int i = 0; i < files.size(); ++i) {
            QByteArray content = QStringLiteral("曲%1.mp4").arg(i).toUtf8(); // as makeSource() writes it
            content += QByteArray(64 * 1024 - content.size(), 'x');
            const bool kept = QFileInfo::exists(files.at(i)) || listedVideos.contains(content);
            EXPECT_TRUE(kept) << "round " << round << ": video " << i << " lost";
        }
    }
}
