#include "common/textfile.h"
#include "stage/stagewindow.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;

class StageWindowTest : public ::testing::Test
{
protected:
    StageWindowTest()
    {
        QDir(dir.path()).mkpath(QStringLiteral("db"));
        QDir(dir.path()).mkpath(QStringLiteral("src"));
        QStringList lines;
        for (int n = 1; n <= 6; ++n) {
            const QString number = QString::number(100000 + n);
            lines << number << QStringLiteral("夜明けの歌 %1").arg(n);
            QFile(AppPaths(dir.path()).video(number)).open(QIODevice::WriteOnly);
        }
        QFile list(dir.filePath(QStringLiteral("db/musiclist.txt")));
        EXPECT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(encodeTextLines(lines));
        list.close();
        karaoke.resize(1280, 720);
        window.fitToParent();
        karaoke.show();
    }

    void post(Command command)
    {
        stage.post(std::move(command));
        QApplication::processEvents();
    }

    template <typename T> T* child(const char* name)
    {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QTemporaryDir dir;
    FakePlayer main;
    FakePlayer second;
    FakeClock clock;
    AppState state;
    Stage stage{main, second, state, AppPaths(dir.path()), clock};
    QWidget karaoke; // stands for the full-screen karaoke window
    StageWindow window{stage, &karaoke};
};

TEST_F(StageWindowTest, StripOverTheTopShowsWholeLinesAndWholeRowsWithoutTakingTheFocus)
{
    EXPECT_EQ(window.objectName(), QStringLiteral("Form3"));
    EXPECT_EQ(window.focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(window.isVisible());

    main.setMediaPath(QStringLiteral("song"));
    main.play();
    for (int n = 1; n <= 5; ++n)
        stage.post(Cmd::Reserve{SongNumber(100000 + n), QStringLiteral("ユキ")});
    post(Cmd::CodeError{});

    ASSERT_TRUE(window.isVisible());
    // Flush with the top of the screen, the whole width; the classic proportions scaled by 1.2.
    EXPECT_EQ(window.geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(window.width(), 1280);
    EXPECT_GE(window.height(), 180);

    auto* title = child<QLabel>("lbl_title");
    EXPECT_EQ(title->text(), QStringLiteral("Code Error!"));
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_GE(title->height(), QFontMetrics(title->font()).height()); // no glyph cut at the foot

    auto* ids = child<QListWidget>("lst_nextid");
    auto* titles = child<QListWidget>("lst_nexttitle");
    auto* users = child<QListWidget>("lst_nextuser");
    EXPECT_GT(ids->x(), title->x());
    EXPECT_GE(ids->y(), title->geometry().bottom());
    ASSERT_EQ(ids->count(), 5);
    EXPECT_EQ(titles->item(0)->text(), QStringLiteral("夜明けの歌 1"));
    EXPECT_EQ(users->item(0)->text(), QStringLiteral("ユキ"));
    const int rows = window.visibleRows();
    ASSERT_GE(rows, 1);
    ASSERT_LT(rows, 5);
    EXPECT_EQ(ids->visualItemRect(ids->item(rows - 1)).bottom(), ids->height() - 1); // the last row is whole
    EXPECT_EQ(child<QLabel>("lbl_next")->text(), QStringLiteral("次の予約 5曲\nほか %1曲").arg(5 - rows));

    // The status really is drawn in its colour on the dark strip.
    const QImage image = window.grab().toImage();
    bool yellow = false;
    for (int y = 0; y < title->height() && !yellow; ++y)
        for (int x = 0; x < 300 && !yellow; ++x)
            yellow = image.pixelColor(x, y) == QColor(255, 255, 0);
    EXPECT_TRUE(yellow);

    // A guest's held song is marked where it waits.
    post(Cmd::Hold{2, true});
    EXPECT_EQ(titles->item(0)->text(), QStringLiteral("夜明けの歌 1"));
    EXPECT_EQ(titles->item(1)->text(), QStringLiteral("保留 夜明けの歌 2"));
    EXPECT_EQ(users->item(1)->text(), QStringLiteral("ユキ"));
    post(Cmd::Hold{2, false});
    EXPECT_EQ(titles->item(1)->text(), QStringLiteral("夜明けの歌 2"));

    // The review brings a row that had no room into view.
    post(Cmd::ReviewStart{});
    for (int i = 0; i < 4; ++i)
        post(Cmd::ReviewNext{});
    EXPECT_EQ(titles->currentRow(), 4);
    EXPECT_TRUE(titles->viewport()->rect().contains(titles->visualItemRect(titles->item(4))));
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 255, 255));

    // A click repeats the last action; the strip hides when the stage says so.
    QTest::mouseClick(&window, Qt::LeftButton);
    EXPECT_EQ(stage.selectedIndex(), 0);
    stage.tmr_visible_Timer();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(StageWindowTest, KeyBadgeIsLegibleAndStaysWhileTheSongPlays)
{
    main.setMediaPath(QStringLiteral("song"));
    main.play();
    post(Cmd::Key{2});
    auto* badge = karaoke.findChild<QLabel*>(QStringLiteral("lbl_keytempo"));
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->text(), QStringLiteral("♯2"));
    ASSERT_TRUE(badge->isVisible());
    EXPECT_GE(QFontMetrics(badge->font()).ascent(), 24); // read from across the room at 1280 x 720
    EXPECT_GE(badge->y(), window.geometry().bottom());   // clear of the strip's lists
    EXPECT_LE(badge->geometry().right(), karaoke.width());

    stage.tmr_visible_Timer();
    ASSERT_FALSE(window.isVisible());
    EXPECT_TRUE(badge->isVisible()) << "the key is shown for the whole song";

    post(Cmd::Key{0});
    EXPECT_FALSE(badge->isVisible());
}
