#include "stagefixture.h"

using namespace tarv;
using namespace tarv::test;


class Posting : public StageTest
{
protected:
    // Reserve three songs while one plays, so they queue up.
    void queue3()
    {
        main.setMediaPath(QStringLiteral("playing"));
        main.play();
        run(QStringLiteral("100001"));
        run(QStringLiteral("100002"));
        run(QStringLiteral("100003"));
    }
};

TEST_F(Posting, PostShowsAtOnceAndActsOnceOnTheEventLoop)
{
    stage.post(QStringLiteral("000014"));
    EXPECT_EQ(stage.codeSlot(), QStringLiteral("000014"));
    EXPECT_TRUE(stage.isShowing());
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(stage.statusText(), QStringLiteral("label")); // not yet: the poster's handler runs first
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(main.position(), 5);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(main.position(), 5);
}

TEST_F(Posting, RepeatAfterNextSongOnlySetsTheColour)
{
    queue3();
    main.stop();
    run(QStringLiteral("000003"));
    EXPECT_EQ(stage.codeSlot(), QStringLiteral("000004"));
    const QStringList calls = main.calls;
    const int restarts = view.restarts;
    stage.Form_Activate();
    EXPECT_EQ(main.calls, calls);
    EXPECT_EQ(stage.queue().size(), 2);
    EXPECT_EQ(view.restarts, restarts);
    EXPECT_EQ(stage.statusColour(), StatusColour::White);
}

TEST_F(Posting, RepeatAfterReviewStartStepsTheReview)
{
    queue3();
    run(QStringLiteral("000012"));
    EXPECT_EQ(stage.codeSlot(), QStringLiteral("000007"));
    stage.Form_Activate();
    EXPECT_TRUE(stage.statusText().startsWith(QStringLiteral("予確(2/3)：")));
}

TEST_F(Posting, RepeatAfterFastForwardSkipsAgain)
{
    main.setMediaPath(QStringLiteral("x"));
    main.play();
    run(QStringLiteral("000014"));
    stage.Form_Activate();
    EXPECT_DOUBLE_EQ(main.position(), 10);
}

TEST_F(Posting, OneCharacterAndTenAreVolumeStepsElevenIsASongNumber)
{
    run(QStringLiteral("1"));
    EXPECT_EQ(main.volume(), 10);
    EXPECT_EQ(second.volume(), 10);
    EXPECT_EQ(stage.statusText(), QStringLiteral("音量：10%"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    run(QStringLiteral("10"));
    EXPECT_EQ(main.volume(), 100);
    EXPECT_EQ(second.volume(), 100);
    EXPECT_EQ(stage.statusText(), QStringLiteral("音量：100%"));
    run(QStringLiteral("11"));
    EXPECT_EQ(main.volume(), 100);
    EXPECT_EQ(stage.statusText(), QStringLiteral("Not Found!"));
}

TEST_F(Posting, SimpleMessages)
{
    run(QStringLiteral("000001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Code Error!"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    run(QStringLiteral("000006"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("この曲の再生を終了しますか？Y:44 N:NoTouch"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Red);
    stage.setCurrentUser(QStringLiteral("ユキ"));
    run(QStringLiteral("000017"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("ユキさんがログインしました"));
    EXPECT_EQ(view.restarts, 3);
}

// --- Start banner -------------------------------------------------------------------------------

using StartBanner = StageTest;

TEST_F(StartBanner, LocalStartCountsSongsAndPlaysTheIntro)
{
    run(QStringLiteral("000000"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Tarv Active... System Version:1.00 MovieCount:3"));
    EXPECT_EQ(stage.statusColour(), StatusColour::White);
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("000000")));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(view.restarts, 0); // started, not restarted
    EXPECT_TRUE(view.hideDue.has_value());
}

TEST_F(StartBanner, TimeSignalSuffixOnlyInLocalStart)
{
    environment.timeSignals = true;
    run(QStringLiteral("000000"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Tarv Active... System Version:1.00 MovieCount:3 -時報有効"));
    environment.mode = QStringLiteral("192.168.1.20");
    run(QStringLiteral("000000"));
    EXPECT_EQ(stage.statusText(),
              QStringLiteral("WirelessMode Active... System Version:1.00 MovieCount:3 ConnectionIP:192.168.1.20"));
}

TEST_F(StartBanner, MissingSongListCountsNothingAndFindsNothing)
{
    QFile::remove(dir.filePath(QStringLiteral("db/musiclist.txt")));
    run(QStringLiteral("000000"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Tarv Active... System Version:1.00 MovieCount:0"));
    run(QStringLiteral("100001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Not Found!"));
}

// --- Reservations -------------------------------------------------------------------------------

using Reserve = StageTest;

TEST_F(Reserve, NotFoundChangesNothingButTheStatus)
{
    run(QStringLiteral("123456"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Not Found!"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    EXPECT_TRUE(stage.queue().isEmpty());
    EXPECT_TRUE(main.calls.isEmpty());
    EXPECT_EQ(view.restarts, 1);
}

TEST_F(Reserve, IdleAndEmptyPlaysAtOnce)
{
    run(QStringLiteral("100002"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("再生：(100002) - 海の声"));
    EXPECT_EQ(stage.nowPlaying().text(), QStringLiteral("100002 | 海の声"));
    EXPECT_EQ(stage.nowPlaying().user, QStringLiteral("Guest"));
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("100002")));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_TRUE(stage.queue().isEmpty());
    EXPECT_EQ(stage.pendingCount(), 0);
    EXPECT_EQ(stage.currentUser(), QStringLiteral("Guest"));
}

TEST_F(Reserve, WhilePlayingAppendsEvenToAnEmptyQueue)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    stage.setCurrentUser(QStringLiteral("ユキ"));
    run(QStringLiteral("100001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予受(1)：(100001) - ユキ - 夜明けの歌"));
    ASSERT_EQ(stage.queue().size(), 1);
    EXPECT_EQ(stage.queue()[0].user, QStringLiteral("ユキ"));
    EXPECT_EQ(stage.pendingCount(), 1);
    EXPECT_EQ(stage.currentUser(), QString());
    EXPECT_EQ(main.mediaPath(), QStringLiteral("song"));
    // The user was cleared: the next one without a name shows an empty name part.
    run(QStringLiteral("100001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予受(2)：(100001) -  - 夜明けの歌"));
    EXPECT_EQ(stage.queue().size(), 2);
}

TEST_F(Reserve, LaterOfTwoEqualNumbersWinsAndNumbersCompareByValue)
{
    writeSongs({QStringLiteral("100001"), QStringLiteral("古い題"), QStringLiteral(" 0100001 "),
                QStringLiteral("新しい題"), QStringLiteral(" 100002 ")});
    run(QStringLiteral("100001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("再生：(100001) - 新しい題"));
    run(QStringLiteral("100002")); // a number line alone at the end is no entry
    EXPECT_EQ(stage.statusText(), QStringLiteral("Not Found!"));
    run(QStringLiteral("000000"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Tarv Active... System Version:1.00 MovieCount:2"));
}

TEST_F(Reserve, EditedSongListIsReadAgain)
{
    run(QStringLiteral("100004"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Not Found!"));
    writeSongs({QStringLiteral(" 100004 "), QStringLiteral("新曲")});
    run(QStringLiteral("100004"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("再生：(100004) - 新曲"));
}

TEST_F(Reserve, OnlyTheNumberNamesTheVideo)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    run(QStringLiteral("100001/../../etc/x"));
    ASSERT_EQ(stage.queue().size(), 1);
    main.stop();
    run(QStringLiteral("000003"));
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("100001")));
}

// --- Next song, review, cancel and moves --------------------------------------------------------

using Queue = Posting;

TEST_F(Queue, NextSongOnEmptyQueueDoesNothingAtAll)
{
    run(QStringLiteral("000001"));
    const int changes = view.statusChanges;
    run(QStringLiteral("000003"));
    EXPECT_EQ(view.statusChanges, changes);
    EXPECT_EQ(view.restarts, 1);
    EXPECT_EQ(stage.codeSlot(), QStringLiteral("000003"));
}

TEST_F(Queue, NextSongTakesTheFirstEntry)
{
    stage.setCurrentUser(QStringLiteral("ユキ"));
    queue3();
    main.stop();
    run(QStringLiteral("000003"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("再生：(100001) - ユキ - 夜明けの歌"));
    EXPECT_EQ(stage.nowPlaying().text(), QStringLiteral("100001 | 夜明けの歌"));
    EXPECT_EQ(stage.nowPlaying().user, QStringLiteral("ユキ"));
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("100001")));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(stage.pendingCount(), 2);
    EXPECT_EQ(stage.queue()[0].number, QStringLiteral("100002"));
}

TEST_F(Queue, ReviewWrapsAndRestartsAfterCancel)
{
    queue3();
    run(QStringLiteral("000012"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予確(1/3)：(100001) - 夜明けの歌"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Cyan);
    QStringList seen;
    for (int i = 0; i < 3; ++i) {
        run(QStringLiteral("000007"));
        seen << stage.statusText().left(8);
    }
    EXPECT_EQ(seen, (QStringList{QStringLiteral("予確(2/3)："), QStringLiteral("予確(3/3)："),
                                 QStringLiteral("予確(1/3)：")}));
    run(QStringLiteral("000007"));
    run(QStringLiteral("000008"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予消(N/2)：(100002) -  - 海の声"));
    EXPECT_EQ(stage.selectedIndex(), -1);
    EXPECT_EQ(stage.pendingCount(), 2);
    run(QStringLiteral("000007"));
    EXPECT_TRUE(stage.statusText().startsWith(QStringLiteral("予確(1/2)：(100001)")));
}

TEST_F(Queue, CancelNeedsASelectionAndShowsNOverZeroForTheLast)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    run(QStringLiteral("100001"));
    const int changes = view.statusChanges;
    run(QStringLiteral("000008"));
    EXPECT_EQ(view.statusChanges, changes);
    EXPECT_EQ(stage.queue().size(), 1);
    run(QStringLiteral("000012"));
    run(QStringLiteral("000008"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予消(N/0)：(100001) - 夜明けの歌"));
    EXPECT_EQ(stage.pendingCount(), 0);
}

TEST_F(Queue, MoveNewestInAOneEntryQueueOnlyTidiesTheNumber)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    run(QStringLiteral("0100001"));
    EXPECT_EQ(stage.queue()[0].number, QStringLiteral("0100001"));
    run(QStringLiteral("000010"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予割(1/1)：(100001) - 夜明けの歌"));
    EXPECT_EQ(stage.queue()[0].number, QStringLiteral("100001"));
    EXPECT_EQ(stage.pendingCount(), 1);
}

TEST_F(Queue, MoveNewestAndMoveReviewed)
{
    queue3();
    run(QStringLiteral("000010"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予割(1/3)：(100003) -  - 星の道"));
    QStringList order;
    for (const QueueEntry& e : stage.queue())
        order << e.number;
    EXPECT_EQ(order, (QStringList{QStringLiteral("100003"), QStringLiteral("100001"), QStringLiteral("100002")}));

    run(QStringLiteral("000012")); // entry 1 selected: nothing to move
    const int changes = view.statusChanges;
    run(QStringLiteral("000011"));
    EXPECT_EQ(view.statusChanges, changes);
    EXPECT_EQ(stage.selectedIndex(), 0);

    run(QStringLiteral("000007"));
    run(QStringLiteral("000007"));
    run(QStringLiteral("000011"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予割(1/3)：(100002) -  - 海の声"));
    EXPECT_EQ(stage.queue()[0].number, QStringLiteral("100002"));
    EXPECT_EQ(stage.selectedIndex(), -1);
}

// --- Playback actions ---------------------------------------------------------------------------

using Playback = Posting;

TEST_F(Playback, NoReservationsWhileIdleShowsTheIdleScreen)
{
    run(QStringLiteral("000005"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！"));
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("000000")));
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(stage.pendingCount(), -1);
}

TEST_F(Playback, NoReservationsWhilePlayingEmptiesTheFileAndKeepsPlaying)
{
    run(QStringLiteral("100001"));
    EXPECT_FALSE(queueFileBytes().isEmpty());
    run(QStringLiteral("000005"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！"));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("100001")));
    EXPECT_EQ(stage.pendingCount(), 0);
    EXPECT_EQ(queueFileBytes(), QByteArray());
}

TEST_F(Playback, StopWithSongsWaitingKeepsTheStoppedSongInTheFile)
{
    queue3();
    main.stop();
    run(QStringLiteral("000003"));
    run(QStringLiteral("000009"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("この曲の再生を終了します"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Red);
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(main.mediaPath(), video(QStringLiteral("000000")));
    EXPECT_EQ(queueFileLines().value(0), QStringLiteral("100001$夜明けの歌$Guest$ENT"));
    EXPECT_EQ(queueFileLines().size(), 3);
    EXPECT_EQ(stage.pendingCount(), 2);
}

TEST_F(Playback, StopWithNothingWaitingShowsTheEmptyMessage)
{
    run(QStringLiteral("100001"));
    run(QStringLiteral("000009"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("予約曲がありません(´・ω:;.:...  ゆっくりえらんでね！！！"));
    EXPECT_EQ(stage.statusColour(), StatusColour::White);
    EXPECT_EQ(stage.pendingCount(), -1);
    EXPECT_EQ(queueFileBytes(), QByteArray());
}

TEST_F(Playback, SingAgainLimitIsStrict)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    main.advance(15.0);
    run(QStringLiteral("000015"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("歌直：歌いなおししますか？Y:55 N:NoTouch"));
    run(QStringLiteral("000016"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("歌直：歌い直ししました"));
    EXPECT_EQ(main.position(), 0);
    main.advance(15.5);
    run(QStringLiteral("000015"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("歌直：指定時間を過ぎています"));
    run(QStringLiteral("000016"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("歌直：指定時間を過ぎています"));
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    EXPECT_DOUBLE_EQ(main.position(), 15.5);
}

TEST_F(Playback, FastForwardShowsHoursMinutesSeconds)
{
    main.duration = 4000;
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    main.setPosition(3597.2);
    run(QStringLiteral("000014"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("早送：+5sec 01:00:02 / 00:03:00"));
    EXPECT_DOUBLE_EQ(main.position(), 3602.2);
}

TEST_F(Playback, TimeSignalIsOffByDefaultAndUsesTheSecondPlayerWhenOn)
{
    run(QStringLiteral("000013"));
    EXPECT_EQ(view.statusChanges, 0);
    EXPECT_EQ(view.restarts, 0);

    struct OneVideo : TimeSignalSource
    {
        std::optional<QString> chooseVideo() override { return QStringLiteral("001001"); }
    } source;
    environment.timeSignals = true;
    stage.setTimeSignalSource(&source);
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    run(QStringLiteral("000013"));
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(second.mediaPath(), video(QStringLiteral("001001")));
    EXPECT_TRUE(second.isPlaying());
    EXPECT_EQ(stage.statusText(), QStringLiteral("時報 NowTime=21:05 動画の時間と実際の時間は違う場合があります"));
}

// --- Stage timers -------------------------------------------------------------------------------

using Timers = StageTest;

TEST_F(Timers, HidesFiveSecondsAfterTheLastMessage)
{
    run(QStringLiteral("000001"));
    advanceMs(3000);
    run(QStringLiteral("000006"));
    advanceMs(4900);
    EXPECT_TRUE(stage.isShowing());
    advanceMs(100); // 8 s
    EXPECT_FALSE(stage.isShowing());
    EXPECT_FALSE(view.visible);
}

TEST_F(Timers, FarewellFadeFromFullVolumeReachesZeroInFiftyTicks)
{
    run(QStringLiteral("000002"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ"));
    EXPECT_EQ(stage.statusColour(), StatusColour::PaleYellow);
    EXPECT_TRUE(view.fading);
    EXPECT_EQ(stage.fadeFrom(), 100);
    stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 98);
    for (int i = 1; i < 50; ++i)
        stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);
}

TEST_F(Timers, FadeFromSilenceChangesNothingAndNeverGoesBelowZero)
{
    main.setVolume(0);
    run(QStringLiteral("000002"));
    stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);

    main.setVolume(73);
    run(QStringLiteral("000002"));
    for (int i = 0; i < 200; ++i)
        stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);
}

TEST_F(Timers, FadeBeforeTheFarewellStepsByOne)
{
    main.setVolume(40);
    stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 39);
}
