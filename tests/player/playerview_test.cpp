// Player views in a window under Xvfb: video really drawn through the render API.
#include "player/playerview.h"
#include "support/testmedia.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tarv {
namespace {

// Share of pixels that are clearly not black.
double litShare(const QImage& image)
{
    if (image.isNull())
        return 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qsizetype lit = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb pixel = rgb.pixel(x, y);
            if (qRed(pixel) > 40 || qGreen(pixel) > 40 || qBlue(pixel) > 40)
                ++lit;
        }
    }
    return double(lit) / (double(rgb.width()) * rgb.height());
}

class PlayerViewTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        for (const char* name : {"100001", "100002", "001001"}) {
            const QString number = QString::fromLatin1(name);
            s_clips << test::makeTestClip(s_dir->path(), number, 3, number);
            ASSERT_FALSE(s_clips.last().isEmpty());
        }
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    // A view on a player of the fixture's, which outlives the test's windows.
    PlayerView* makeView(QWidget* parent)
    {
        m_players.push_back(PlayerView::makePlayer(MpvPlayer::Sound::None, PlayerView::Output::Screen));
        auto* view = new PlayerView(PlayerView::Output::Screen, parent);
        view->setPlayer(m_players.back().get());
        return view;
    }

    std::vector<std::unique_ptr<MpvPlayer>> m_players;

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QStringList s_clips;
};

TEST_F(PlayerViewTest, ThreeViewsDrawTheirVideosSideBySide)
{
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    QList<PlayerView*> views;
    for (int i = 0; i < 3; ++i) {
        views << makeView(&window);
        layout->addWidget(views.last());
    }
    window.resize(960, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    for (int i = 0; i < 3; ++i) {
        views[i]->player().setMediaPath(s_clips[i]);
        views[i]->player().play();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return std::all_of(views.begin(), views.end(), [](PlayerView* v) { return v->player().position() > 0.5; });
    }));
    for (PlayerView* view : views) {
        EXPECT_TRUE(view->player().isPlaying());
        const QImage frame = view->grabFrame();
        EXPECT_EQ(frame.width(), qRound(view->width() * view->devicePixelRatioF()));
        EXPECT_GT(litShare(frame), 0.5) << "a video frame, not a black picture";
    }
}

TEST_F(PlayerViewTest, IdleScreenShowsTheFirstFrameAndEmptyPathShowsBlack)
{
    QWidget window;
    PlayerView* view = makeView(&window);
    view->setGeometry(0, 0, 320, 180);
    window.resize(320, 180);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    view->player().setMediaPath(s_clips[0]);
    view->player().play();
    view->player().stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->mpvPlayer().isOpening() && !view->mpvPlayer().isSeeking(); }));
    QTest::qWait(200);
    EXPECT_EQ(view->player().playState(), PlayState::Stopped);
    EXPECT_GT(litShare(view->grabFrame()), 0.5);

    view->player().setMediaPath(QString());
    QTest::qWait(100);
    EXPECT_LT(litShare(view->grabFrame()), 0.01);
}

TEST_F(PlayerViewTest, AViewShownLateOpensItsMediaThen)
{
    QWidget window;
    PlayerView* view = makeView(&window);
    view->setGeometry(0, 0, 320, 180);
    view->hide();
    window.resize(320, 180);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // Told to play while hidden (the time-signal player is shown just before it plays).
    view->player().setMediaPath(s_clips[2]);
    view->player().play();
    EXPECT_TRUE(view->player().isPlaying());
    QTest::qWait(300);
    EXPECT_TRUE(view->player().isPlaying());
    view->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->player().position() > 0.3; }));
    EXPECT_TRUE(view->player().isPlaying());
    EXPECT_GT(litShare(view->grabFrame()), 0.5);

    // Hidden again while playing (the song player during a time signal): playback goes on.
    view->hide();
    const double hiddenAt = view->player().position();
    QTest::qWait(1000);
    EXPECT_GT(view->player().position(), hiddenAt + 0.8);
}

// The time-signal view between signals: hidden with nothing open, it holds no surface (a full-screen
// one keeps tens of MB); each signal after that still plays with its picture.
TEST_F(PlayerViewTest, AHiddenViewWithNothingOpenLetsGoOfItsSurfaceAndPlaysWhenShownAgain)
{
    QWidget window;
    PlayerView* view = makeView(&window);
    view->setGeometry(0, 0, 320, 180);
    view->hide();
    window.resize(320, 180);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    for (int signal = 0; signal < 2; ++signal) {
        view->player().setMediaPath(s_clips[signal]);
        view->player().play();
        view->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->player().position() > 0.3; })) << "signal " << signal;
        EXPECT_GT(litShare(view->grabFrame()), 0.5) << "signal " << signal;

        // Hidden while the file is still open (the song player during a signal): the surface stays.
        view->hide();
        QTest::qWait(100);
        EXPECT_NE(view->findChild<QWidget*>(), nullptr);
        view->player().setMediaPath(QString());
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->findChild<QWidget*>() == nullptr; }))
            << "signal " << signal;
    }
}

TEST_F(PlayerViewTest, AClickIsReportedAndTheFocusStaysWhereItWas)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    PlayerView* view = makeView(&window);
    edit->setGeometry(0, 0, 100, 20);
    view->setGeometry(0, 30, 320, 180);
    window.resize(320, 210);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    edit->setFocus();
    QSignalSpy clicked(view, &PlayerView::clicked);

    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(160, 90));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(window.focusWidget(), edit);
}

TEST_F(PlayerViewTest, HeadlessViewDrivesARealPlayerWithoutOpenGL)
{
    const auto player = PlayerView::makePlayer(MpvPlayer::Sound::System, PlayerView::Output::Headless);
    PlayerView view(PlayerView::Output::Headless, nullptr);
    view.setPlayer(player.get());
    view.resize(160, 90);
    view.player().setMediaPath(s_clips[0]);
    view.player().play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.player().position() > 0.2; }));
    EXPECT_EQ(view.mpvPlayer().video(), MpvPlayer::Video::None);
    EXPECT_LT(litShare(view.grabFrame()), 0.01);
}

// The player belongs to the logic: either it or its view may go first, while the video plays.
TEST_F(PlayerViewTest, APlayerAndItsViewGoInEitherOrder)
{
    QWidget window;
    window.resize(320, 180);
    PlayerView* first = makeView(&window);
    first->setGeometry(0, 0, 320, 180);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    first->player().setMediaPath(s_clips[1]);
    first->player().play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->player().position() > 0.2; }));

    // The view goes: the player plays on, and a new view shows it.
    MpvPlayer* player = m_players.back().get();
    delete first;
    const double at = player->position();
    auto* second = new PlayerView(PlayerView::Output::Screen, &window);
    second->setGeometry(0, 0, 320, 180);
    second->setPlayer(player);
    second->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->position() > at + 0.3 && litShare(second->grabFrame()) > 0.5; }));

    // The player goes: the view is left black, without a player, and can still be drawn.
    m_players.pop_back();
    EXPECT_FALSE(second->hasPlayer());
    QTest::qWait(100);
    EXPECT_LT(litShare(second->grabFrame()), 0.01);
}

} // namespace
} // namespace tarv
