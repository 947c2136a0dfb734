// Turns in a karaoke session: the operator's order and closing time taken up while it runs, the next
// singer's card near a song's end and over the idle screen, holds from the phones through the guest
// desk, and the turns the heartbeat counts.
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "control/karaokesession.h"
#include "stage/guestdesk.h"
#include "stage/turnsettings.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

class CardView : public KaraokeView
{
public:
    void focusCommandBox() override {}
    void setMainPlayerVisible(bool) override {}
    void setSecondPlayerVisible(bool) override {}
    void setGuestInviteVisible(bool) override {}
    void setNextSingerCard(const NextSingerCard& shown) override { card = shown; }
    NextSingerCard card;
};

class TurnsSession : public ::testing::Test
{
protected:
    TurnsSession()
    {
        QDir(dir.path()).mkpath(u"db"_s);
        QDir(dir.path()).mkpath(u"src"_s);
        EXPECT_TRUE(saveFile(paths.songList(), encodeTextLines({u"100001"_s, u"夜明けのメロディー"_s, u"100002"_s,
                                                                u"桜並木の約束"_s, u"100003"_s, u"海辺のワルツ"_s}))
                        .isEmpty());
        for (const char* name : {"000000", "100001", "100002", "100003"})
            QFile(paths.video(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
        session.setView(&view);
        session.setGuestDesk(&desk);
    }

    Stage& stage() { return session.stage(); }
    void settle() { QCoreApplication::processEvents(); }
    void tick()
    {
        session.tmr_sf_Timer();
        settle();
    }
    // The intro over and the idle message said.
    void startIdle()
    {
        session.start();
        settle();
        main.finish();
        tick();
        tick();
    }
    void reserve(int number, const QString& user)
    {
        stage().post(Cmd::Reserve{SongNumber(number), user});
        settle();
    }
    // The phones' view of the waiting songs: "ユキ3 ハナ2(保留)".
    QString deskWaiting() const
    {
        QStringList out;
        for (const QueueEntry& e : desk.snapshot()->waiting)
            out << e.user + QString::number(e.id) + (e.held ? u"(保留)"_s : QString());
        return out.join(u' ');
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    FakePlayer main;
    FakePlayer second;
    FakeClock clock; // 21:05:09
    AppState state;
    CardView view;
    GuestDesk desk;
    KaraokeSession session{main, second, state, paths, clock};
};

} // namespace

TEST_F(TurnsSession, TheNextSingerIsCalledNearASongsEndAndOverTheIdleScreen)
{
    startIdle();
    EXPECT_TRUE(view.card.isEmpty()); // nothing waits, no closing time
    reserve(100001, u"ユキ"_s);       // plays
    reserve(100002, u"ハナ"_s);
    reserve(100003, GuestUser.toString());
    tick();
    EXPECT_TRUE(view.card.isEmpty());
    main.advance(180 - NextSingerCallSeconds - 1);
    tick();
    EXPECT_TRUE(view.card.isEmpty());
    main.advance(2);
    tick();
    EXPECT_EQ(view.card, (NextSingerCard{u"次は ハナさん　桜並木の約束"_s, QString()}));

    // A time signal covers the card; the song's end goes on to the next one.
    second.setMediaPath(u"signal"_s);
    second.play();
    tick();
    EXPECT_TRUE(view.card.isEmpty());
    second.finish();
    tick();
    main.finish();
    tick(); // between the songs: still called
    EXPECT_EQ(view.card.next, u"次は ハナさん　桜並木の約束"_s);
    tick();
    EXPECT_EQ(stage().nowPlaying().user, u"ハナ"_s);
    EXPECT_TRUE(view.card.isEmpty());

    // Closing at 21:20, chosen while karaoke runs: 10 minutes left, rounded up. A keypad song is
    // called by its title.
    ASSERT_TRUE(saveClosingTime(paths, QTime(21, 20)).isEmpty());
    session.reloadTurnSettings();
    clock.advanceMs(5 * 60 * 1000);
    main.advance(170);
    tick();
    EXPECT_EQ(view.card, (NextSingerCard{u"次は 海辺のワルツ"_s, u"閉店まであと 10 分"_s}));

    // Over the idle screen with nothing waiting, the minutes alone; none from closing on.
    main.finish();
    tick();
    main.finish();
    tick();
    tick();
    EXPECT_EQ(stage().pendingCount(), -1);
    EXPECT_EQ(view.card, (NextSingerCard{QString(), u"閉店まであと 10 分"_s}));
    clock.advanceMs(10 * 60 * 1000);
    tick();
    EXPECT_TRUE(view.card.isEmpty());
}

// The order file read at the start and again on the operator's change; the phones see the rotation,
// the held songs, and the turns sung.
TEST_F(TurnsSession, ThePhonesSeeTheOperatorsOrderAndTheirHolds)
{
    ASSERT_TRUE(saveQueueOrder(paths, QueueOrder::Rotation).isEmpty());
    startIdle();
    EXPECT_EQ(stage().queueOrder(), QueueOrder::Rotation);
    reserve(100001, u"ユキ"_s); // 1 plays
    reserve(100002, u"ハナ"_s); // 2 next
    reserve(100003, u"ユキ"_s);
    reserve(100001, u"ソラ"_s);
    EXPECT_EQ(deskWaiting(), u"ハナ2 ソラ4 ユキ3"_s);

    // "あとで歌う" and "戻る" from ソラ's phone, through the desk.
    desk.submit(Cmd::Hold{4, true});
    session.tmr_webcheck_Timer();
    settle();
    EXPECT_EQ(deskWaiting(), u"ハナ2 ソラ4(保留) ユキ3"_s);
    desk.submit(Cmd::Hold{4, false});
    session.tmr_webcheck_Timer();
    settle();
    EXPECT_EQ(deskWaiting(), u"ハナ2 ソラ4 ユキ3"_s);

    // ユキ sang 25 s and was stopped: a turn all the same.
    main.advance(25);
    stage().post(Cmd::Stop{});
    settle();
    tick(); // the next song
    ASSERT_EQ(stage().turnsSung().size(), 1);
    EXPECT_EQ(stage().turnsSung().at(0).user, u"ユキ"_s);
    EXPECT_EQ(deskWaiting(), u"ソラ4 ユキ3"_s);

    ASSERT_TRUE(saveQueueOrder(paths, QueueOrder::Fifo).isEmpty());
    session.reloadTurnSettings();
    EXPECT_EQ(stage().queueOrder(), QueueOrder::Fifo);
    reserve(100002, u"ミキ"_s);
    EXPECT_EQ(deskWaiting(), u"ソラ4 ユキ3 ミキ5"_s);

    // Every song held: nothing is next, yet the keypad reviews and cancels them.
    for (const quint64 id : {3, 4, 5})
        desk.submit(Cmd::Hold{id, true});
    session.tmr_webcheck_Timer();
    settle();
    EXPECT_EQ(stage().nextSong(), nullptr);
    session.entry().setText(u"0"_s);
    session.entry().txt_input_KeyUp(Qt::Key_Enter);
    settle();
    EXPECT_EQ(stage().statusText(), u"予確(1/3)：(100002) - ミキ - 桜並木の約束"_s);
}
