#include "stagefixture.h"

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

class Stage_ : public StageTest
{
protected:
    void playSomething()
    {
        main.setMediaPath(u"song"_s);
        main.play();
    }
    // Three reservations made while a song plays, so they queue up: the first by the given user,
    // the others by nobody in particular (an empty name).
    void queue3(const QString& firstUser = GuestUser.toString())
    {
        playSomething();
        run(u"100001"_s, firstUser);
        run(u"100002"_s, QString());
        run(u"100003"_s, QString());
    }
};

using Posting = Stage_;
using Reserve = Stage_;
using Queue = Stage_;
using Playback = Stage_;
using Timers = Stage_;

TEST_F(Posting, ShowsAtOnceAndActsOnceOnTheEventLoop)
{
    stage.post(Cmd::FastForward{});
    EXPECT_EQ(stage.codeSlot(), u"000014"_s);
    EXPECT_TRUE(stage.isShowing() && view.visible);
    EXPECT_EQ(main.position(), 0); // the poster's handler returns first
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(main.position(), 5);
}

TEST_F(Posting, RepeatedActivationRepeatsTheLastAction)
{
    queue3();
    main.stop();
    run(u"000003"_s);
    EXPECT_EQ(stage.codeSlot(), u"000004"_s);
    const QStringList calls = main.calls;
    const int restarts = view.restarts;
    stage.Form_Activate(); // "000004": colour only
    EXPECT_EQ(main.calls, calls);
    EXPECT_EQ(view.restarts, restarts);
    EXPECT_EQ(stage.queue().size(), 2);

    run(u"000012"_s);
    EXPECT_EQ(stage.codeSlot(), u"000007"_s);
    stage.Form_Activate();
    EXPECT_TRUE(stage.statusText().startsWith(u"予確(2/2)："_s));

    run(u"000014"_s);
    stage.Form_Activate();
    EXPECT_EQ(main.position(), 10);
}

TEST_F(Posting, OneCharacterAndTenAreVolumeStepsElevenIsASongNumber)
{
    run(u"1"_s);
    EXPECT_EQ(stage.statusText(), u"音量：10%"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    EXPECT_EQ(main.volume(), 10);
    EXPECT_EQ(second.volume(), 10);
    run(u"10"_s);
    EXPECT_EQ(main.volume(), 100);
    EXPECT_EQ(second.volume(), 100);
    run(u"11"_s);
    EXPECT_EQ(stage.statusText(), u"Not Found!"_s);
    EXPECT_EQ(main.volume(), 100);
}

TEST_F(Posting, StartBanner)
{
    run(u"000000"_s);
    EXPECT_EQ(stage.statusText(), u"Tarv Active... System Version:1.00 MovieCount:3"_s);
    EXPECT_EQ(main.mediaPath(), video(u"000000"_s));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(view.restarts, 0); // started, not restarted
    EXPECT_TRUE(view.hideDue.has_value());

    state.setTimeSignalsOn(true);
    // Every pair read counts, also one whose number line is no number; a number line alone does not.
    writeSongs({u"100001"_s, u"a"_s, u"x"_s, u"b"_s, u"100002"_s});
    run(u"000000"_s);
    EXPECT_EQ(stage.statusText(), u"Tarv Active... System Version:1.00 MovieCount:2 -時報有効"_s);
    state.setConnectionMode(u"192.168.1.20"_s);
    QFile::remove(dir.filePath(u"db/musiclist.txt"_s));
    main.setMediaPath(QString()); // a control window just loaded
    run(u"000000"_s);
    EXPECT_EQ(stage.statusText(),
              u"WirelessMode Active... System Version:1.00 MovieCount:0 ConnectionIP:192.168.1.20"_s);
    EXPECT_EQ(main.mediaPath(), QString()); // no intro video in wireless mode
}

TEST_F(Reserve, NotFoundChangesNothingButTheStatus)
{
    run(u"123456"_s);
    EXPECT_EQ(stage.statusText(), u"Not Found!"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::Yellow);
    EXPECT_TRUE(stage.queue().isEmpty());
    EXPECT_TRUE(main.calls.isEmpty());
    EXPECT_EQ(view.restarts, 1);
    QFile::remove(dir.filePath(u"db/musiclist.txt"_s));
    run(u"100001"_s);
    EXPECT_EQ(stage.statusText(), u"Not Found!"_s);
}

TEST_F(Reserve, IdleAndEmptyPlaysAtOnce)
{
    run(u"100002"_s);
    EXPECT_EQ(stage.statusText(), u"再生：(100002) - 海の声"_s);
    EXPECT_EQ(stage.nowPlaying().text(), u"100002 | 海の声"_s);
    EXPECT_EQ(stage.nowPlaying().user, u"Guest"_s);
    EXPECT_EQ(main.mediaPath(), video(u"100002"_s));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(stage.pendingCount(), 0);
}

TEST_F(Reserve, WhilePlayingAppendsEvenToAnEmptyQueue)
{
    playSomething();
    run(u"100001"_s, u"ユキ"_s);
    EXPECT_EQ(stage.statusText(), u"予受(1)：(100001) - ユキ - 夜明けの歌"_s);
    EXPECT_EQ(stage.queue().value(0).user, u"ユキ"_s);
    EXPECT_EQ(stage.pendingCount(), 1);
    EXPECT_EQ(main.mediaPath(), u"song"_s);
    run(u"100001"_s, QString()); // the same song twice, now by nobody in particular
    EXPECT_EQ(stage.statusText(), u"予受(2)：(100001) -  - 夜明けの歌"_s);
}

TEST_F(Reserve, SongListIsReadByValueLastMatchWinsAndEditsAreSeen)
{
    writeSongs({u"100001"_s, u"古い題"_s, u" 0100001 "_s, u"新しい題"_s, u" 100002 "_s});
    run(u"100001"_s);
    EXPECT_EQ(stage.statusText(), u"再生：(100001) - 新しい題"_s);
    run(u"100002"_s); // a number line alone at the end is no entry
    EXPECT_EQ(stage.statusText(), u"Not Found!"_s);
    writeSongs({u" 100002 "_s, u"新曲"_s});
    main.stop();
    run(u"100002"_s);
    EXPECT_EQ(stage.statusText(), u"再生：(100002) - 新曲"_s);
}

TEST_F(Reserve, OnlyTheNumberNamesTheVideo)
{
    playSomething();
    run(u"100001/../../etc/x"_s);
    ASSERT_EQ(stage.queue().size(), 1);
    main.stop();
    run(u"000003"_s);
    EXPECT_EQ(main.mediaPath(), video(u"100001"_s));
}

TEST_F(Queue, NextSongTakesTheFirstEntryAndNothingFromAnEmptyQueue)
{
    run(u"000003"_s);
    EXPECT_EQ(view.statusChanges, 0);
    EXPECT_EQ(view.restarts, 0);
    queue3(u"ユキ"_s);
    main.stop();
    run(u"000003"_s);
    EXPECT_EQ(stage.statusText(), u"再生：(100001) - ユキ - 夜明けの歌"_s);
    EXPECT_EQ(stage.nowPlaying().text(), u"100001 | 夜明けの歌"_s);
    EXPECT_EQ(stage.nowPlaying().user, u"ユキ"_s);
    EXPECT_EQ(main.mediaPath(), video(u"100001"_s));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(stage.pendingCount(), 2);
}

TEST_F(Queue, ReviewWrapsAndRestartsAfterCancel)
{
    queue3();
    run(u"000012"_s);
    EXPECT_EQ(stage.statusText(), u"予確(1/3)：(100001) - 夜明けの歌"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::Cyan);
    QStringList seen;
    for (int i = 0; i < 3; ++i) {
        run(u"000007"_s);
        seen << stage.statusText().left(8);
    }
    EXPECT_EQ(seen, (QStringList{u"予確(2/3)："_s, u"予確(3/3)："_s, u"予確(1/3)："_s}));
    run(u"000007"_s);
    run(u"000008"_s);
    EXPECT_EQ(stage.statusText(), u"予消(N/2)：(100002) -  - 海の声"_s);
    EXPECT_EQ(stage.pendingCount(), 2);
    run(u"000007"_s);
    EXPECT_TRUE(stage.statusText().startsWith(u"予確(1/2)：(100001)"_s));
}

TEST_F(Queue, CancelNeedsASelectionAndShowsNOverZeroForTheLast)
{
    playSomething();
    run(u"100001"_s);
    const int changes = view.statusChanges;
    run(u"000008"_s);
    EXPECT_EQ(view.statusChanges, changes);
    run(u"000012"_s);
    run(u"000008"_s);
    EXPECT_EQ(stage.statusText(), u"予消(N/0)：(100001) - 夜明けの歌"_s);
    EXPECT_EQ(stage.pendingCount(), 0);
}

TEST_F(Queue, MoveNewestInAOneEntryQueueOnlyTellsIt)
{
    playSomething();
    run(u"0100001"_s); // read as the keypad reads it
    EXPECT_EQ(stage.queue().value(0).number, SongNumber(100001));
    run(u"000010"_s);
    EXPECT_EQ(stage.statusText(), u"予割(1/1)：(100001) - 夜明けの歌"_s);
    EXPECT_EQ(stage.queue().value(0).number, SongNumber(100001));
}

TEST_F(Queue, MoveNewestAndMoveReviewed)
{
    queue3();
    run(u"000010"_s);
    EXPECT_EQ(stage.statusText(), u"予割(1/3)：(100003) -  - 星の道"_s);
    QStringList order;
    for (const Reservation& e : stage.queue())
        order << e.number.text();
    EXPECT_EQ(order, (QStringList{u"100003"_s, u"100001"_s, u"100002"_s}));

    run(u"000012"_s);
    const int changes = view.statusChanges;
    run(u"000011"_s); // entry 1 selected: nothing to move
    EXPECT_EQ(view.statusChanges, changes);
    run(u"000007"_s);
    run(u"000007"_s);
    run(u"000011"_s);
    EXPECT_EQ(stage.statusText(), u"予割(1/3)：(100002) -  - 海の声"_s);
    EXPECT_EQ(stage.queue().value(0).number, SongNumber(100002));
    EXPECT_EQ(stage.selectedIndex(), -1);
}

TEST_F(Playback, NoReservations)
{
    run(u"000005"_s);
    EXPECT_EQ(stage.statusText(), u"予約曲がありません  ゆっくりえらんでね！！！"_s);
    EXPECT_EQ(main.mediaPath(), video(u"000000"_s));
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(stage.pendingCount(), -1);

    run(u"100001"_s);
    run(u"000005"_s); // while a song plays: it goes on, the file is emptied
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(main.mediaPath(), video(u"100001"_s));
    EXPECT_EQ(queueFileBytes(), QByteArray());
}

// Typed with songs waiting and nothing playing: the idle screen shows, but the count stays the queue's,
// so the next song still follows.
TEST_F(Playback, NoReservationsOverAWaitingQueueKeepsItsCount)
{
    queue3();
    main.stop();
    run(u"000005"_s);
    EXPECT_EQ(main.mediaPath(), video(u"000000"_s));
    EXPECT_EQ(stage.pendingCount(), 3);
}

TEST_F(Playback, StopWithSongsWaitingAndWithNone)
{
    queue3();
    main.stop();
    run(u"000003"_s);
    run(u"000009"_s);
    EXPECT_EQ(stage.statusText(), u"この曲の再生を終了します"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::Red);
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(main.mediaPath(), video(u"000000"_s));
    EXPECT_EQ(queueFileLines().value(0), u"100001$夜明けの歌$Guest$ENT"_s);
    EXPECT_EQ(stage.pendingCount(), 2);

    for (int i = 0; i < 2; ++i)
        run(u"000003"_s);
    run(u"000009"_s);
    EXPECT_EQ(stage.statusText(), u"予約曲がありません(´・ω:;.:...  ゆっくりえらんでね！！！"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::White);
    EXPECT_EQ(stage.pendingCount(), -1);
    EXPECT_EQ(queueFileBytes(), QByteArray());
}

// What the play log is told: each reserved song once as it starts and once as it ends, with how far
// it got and the key it was left at; a second end (karaoke mode ending after a stop) tells nothing.
TEST_F(Playback, EachSongIsToldOnceAsItStartsAndOnceAsItEnds)
{
    QStringList told;
    QObject::connect(&stage, &Stage::songStarted,
                     [&](const Reservation& entry) { told << u"start "_s + entry.number.text() + u' ' + entry.user; });
    QObject::connect(&stage, &Stage::songEnded, [&](int seconds, KeyTempo at) {
        told << u"end %1 %2"_s.arg(seconds).arg(at.key);
    });
    run(u"100002"_s, u"ユキ"_s);
    run(u"100001"_s);
    main.advance(75);
    run(Cmd::Key{2});
    main.finish();
    run(u"000003"_s); // the next song, once this one has played out
    main.advance(30);
    run(u"000009"_s); // stopped
    stage.endPlay();
    EXPECT_EQ(told, (QStringList{u"start 100002 ユキ"_s, u"end 180 2"_s, u"start 100001 Guest"_s, u"end 30 0"_s}));
}

TEST_F(Playback, SingAgainLimitIsStrict)
{
    playSomething();
    main.advance(15.0);
    run(u"000015"_s);
    EXPECT_EQ(stage.statusText(), u"歌直：歌いなおししますか？Y:55 N:NoTouch"_s);
    run(u"000016"_s);
    EXPECT_EQ(stage.statusText(), u"歌直：歌い直ししました"_s);
    EXPECT_EQ(main.position(), 0);
    main.advance(15.5);
    run(u"000016"_s);
    EXPECT_EQ(stage.statusText(), u"歌直：指定時間を過ぎています"_s);
    EXPECT_EQ(main.position(), 15.5);
}

TEST_F(Playback, FastForwardShowsHoursMinutesSeconds)
{
    main.duration = 4000;
    playSomething();
    main.setPosition(3597.2);
    run(u"000014"_s);
    EXPECT_EQ(stage.statusText(), u"早送：+5sec 01:00:02 / 00:03:00"_s);
    EXPECT_DOUBLE_EQ(main.position(), 3602.2);
}

TEST_F(Playback, TimeSignalIsOffByDefaultAndUsesTheSecondPlayerWhenOn)
{
    run(u"000013"_s);
    EXPECT_EQ(view.statusChanges, 0);
    EXPECT_EQ(view.restarts, 0);

    struct OneVideo : TimeSignalSource
    {
        QList<TimeItem> times() const override { return {}; }
        std::optional<QString> chooseVideo(const QString&) override { return u"001001"_s; }
        QStringList videosFor(const QString&) const override { return {u"001001"_s}; }
    } source;
    state.setTimeSignalsOn(true);
    stage.setTimeSignalSource(&source);
    playSomething();
    run(u"000013"_s);
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(second.mediaPath(), video(u"001001"_s));
    EXPECT_TRUE(second.isPlaying());
    EXPECT_EQ(stage.statusText(), u"時報 NowTime=21:05 動画の時間と実際の時間は違う場合があります"_s);
}

TEST_F(Timers, HidesFiveSecondsAfterTheLastMessage)
{
    run(u"000001"_s);
    advanceMs(3000);
    run(u"000006"_s);
    advanceMs(4900);
    EXPECT_TRUE(stage.isShowing());
    advanceMs(100); // 8 s
    EXPECT_FALSE(stage.isShowing());
    EXPECT_FALSE(view.visible);
}

TEST_F(Timers, FarewellFade)
{
    stage.tmr_voldown_Timer(); // before the farewell the divisor source is 50: one step of 1
    EXPECT_EQ(main.volume(), 99);
    main.setVolume(100);
    run(u"000002"_s);
    EXPECT_EQ(stage.statusText(), u"Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ"_s);
    EXPECT_EQ(stage.statusColour(), StatusColour::PaleYellow);
    EXPECT_TRUE(view.fading);
    stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 98);
    for (int i = 1; i < 50; ++i)
        stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);
    stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);

    main.setVolume(73); // steps of 1.46 end at 0, not below
    run(u"000002"_s);
    for (int i = 0; i < 200; ++i)
        stage.tmr_voldown_Timer();
    EXPECT_EQ(main.volume(), 0);
}
