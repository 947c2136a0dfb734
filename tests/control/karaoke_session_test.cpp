// One karaoke session through the real windows and players: start from the main window, reserve on
// the keypad, songs follow one another, the published queue file mirrors each step, Escape ends it.
#include "common/clock.h"
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "control/controlwindow.h"
#include "control/karaokesession.h"
#include "launcher/karaokemode.h"
#include "launcher/mainwindow.h"
#include "player/player.h"
#include "stage/stagewindow.h"
#include "support/testmedia.h"
#include "support/wait.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tarv;
using test::waitFor;

namespace {

const QString Title1 = QStringLiteral("夜明けのメロディー");
const QString Title2 = QStringLiteral("桜並木の約束");
const QString Idle = QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！");

class KaraokeModeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        media = new QTemporaryDir;
        ASSERT_FALSE(
            test::makeTestClip(media->path(), QStringLiteral("000000"), 1.5, QStringLiteral("intro")).isEmpty());
        ASSERT_FALSE(test::makeTestClip(media->path(), QStringLiteral("100001"), 2.0, Title1).isEmpty());
        ASSERT_FALSE(test::makeTestClip(media->path(), QStringLiteral("100002"), 2.0, Title2).isEmpty());
    }
    static void TearDownTestSuite() { delete media; }

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
        ASSERT_TRUE(QDir().mkpath(paths.dbDir()));
        ASSERT_TRUE(QDir().mkpath(paths.file(QStringLiteral("www/cgi-bin/tarv"))));
        for (const QString& name : {QStringLiteral("000000"), QStringLiteral("100001"), QStringLiteral("100002")})
            ASSERT_TRUE(QFile::copy(QDir(media->path()).filePath(name), paths.video(name)));
        const QByteArray list =
            QByteArray(" 100001 \r\n") + encodeCp932(Title1) + "\r\n 100002 \r\n" + encodeCp932(Title2) + "\r\n";
        ASSERT_TRUE(saveFile(paths.songList(), list).isEmpty());
        ASSERT_TRUE(saveFile(paths.webRootFile(), paths.file(QStringLiteral("www")).toUtf8() + "\r\n").isEmpty());
    }

    Stage& stage() { return karaoke.session()->stage(); }
    QString status() { return karaoke.isRunning() ? stage().statusText() : QString(); }
    QLineEdit* box() { return karaoke.controlWindow()->commandBox(); }
    void type(const QString& keys, Qt::Key key = Qt::Key_Enter)
    {
        QTest::keyClicks(box(), keys);
        QTest::keyClick(box(), key);
    }
    QString queueFile()
    {
        const auto bytes = readFileBytes(paths.file(QStringLiteral("www/cgi-bin/tarv/tarvlist.txt")), 64 << 20);
        return bytes ? decodeCp932(*bytes) : QStringLiteral("<missing>");
    }
    bool statusBecomes(const QString& text, int timeoutMs = 8000)
    {
        const bool ok = waitFor([&] { return status() == text; }, timeoutMs);
        if (!ok)
            ADD_FAILURE() << "status is '" << status().toStdString() << "', expected '" << text.toStdString() << "'";
        return ok;
    }

    static inline QTemporaryDir* media = nullptr;
    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    SystemClock clock;
    AppState state;
    MainWindow main{paths, state};
    KaraokeMode karaoke{paths, clock, state};
};

} // namespace

TEST_F(KaraokeModeTest, ReserveTwoSongsTheyPlayInTurnThenEscapeEndsAndF1StartsAgain)
{
    QObject::connect(&main, &MainWindow::startRequested, &karaoke, &KaraokeMode::start);
    main.show();
    main.action(QStringLiteral("mem_TarvActive"))->trigger();
    ASSERT_TRUE(karaoke.isRunning());
    ASSERT_TRUE(statusBecomes(QStringLiteral("Tarv Active... System Version:1.00 MovieCount:2"), 3000));
    EXPECT_EQ(queueFile(), QString());                              // emptied when the control window loaded
    EXPECT_TRUE(karaoke.controlWindow()->mainPlayer().isPlaying()); // the intro video

    // The intro ends, nothing is reserved: the idle message.
    ASSERT_TRUE(statusBecomes(Idle));
    EXPECT_EQ(stage().pendingCount(), -1);

    type(QStringLiteral("100001"));
    ASSERT_TRUE(statusBecomes(QStringLiteral("再生：(100001) - ") + Title1, 2000));
    EXPECT_TRUE(box()->text().isEmpty());
    EXPECT_EQ(queueFile(), QStringLiteral("100001$") + Title1 + QStringLiteral("$Guest$ENT\r\n"));
    ASSERT_TRUE(waitFor([&] { return karaoke.controlWindow()->mainPlayer().isPlaying(); }));

    // The singer's key goes to the song, never into the box.
    QTest::keyClick(box(), Qt::Key_Plus, Qt::KeypadModifier);
    ASSERT_TRUE(statusBecomes(QStringLiteral("キー：♯1"), 1000));
    EXPECT_TRUE(box()->text().isEmpty());
    EXPECT_EQ(karaoke.controlWindow()->mainPlayer().key(), 1);

    type(QStringLiteral("100002"));
    ASSERT_TRUE(statusBecomes(QStringLiteral("予受(1)：(100002) - ") + Title2, 2000));
    EXPECT_EQ(queueFile(), QStringLiteral("100001$") + Title1 + QStringLiteral("$Guest$ENT\r\n100002$") + Title2 +
                               QStringLiteral("$Guest$ENT\r\n"));

    // The first song ends; the second starts by itself.
    ASSERT_TRUE(statusBecomes(QStringLiteral("再生：(100002) - ") + Title2));
    EXPECT_EQ(queueFile(), QStringLiteral("100002$") + Title2 + QStringLiteral("$Guest$ENT\r\n"));
    EXPECT_EQ(karaoke.controlWindow()->mainPlayer().mediaPath(), paths.video(QStringLiteral("100002")));

    // The second ends; the queue is empty: the idle message and an empty queue file.
    ASSERT_TRUE(statusBecomes(Idle));
    EXPECT_EQ(queueFile(), QString());

    // Volume from the keypad.
    QTest::keyClick(box(), Qt::Key_Down);
    ASSERT_TRUE(statusBecomes(QStringLiteral("音量：90%"), 2000));
    EXPECT_EQ(karaoke.controlWindow()->mainPlayer().volume(), 90);

    // Escape: the farewell, the sound fades, and 5 s later the karaoke windows close.
    const QString farewell = QStringLiteral("Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ");
    QTest::keyClick(box(), Qt::Key_Escape);
    ASSERT_TRUE(statusBecomes(farewell, 2000));
    QTimer* quit = &karaoke.session()->quitTimer();
    QTest::qWait(600);
    EXPECT_EQ(status(), farewell); // the idle message does not come back over it
    const int left = quit->remainingTime();
    QTest::keyClick(box(), Qt::Key_Escape); // a second Escape does not postpone the end
    EXPECT_LE(quit->remainingTime(), left);
    ASSERT_TRUE(waitFor([&] { return !karaoke.isRunning(); }, 8000));
    EXPECT_TRUE(main.isVisible());

    main.action(QStringLiteral("mem_TarvActive"))->trigger();
    ASSERT_TRUE(karaoke.isRunning());
    EXPECT_TRUE(statusBecomes(QStringLiteral("Tarv Active... System Version:1.00 MovieCount:2"), 3000));
}

TEST_F(KaraokeModeTest, SecondStartShowsTheWindowsAgainAndRepeatsTheBanner)
{
    karaoke.start();
    ASSERT_TRUE(statusBecomes(QStringLiteral("Tarv Active... System Version:1.00 MovieCount:2"), 3000));
    ControlWindow* control = karaoke.controlWindow();
    stage().post(Cmd::CodeError{});
    ASSERT_TRUE(statusBecomes(QStringLiteral("Code Error!"), 2000));
    karaoke.start();
    EXPECT_EQ(karaoke.controlWindow(), control); // the same windows, shown again
    EXPECT_TRUE(statusBecomes(QStringLiteral("Tarv Active... System Version:1.00 MovieCount:2"), 2000));

    // Closing the video window from the desktop ends karaoke mode rather than leaving it running unseen.
    control->close();
    EXPECT_TRUE(waitFor([&] { return !karaoke.isRunning(); }, 2000));
}
