// The karaoke session without windows: posts carried out in order, the tmr_sf heartbeat, the end.
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "control/karaokesession.h"
#include "exchange/exchange.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/singerkeys.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "timesignal/timesignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

class FakeKaraokeView : public KaraokeView
{
public:
    void focusCommandBox() override { ++focusGiven; }
    void setMainPlayerVisible(bool visible) override { mainVisible = visible; }
    void setSecondPlayerVisible(bool visible) override { secondVisible = visible; }
    void setGuestInviteVisible(bool visible) override { inviteVisible = visible; }
    int focusGiven = 0;
    bool inviteVisible = false;
    bool mainVisible = true;
    bool secondVisible = false;
};

// The user a reservation or a login is for.
QString userOf(const Command& command)
{
    if (const auto* reserve = std::get_if<Cmd::Reserve>(&command))
        return reserve->user;
    if (const auto* login = std::get_if<Cmd::Login>(&command))
        return login->user;
    return u"<none>"_s;
}

class SessionTest : public ::testing::Test
{
protected:
    SessionTest()
    {
        QDir(dir.path()).mkpath(QStringLiteral("db"));
        QDir(dir.path()).mkpath(QStringLiteral("src"));
        QFile list(paths.songList());
        EXPECT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(encodeTextLines({QStringLiteral("100001"), QStringLiteral("一"), QStringLiteral("100002"),
                                    QStringLiteral("二"), QStringLiteral("100003"), QStringLiteral("三"),
                                    QStringLiteral("100004"), QStringLiteral("四")}));
        for (const char* name : {"000000", "100001", "100002", "100003"}) // 100004 has no video
            QFile(paths.video(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
        session.setView(&view);
    }

    Stage& stage() { return session.stage(); }
    void settle() { QCoreApplication::processEvents(); }
    // Types a number on the keypad and presses Enter, without giving the event loop a turn.
    void enter(const QString& typed)
    {
        session.entry().setText(typed);
        session.entry().txt_input_KeyUp(Qt::Key_Enter);
    }
    QStringList queued()
    {
        QStringList out;
        for (const Reservation& entry : stage().queue())
            out << entry.number.text() + u'/' + entry.user;
        return out;
    }
    // One heartbeat; returns the codes it posted.
    QString tick()
    {
        const qsizetype posts = stage().pendingPosts();
        session.tmr_sf_Timer();
        const QString posted = stage().pendingPosts() > posts ? stage().codeSlot() : QString();
        settle();
        return posted;
    }

    // Gives the session a web root; returns its request file.
    QString useWebRoot()
    {
        const QString webRoot = dir.filePath(u"www"_s);
        QDir().mkpath(webRoot + u"/cgi-bin/tarv"_s);
        EXPECT_TRUE(saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n").isEmpty());
        return webRoot + u"/cgi-bin/tarv/tarvadd.txt"_s;
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    FakePlayer main;
    FakePlayer second;
    FakeClock clock;
    AppState state;
    FakeKaraokeView view;
    KaraokeSession session{main, second, state, paths, clock};
};

} // namespace

TEST_F(SessionTest, PostsInOneTurnAreAllCarriedOutInOrderWithTheirUsers)
{
    session.start();
    settle();
    main.setMediaPath(QStringLiteral("song"));
    main.play(); // something plays, so every reservation queues

    // Posts made before the stage gets a turn, each with the user of its moment.
    stage().post(Cmd::Reserve{SongNumber(100001), u"Guest"_s});
    stage().post(Cmd::Reserve{SongNumber(100002), u"ユキ"_s});
    stage().post(Cmd::Reserve{SongNumber(100003), u"ユキ"_s});
    EXPECT_EQ(stage().codeSlot(), QStringLiteral("100003")); // posters see their post at once
    settle();
    EXPECT_EQ(queued(), (QStringList{u"100001/Guest"_s, u"100002/ユキ"_s, u"100003/ユキ"_s}));
    EXPECT_EQ(stage().pendingPosts(), 0);

    // Keys handled in one turn: each key sees the stage as the keys before it left it.
    enter(QStringLiteral("100002"));
    enter(QStringLiteral("0"));
    settle();
    EXPECT_EQ(queued().size(), 4);
    EXPECT_EQ(stage().statusText(), QStringLiteral("予確(1/4)：(100001) - 一"));

    // Two codes in one turn: the question and its confirmation.
    enter(QStringLiteral("44"));
    enter(QStringLiteral("44"));
    settle();
    EXPECT_EQ(stage().statusText(), QStringLiteral("この曲の再生を終了します"));

    // A click repeats the last action once: the review steps on.
    enter(QStringLiteral("0"));
    settle();
    EXPECT_EQ(stage().selectedIndex(), 0);
    stage().Form_Activate();
    EXPECT_EQ(stage().selectedIndex(), 1);
}

TEST_F(SessionTest, HeartbeatStartsTheNextSongOrShowsTheIdleMessage)
{
    session.start();
    settle();
    EXPECT_EQ(tick(), QString()); // the intro plays
    main.finish();
    EXPECT_EQ(tick(), QStringLiteral("000005")); // intro over, nothing reserved
    EXPECT_EQ(stage().pendingCount(), -1);
    EXPECT_EQ(tick(), QString());
    EXPECT_TRUE(view.inviteVisible); // the idle screen invites guests to join from their phones
    EXPECT_EQ(view.focusGiven, 0);   // nothing typed yet: the focus keeper waits

    enter(QStringLiteral("100001"));
    settle();
    EXPECT_TRUE(main.isPlaying());
    enter(QStringLiteral("100002"));
    settle();
    EXPECT_EQ(tick(), QString()); // the song plays
    EXPECT_FALSE(view.inviteVisible);
    EXPECT_EQ(view.focusGiven, 1);
    main.finish();
    EXPECT_EQ(tick(), QStringLiteral("000003"));
    EXPECT_EQ(main.mediaPath(), paths.video(QStringLiteral("100002")));
    main.finish();
    EXPECT_EQ(tick(), QStringLiteral("000005"));
    stage().post(Cmd::CodeError{}); // another message replaced the idle one
    settle();
    EXPECT_EQ(tick(), QStringLiteral("000005"));
}

TEST_F(SessionTest, MissingVideoIsSaidInRedAndTheNextSongFollowsAfterIt)
{
    session.start();
    settle();
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    enter(QStringLiteral("100004"));
    enter(QStringLiteral("100002"));
    settle();
    main.stop();

    EXPECT_EQ(tick(), QStringLiteral("000003"));
    EXPECT_EQ(stage().statusText(), QStringLiteral("動画ファイルがありません：(100004)"));
    EXPECT_EQ(stage().statusColour(), StatusColour::Red);
    EXPECT_EQ(main.mediaPath(), QStringLiteral("song")); // nothing was loaded
    EXPECT_FALSE(stage().nowPlaying().number.isValid()); // still the start, 000000
    EXPECT_EQ(tick(), QString());                        // the message stays readable for a moment
    clock.advanceMs(3000);
    EXPECT_EQ(tick(), QStringLiteral("000003"));
    EXPECT_EQ(stage().statusText(), QStringLiteral("再生：(100002) - 二"));

    // A video that is there but cannot be played is said the same way, once.
    main.brokenPaths << paths.video(QStringLiteral("100003"));
    enter(QStringLiteral("100003"));
    settle();
    main.stop();
    EXPECT_EQ(tick(), QStringLiteral("000003"));
    EXPECT_EQ(tick(), QString());
    EXPECT_EQ(stage().statusText(), QStringLiteral("動画ファイルがありません：(100003)"));
    EXPECT_EQ(stage().statusColour(), StatusColour::Red);
    EXPECT_EQ(tick(), QString()); // readable for a moment, like a missing video
    clock.advanceMs(3000);
    EXPECT_EQ(tick(), QStringLiteral("000005"));
}

TEST_F(SessionTest, TimeSignalPausesTheSongAndResumesItAfterwards)
{
    session.start();
    settle();
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    main.advance(42);
    second.setMediaPath(QStringLiteral("signal"));
    second.play();
    EXPECT_EQ(tick(), QString());
    EXPECT_FALSE(main.isPlaying());
    EXPECT_FALSE(view.mainVisible);
    EXPECT_TRUE(view.secondVisible);

    second.finish();
    tick();
    EXPECT_TRUE(view.mainVisible);
    EXPECT_FALSE(view.secondVisible);
    EXPECT_TRUE(second.mediaPath().isEmpty());
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(main.position(), 42);

    // Over the idle screen (position 0) the intro is not started afterwards.
    main.stop();
    second.setMediaPath(QStringLiteral("signal"));
    second.play();
    tick();
    second.finish();
    tick();
    EXPECT_FALSE(main.isPlaying());
}

TEST_F(SessionTest, TimeSignalsFireAtTheirMinutesWithTheFiredItemsVideo)
{
    // Two enabled time signals; 12:00 plays 001002 by name, 12:01 one of the two at random.
    QFile enabled(enabledSignalsFile(paths));
    ASSERT_TRUE(enabled.open(QIODevice::WriteOnly));
    enabled.write("001001\r\na\r\n001002\r\nb\r\n");
    enabled.close();
    QFile times(signalTimesFile(paths));
    ASSERT_TRUE(times.open(QIODevice::WriteOnly));
    times.write("12:01\r\nnofile\r\n12:00\r\n001002\r\n12:00\r\nnofile\r\n");
    times.close();
    for (const char* name : {"001001", "001002"})
        QFile(paths.video(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    TimeSignals settings(paths, state);
    settings.turnOn();
    session.setTimeSignalSource(&settings);
    clock.set(QDateTime(QDate(2026, 3, 14), QTime(11, 59, 58)));
    session.start();
    settle();
    EXPECT_TRUE(session.timeSignalTimer().isActive());

    QStringList played;
    for (int i = 0; i < 2 * 130; ++i) { // 11:59:58 to 12:02:03, every 500 ms
        const qsizetype posts = stage().pendingPosts();
        session.tmr_ziho_Timer();
        if (stage().pendingPosts() > posts) {
            EXPECT_EQ(stage().codeSlot(), QStringLiteral("000013"));
            settle();
            played << clock.now().toString(u"HH:mm:ss"_s) + u' ' + QFileInfo(second.mediaPath()).fileName();
            EXPECT_EQ(stage().statusText(), u"時報 NowTime="_s + clock.now().toString(u"HH:mm"_s) +
                                                u" 動画の時間と実際の時間は違う場合があります"_s);
            second.finish();
            tick();
        }
        clock.advanceMs(500);
    }
    ASSERT_EQ(played.size(), 2);
    EXPECT_EQ(played[0], u"12:00:00 001002"_s);
    EXPECT_TRUE(played[1] == u"12:01:00 001001"_s || played[1] == u"12:01:00 001002"_s) << played[1].toStdString();

    // Time signals off: the next tick stops the timer, and a new start starts it again.
    state.setTimeSignalsOn(false);
    session.tmr_ziho_Timer();
    EXPECT_FALSE(session.timeSignalTimer().isActive());
    session.start();
    EXPECT_TRUE(session.timeSignalTimer().isActive());
}

TEST_F(SessionTest, EscapeKeepsTheFarewellAndEndsAfterTheQuitTimer)
{
    bool ended = false;
    QObject::connect(&session, &KaraokeSession::ended, [&] { ended = true; });
    session.start();
    settle();
    session.entry().txt_input_KeyUp(Qt::Key_Escape);
    settle();
    EXPECT_TRUE(session.isEnding());
    const QString farewell = stage().statusText();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tick(), QString()); // neither the idle message nor a next song
    EXPECT_EQ(stage().statusText(), farewell);
    session.quitTimer().setInterval(0);
    session.quitTimer().start();
    for (int i = 0; i < 50 && !ended; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(ended);
}

TEST_F(SessionTest, WebPollTakesOneRequestPerTickAsIfTypedUnderTheWebUsersName)
{
    const QString requestFile = useWebRoot();
    session.start();
    settle();
    main.setMediaPath(u"song"_s);
    main.play(); // something plays, so reservations queue

    // Field 1 runs as the keypad would run its number; field 2 is the user.
    struct Case
    {
        QString content;
        QString posted; // empty: nothing posted
        QString user;
    };
    const Case cases[] = {
        {u"012345,Taro\r\n"_s, u"000001"_s, u"<none>"_s}, // 12345: no song number, a code error for nobody
        {u"001234,x\r\n"_s, u"000001"_s, u"<none>"_s},
        {u"0100001,Taro\r\n"_s, u"100001"_s, u"Taro"_s},
        {u"login,Hanako\r\n"_s, u"000017"_s, u"Hanako"_s},
        {u"100002,\r\n"_s, u"100002"_s, u"Guest"_s},
        {u"login,\r\n"_s, u"000017"_s, QString()},
        {u"100003\r\n"_s, u"100003"_s, u"Guest"_s}, // the name left out
        {u"100001,Ta$ro\r\n"_s, u"100001"_s, u"Ta$ro"_s},
        {u"9,Taro\r\n"_s, u"9"_s, u"<none>"_s},    // 90 %
        {u"4x,Taro\r\n"_s, u"4"_s, u"<none>"_s},   // its leading number
        {u",x\r\n"_s, u"000012"_s, u"<none>"_s},   // "0": the review
        {u"44,x\r\n"_s, u"000006"_s, u"<none>"_s}, // the question before a stop
        {QString(), QString(), QString()},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(saveFile(requestFile, encodeCp932(c.content)).isEmpty());
        stage().post(Cmd::Playing{}); // a command no request gives
        settle();
        session.tmr_webcheck_Timer();
        EXPECT_EQ(stage().codeSlot(), c.posted.isEmpty() ? u"000004"_s : c.posted) << c.content.toStdString();
        if (!c.posted.isEmpty()) {
            EXPECT_EQ(userOf(stage().lastCommand()), c.user) << c.content.toStdString();
        }
        EXPECT_EQ(QFileInfo(requestFile).size(), 0);
        settle();
        if (c.posted == u"9") {
            EXPECT_EQ(main.volume(), 90);
        }
    }
    EXPECT_EQ(main.volume(), 40);
    EXPECT_EQ(queued(), (QStringList{u"100001/Taro"_s, u"100002/Guest"_s, u"100003/Guest"_s, u"100001/Ta$ro"_s}));
    // The published queue writes the name as it came.
    const auto published = readFileBytes(dir.filePath(u"www/cgi-bin/tarv/tarvlist.txt"_s), 1 << 20);
    ASSERT_TRUE(published);
    EXPECT_TRUE(published->endsWith(encodeCp932(u"100001$一$Ta$ro$ENT\r\n"_s))) << published->toStdString();

    // While a time signal plays the request waits in the file.
    ASSERT_TRUE(saveFile(requestFile, QByteArray("100002,Jiro\r\n")).isEmpty());
    second.setMediaPath(u"signal"_s);
    second.play();
    session.tmr_webcheck_Timer();
    EXPECT_EQ(QFileInfo(requestFile).size(), 13);
    second.finish();
    session.tmr_webcheck_Timer();
    EXPECT_EQ(QFileInfo(requestFile).size(), 0);
    settle();
    EXPECT_EQ(queued().constLast(), u"100002/Jiro"_s);

    // A request dropped unread is said on the strip.
    ASSERT_TRUE(saveFile(requestFile, QByteArray(MaxRequestBytes + 1, 'x')).isEmpty());
    session.tmr_webcheck_Timer();
    EXPECT_TRUE(stage().statusText().startsWith(u"ゲストの予約を受け取れませんでした"_s));
    EXPECT_EQ(stage().statusColour(), StatusColour::Red);
}

// The guest server's requests: all taken at once in order, none while a time signal plays; each
// reservation leaves the record's accepted ones as the stage queues it.
TEST_F(SessionTest, TheGuestDeskIsTakenInOrderButNotDuringATimeSignal)
{
    QueueRecord record(dir.filePath(u"queue.txt"_s));
    GuestDesk desk;
    session.setQueueRecord(&record);
    session.setGuestDesk(&desk);
    session.start();
    settle();
    main.setMediaPath(u"song"_s);
    main.play();
    for (const auto& [number, user] : {std::pair{100001, u"タロウ"_s}, std::pair{100002, u"ハナコ"_s}}) {
        ASSERT_EQ(record.accept({SongNumber(number), user}), QString());
        desk.submitReservation(Cmd::Reserve{SongNumber(number), user, u"phone"_s}, u"title"_s);
    }
    second.setMediaPath(u"signal"_s);
    second.play();
    session.tmr_webcheck_Timer();
    settle();
    EXPECT_EQ(queued(), QStringList());
    second.finish();
    session.tmr_webcheck_Timer();
    settle();
    EXPECT_EQ(queued(), (QStringList{u"100001/タロウ"_s, u"100002/ハナコ"_s}));
    EXPECT_EQ(readFileBytes(dir.filePath(u"queue.txt"_s), 64 << 20),
              QByteArray("100001\tタロウ\t0\t0\tphone\t1\n100002\tハナコ\t0\t0\tphone\t2\n"));
    const auto room = desk.snapshot();
    ASSERT_EQ(room->waiting.size(), 2);
    EXPECT_EQ(room->waiting.at(1).device, u"phone"_s);
    EXPECT_TRUE(room->accepted.isEmpty());
}

// The host's phone: a pause holds the queue where it is, a skip plays the next song at once, and a
// waiting song moves to the place asked for.
TEST_F(SessionTest, TheHostPausesSkipsAndMovesWithoutTheQueueRunningOn)
{
    session.start();
    settle();
    main.finish(); // the intro
    for (int number : {100001, 100002, 100003})
        stage().post(Cmd::Reserve{SongNumber(number), u"u"_s});
    settle();
    tick();
    ASSERT_EQ(stage().playing().value().number, SongNumber(100001));
    stage().post(Cmd::Move{stage().queue().at(1).id, 1});
    settle();
    EXPECT_EQ(queued(), (QStringList{u"100003/u"_s, u"100002/u"_s}));
    EXPECT_EQ(stage().statusText(), u"予割(1/2)：(100003) - u - 三"_s);

    stage().post(Cmd::Pause{});
    settle();
    EXPECT_FALSE(main.isPlaying());
    EXPECT_EQ(main.calls.back(), u"pause"_s);
    EXPECT_EQ(tick(), QString()); // the next song waits for the paused one
    EXPECT_EQ(stage().playing().value().number, SongNumber(100001));
    stage().post(Cmd::Pause{});
    settle();
    EXPECT_TRUE(main.isPlaying());

    stage().post(Cmd::Skip{});
    settle();
    EXPECT_EQ(stage().playing().value().number, SongNumber(100003));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(queued(), QStringList{u"100002/u"_s});
}

TEST_F(SessionTest, WebRequestsAndAKeypadReservationInOneTurnKeepTheirOwnUsers)
{
    const QString requestFile = useWebRoot();
    session.start();
    settle();
    main.setMediaPath(u"song"_s);
    main.play();
    // Nothing is carried out between these: each reservation carries its own user.
    ASSERT_TRUE(saveFile(requestFile, encodeCp932(u"100001,タロウ\r\n"_s)).isEmpty());
    session.tmr_webcheck_Timer();
    ASSERT_TRUE(saveFile(requestFile, encodeCp932(u"100002,ハナコ\r\n"_s)).isEmpty());
    session.entry().setText(u"1000"_s); // a guest is typing at the keypad
    session.tmr_webcheck_Timer();
    EXPECT_EQ(session.entry().text(), u"1000"_s);
    enter(u"100003"_s);
    settle();
    EXPECT_EQ(queued(), (QStringList{u"100001/タロウ"_s, u"100002/ハナコ"_s, u"100003/Guest"_s}));
}

TEST_F(SessionTest, SingerKeysChangeOnlyThePlayingSongAndATimeSignalKeepsItsOwnKey)
{
    QStringList said;
    QObject::connect(&stage(), &Stage::statusChanged, [&](const QString& text, StatusColour colour) {
        if (colour == StatusColour::Yellow)
            said << text;
    });
    const auto press = [this](int key) {
        session.entry().txt_input_KeyDown(key);
        session.entry().txt_input_KeyUp(key);
        settle();
    };
    session.start();
    settle();
    press(Qt::Key_Plus); // over the intro: nothing
    enter(u"100001"_s);
    settle();
    main.finish();
    tick();
    ASSERT_TRUE(main.isPlaying());
    EXPECT_EQ(main.mediaPath(), paths.video(u"100001"_s));

    session.entry().setText(u"10000"_s); // half a number typed: the keys leave it for its Enter
    for (int key : {Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Asterisk, Qt::Key_Period})
        press(key);
    EXPECT_EQ(said, (QStringList{u"キー：♯1"_s, u"キー：♯2"_s, u"テンポ：+5%"_s, u"ガイドボーカルがありません"_s}));
    EXPECT_EQ(session.entry().text(), u"10000"_s);
    EXPECT_EQ(stage().keyTempoBadge(), u"♯2 / +5%"_s);
    EXPECT_EQ(main.key(), 2);
    EXPECT_EQ(main.tempo(), 5);

    // A time signal plays at its own key, the keys do nothing meanwhile, and the song goes on at its key.
    said.clear();
    main.advance(30);
    second.setMediaPath(u"signal"_s);
    second.play();
    tick();
    press(Qt::Key_Minus);
    press(Qt::Key_Slash);
    EXPECT_EQ(said, QStringList());
    EXPECT_EQ(second.key(), 0);
    EXPECT_EQ(second.tempo(), 0);
    second.finish();
    tick();
    EXPECT_TRUE(main.isPlaying());
    EXPECT_EQ(main.key(), 2);
    EXPECT_EQ(main.tempo(), 5);

    main.guideTrackPaths << main.mediaPath();
    for (int key : {Qt::Key_Minus, Qt::Key_Minus, Qt::Key_Slash, Qt::Key_Period, Qt::Key_Period})
        press(key);
    EXPECT_EQ(said, (QStringList{u"キー：♯1"_s, u"キー：原曲キー"_s, u"テンポ：原曲テンポ"_s, u"ガイドボーカル：ON"_s,
                                 u"ガイドボーカル：OFF"_s}));
    EXPECT_EQ(stage().keyTempoBadge(), QString());
}

TEST_F(SessionTest, ANamedSingersKeyAndTempoAreRememberedForTheirNextReservationOfTheSong)
{
    ASSERT_TRUE(saveFile(paths.singerKeys(), "not a line of ours\n").isEmpty());
    session.start();
    settle();
    stage().post(Cmd::Reserve{SongNumber(100001), u"ユキ"_s});
    settle();
    main.finish(); // the intro
    tick();
    stage().post(Cmd::Key{3});
    stage().post(Cmd::Tempo{-10});
    settle();
    // Presses never write the file; the keys at rest do.
    clock.advanceMs(2000);
    tick();
    EXPECT_EQ(rememberedKeyTempo(paths.singerKeys(), u"ユキ"_s, SongNumber(100001)), std::nullopt);
    clock.advanceMs(1000);
    tick();
    EXPECT_EQ(rememberedKeyTempo(paths.singerKeys(), u"ユキ"_s, SongNumber(100001)), (KeyTempo{3, -10}));

    // Queued behind the song: the remembered key for her, the original for a guest, the chosen one
    // from the phone.
    stage().post(Cmd::Reserve{SongNumber(100001), u"Guest"_s});
    stage().post(Cmd::Reserve{SongNumber(100001), u"ユキ"_s});
    stage().post(Cmd::Reserve{SongNumber(100002), u"ユキ"_s, {}, KeyTempo{-2, 0}});
    settle();
    ASSERT_EQ(stage().queue().size(), 3);
    EXPECT_EQ(stage().queue()[0].keyTempo, KeyTempo{});
    EXPECT_EQ(stage().queue()[1].keyTempo, (KeyTempo{3, -10}));
    EXPECT_EQ(stage().queue()[2].keyTempo, (KeyTempo{-2, 0}));

    // Each starts at its own; the guest's changes are nobody's to remember.
    main.finish();
    tick();
    EXPECT_EQ(main.key(), 0);
    stage().post(Cmd::Key{1});
    settle();
    main.finish();
    tick();
    EXPECT_EQ(main.key(), 3);
    EXPECT_EQ(main.tempo(), -10);
    main.finish();
    tick();
    EXPECT_EQ(main.key(), -2);
    main.finish(); // her song's end remembers it
    tick();
    EXPECT_EQ(rememberedKeyTempo(paths.singerKeys(), u"ユキ"_s, SongNumber(100002)), (KeyTempo{-2, 0}));
    EXPECT_EQ(rememberedKeyTempo(paths.singerKeys(), u"Guest"_s, SongNumber(100001)), std::nullopt);
    QFile file(paths.singerKeys());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "not a line of ours\nユキ\t100001\t3\t-10\nユキ\t100002\t-2\t0\n");
}
