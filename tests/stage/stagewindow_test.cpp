#include "common/textfile.h"
#include "stage/stagewindow.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;

class StageWindowTest : public ::testing::Test
{
protected:
    StageWindowTest()
    {
        QDir(dir.path()).mkpath(QStringLiteral("db"));
        QFile list(dir.filePath(QStringLiteral("db/musiclist.txt")));
        EXPECT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(encodeTextLines({QStringLiteral(" 100001 "), QStringLiteral("夜明けの歌"),
                                    QStringLiteral(" 100002 "), QStringLiteral("海の声")}));
        list.close();
        control.setGeometry(0, 0, 1280, 720);
        window.setControlWindow(&control);
    }

    void post(const QString& code)
    {
        window.stage().post(code);
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
    FixedStageEnvironment environment;
    QWidget control;
    StageWindow window{main, second, environment, AppPaths(dir.path()), clock};
};

TEST_F(StageWindowTest, ShowsAColouredStatusAndTheQueueColumnsWithoutTakingTheFocus)
{
    EXPECT_EQ(window.objectName(), QStringLiteral("Form3"));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(window.isVisible());

    main.setMediaPath(QStringLiteral("song"));
    main.play();
    window.stage().setCurrentUser(QStringLiteral("ユキ"));
    post(QStringLiteral("100001"));
    window.stage().setCurrentUser(QStringLiteral("Guest"));
    post(QStringLiteral("100002"));
    post(QStringLiteral("000001"));

    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.geometry(), QRect(1, 1, 1279, 160));

    auto* title = child<QLabel>("lbl_title");
    EXPECT_EQ(title->text(), QStringLiteral("Code Error!"));
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_EQ(title->geometry(), QRect(0, 0, 1279, 35));
    EXPECT_DOUBLE_EQ(title->font().pointSizeF(), 26.25);

    auto* ids = child<QListWidget>("lst_nextid");
    auto* titles = child<QListWidget>("lst_nexttitle");
    auto* users = child<QListWidget>("lst_nextuser");
    EXPECT_EQ(ids->geometry(), QRect(216, 104, 177, 52));
    EXPECT_EQ(titles->geometry(), QRect(400, 104, 177, 52));
    EXPECT_EQ(users->geometry(), QRect(584, 104, 177, 52));
    ASSERT_EQ(ids->count(), 2);
    EXPECT_EQ(ids->item(1)->text(), QStringLiteral("100002"));
    EXPECT_EQ(titles->item(0)->text(), QStringLiteral("夜明けの歌"));
    EXPECT_EQ(users->item(0)->text(), QStringLiteral("ユキ"));
    EXPECT_EQ(child<QLabel>("lbl_next")->text(), QStringLiteral("次の予約 2曲"));

    // The status really is drawn in its colour on the dark strip.
    const QImage image = window.grab().toImage();
    bool yellow = false;
    for (int y = 0; y < 35 && !yellow; ++y)
        for (int x = 0; x < 300 && !yellow; ++x)
            yellow = image.pixelColor(x, y) == QColor(255, 255, 0);
    EXPECT_TRUE(yellow);
    EXPECT_EQ(image.pixelColor(1200, 140), QColor(16, 16, 24));

    post(QStringLiteral("000012"));
    EXPECT_EQ(titles->currentRow(), 0);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 255, 255));
}

TEST_F(StageWindowTest, ClickRepeatsAndTheHideTimerHidesTheStrip)
{
    post(QStringLiteral("100001"));
    post(QStringLiteral("000014"));
    QTest::mouseClick(&window, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(main.position(), 10);

    auto* hide = child<QTimer>("tmr_visible");
    EXPECT_TRUE(hide->isActive());
    EXPECT_EQ(hide->interval(), 5000);
    hide->setInterval(10);
    hide->start();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window.isVisible(); }, 5000));
    EXPECT_FALSE(window.stage().isShowing());
    EXPECT_FALSE(hide->isActive());
}
