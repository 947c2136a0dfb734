#include "control/commandentry.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <gtest/gtest.h>

using namespace tarv;
using test::FakeClock;
using test::FakePlayer;

namespace {

// The stage as the command entry sees it; remembers every post.
class FakeStage : public StageLink
{
public:
    void post(Command command) override
    {
        slot = tarv::codeSlot(command);
        posts << slot;
        last = std::move(command);
        showing = true;
    }
    bool isShowing() const override { return showing; }
    QString codeSlot() const override { return slot; }
    int pendingCount() const override { return pending; }
    void catchUp() override {}
    bool songPlaying() const override { return false; }

    QStringList posts;
    bool showing = false;
    QString slot;
    int pending = 0;
    Command last;
};

class FakeQuitTimer : public QuitTimer
{
public:
    void startQuitTimer() override { ++quitTimerStarts; }
    int quitTimerStarts = 0;
};

class CommandEntryTest : public ::testing::Test
{
protected:
    CommandEntryTest() { entry.setQuitTimer(&view); }

    // Runs DoCommand on a text and returns what it posted ("" for nothing).
    QString run(const QString& text)
    {
        stage.posts.clear();
        entry.setText(text);
        entry.DoCommand();
        EXPECT_TRUE(entry.text().isEmpty());
        EXPECT_TRUE(entry.keepFocus());
        return stage.posts.isEmpty() ? QString() : stage.posts.join(u',');
    }
    // Types a text and presses Enter on the keypad.
    QString enter(const QString& typed)
    {
        stage.posts.clear();
        entry.setText(typed);
        entry.txt_input_KeyUp(Qt::Key_Enter);
        return stage.posts.join(u',');
    }
    void setStage(bool showing, const QString& slot, int pending)
    {
        stage.showing = showing;
        stage.slot = slot;
        stage.pending = pending;
    }
    void playMain()
    {
        main.setMediaPath(QStringLiteral("/src/100001"));
        main.play();
    }

    FakeStage stage;
    FakePlayer main;
    FakePlayer second;
    FakeClock clock{QDateTime(QDate(2026, 12, 1), QTime(20, 0))};
    FakeQuitTimer view;
    CommandEntry entry{stage, main, second, clock};
};

} // namespace

TEST_F(CommandEntryTest, GrammarRowsInOrder)
{
    struct Row
    {
        QString text;
        bool showing;
        QString slot;
        int pending;
        bool playing;
        QString posts;
    };
    const QString S = QStringLiteral("000007");
    const QList<Row> rows = {
        {QStringLiteral("123456"), false, {}, 0, false, QStringLiteral("123456")},
        {QStringLiteral("000005"), false, {}, 0, false, QStringLiteral("000005")},
        {QStringLiteral("0"), true, S, 0, false, QStringLiteral("000005")},
        {QString(), false, {}, -1, false, QStringLiteral("000005")},
        {QStringLiteral("0"), true, S, 2, false, QStringLiteral("000007")},
        {QStringLiteral("0"), false, S, 2, false, QStringLiteral("000012")},
        {QStringLiteral("0"), true, QStringLiteral("100001"), 2, false, QStringLiteral("000012")},
        {QStringLiteral("610"), false, {}, 0, false, QStringLiteral("000017")},
        {QStringLiteral("11"), false, QStringLiteral("100001"), 1, false, QString()},
        {QStringLiteral("11"), true, QStringLiteral("100001"), 1, false, QStringLiteral("000010")},
        {QStringLiteral("11"), true, S, 2, false, QStringLiteral("000011")},
        {QStringLiteral("11"), true, QStringLiteral("000005"), 2, false, QString()},
        {QStringLiteral("99"), false, S, 2, false, QString()},
        {QStringLiteral("99"), true, S, 0, false, QStringLiteral("000005")},
        {QStringLiteral("99"), true, QStringLiteral("000008"), 2, false, QString()},
        {QStringLiteral("99"), true, S, 2, false, QStringLiteral("000008")},
        {QStringLiteral("66"), false, {}, 0, true, QStringLiteral("000014")},
        {QStringLiteral("66"), false, {}, 0, false, QString()},
        {QStringLiteral("55"), true, QStringLiteral("000015"), 0, true, QStringLiteral("000016")},
        {QStringLiteral("55"), false, QStringLiteral("000015"), 0, true, QStringLiteral("000015")},
        {QStringLiteral("44"), true, QStringLiteral("000006"), 0, true, QStringLiteral("000009")},
        {QStringLiteral("44"), true, QStringLiteral("000014"), 0, true, QStringLiteral("000006")},
        {QStringLiteral("3301"), false, {}, 0, false, QStringLiteral("000013")},
        {QStringLiteral("3302"), false, {}, 0, false, QStringLiteral("000001")},
        {QStringLiteral("3"), false, {}, 0, false, QStringLiteral("3")},
        {QStringLiteral("10"), false, {}, 0, false, QStringLiteral("10")},
        {QStringLiteral("x"), false, {}, 0, false, QStringLiteral("0")}, // volume 0
        {QStringLiteral("12"), false, {}, 0, false, QStringLiteral("000001")},
        {QStringLiteral("12345"), false, {}, 0, false, QStringLiteral("000001")},
        {QStringLiteral("1234567"), false, {}, 0, false, QStringLiteral("000001")},
    };
    for (const Row& row : rows) {
        setStage(row.showing, row.slot, row.pending);
        if (row.playing)
            playMain();
        else
            main.stop();
        EXPECT_EQ(run(row.text), row.posts)
            << "text '" << row.text.toStdString() << "' slot " << row.slot.toStdString() << " pending " << row.pending;
    }
}

TEST_F(CommandEntryTest, QuitCodeAndEscapeStartTheQuitTimer)
{
    EXPECT_EQ(run(QStringLiteral("000000")), QStringLiteral("000002"));
    EXPECT_EQ(view.quitTimerStarts, 1);
    stage.posts.clear();
    entry.txt_input_KeyUp(Qt::Key_Escape);
    EXPECT_EQ(stage.posts, QStringList{QStringLiteral("000002")});
    EXPECT_EQ(view.quitTimerStarts, 2);
}

TEST_F(CommandEntryTest, EnterNormalisesTheTypedNumberForGuest)
{
    EXPECT_EQ(enter(QStringLiteral("123456")), QStringLiteral("123456"));
    ASSERT_TRUE(std::holds_alternative<Cmd::Reserve>(stage.last));
    EXPECT_EQ(std::get<Cmd::Reserve>(stage.last).user, QStringLiteral("Guest"));
    EXPECT_EQ(std::get<Cmd::Reserve>(stage.last).number, SongNumber(123456));
    EXPECT_EQ(enter(QStringLiteral("0123456")), QStringLiteral("123456"));
    EXPECT_EQ(enter(QStringLiteral("012345")), QStringLiteral("000001")); // 12345: five characters
    setStage(false, {}, 2);
    EXPECT_EQ(enter(QStringLiteral("000000")), QStringLiteral("000012")); // "0", never the quit
    EXPECT_EQ(view.quitTimerStarts, 0);
    setStage(false, {}, 0);
    EXPECT_EQ(enter(QString()), QStringLiteral("000005"));
    EXPECT_EQ(enter(QStringLiteral("abc")), QStringLiteral("000005"));
    EXPECT_EQ(enter(QStringLiteral("0044")), QStringLiteral("000006"));
    EXPECT_EQ(enter(QStringLiteral("000005")), QStringLiteral("5"));
}

TEST_F(CommandEntryTest, EnterWaitsWhileATimeSignalPlays)
{
    second.setMediaPath(QStringLiteral("/src/001001"));
    second.play();
    EXPECT_EQ(enter(QStringLiteral("100001")), QString());
    EXPECT_EQ(entry.text(), QStringLiteral("100001"));
    second.finish();
    stage.posts.clear();
    entry.txt_input_KeyUp(Qt::Key_Return);
    EXPECT_EQ(stage.posts, QStringList{QStringLiteral("100001")});
}

TEST_F(CommandEntryTest, TwoStepQuestionsNeedTheQuestionStillShowing)
{
    EXPECT_EQ(enter(QStringLiteral("44")), QStringLiteral("000006"));
    EXPECT_EQ(enter(QStringLiteral("44")), QStringLiteral("000009"));
    EXPECT_EQ(enter(QStringLiteral("55")), QStringLiteral("000015"));
    stage.showing = false; // the stage hid itself
    EXPECT_EQ(enter(QStringLiteral("55")), QStringLiteral("000015"));
}

TEST_F(CommandEntryTest, ArrowsSetVolumeLevels)
{
    main.setVolume(100);
    entry.txt_input_KeyUp(Qt::Key_Up);
    EXPECT_EQ(stage.posts.last(), QStringLiteral("10"));
    main.setVolume(10);
    entry.txt_input_KeyUp(Qt::Key_Down);
    EXPECT_EQ(stage.posts.last(), QStringLiteral("1"));
    main.setVolume(50);
    entry.txt_input_KeyUp(Qt::Key_Up);
    EXPECT_EQ(stage.posts.last(), QStringLiteral("6"));
    entry.txt_input_KeyUp(Qt::Key_Down);
    EXPECT_EQ(stage.posts.last(), QStringLiteral("4"));
    // After a fade the volume sits between levels: the nearest level is used, never "Code Error!".
    main.setVolume(43.7);
    EXPECT_EQ(entry.volumeLevel(+1), QStringLiteral("5"));
    EXPECT_EQ(entry.volumeLevel(-1), QStringLiteral("3"));
    main.setVolume(0.4);
    EXPECT_EQ(entry.volumeLevel(-1), QStringLiteral("1"));
}

TEST_F(CommandEntryTest, RightArrowFastForwardsOnEveryRepeatAndOnRelease)
{
    playMain();
    stage.pending = 1;
    // A quick tap: one skip.
    entry.txt_input_KeyDown(Qt::Key_Right);
    entry.txt_input_KeyUp(Qt::Key_Right);
    EXPECT_EQ(stage.posts, QStringList{QStringLiteral("000014")});
    // Held across focus-keeper ticks: every repeat skips, and the release once more.
    stage.posts.clear();
    entry.focusKeeperRan();
    entry.txt_input_KeyDown(Qt::Key_Right);
    entry.focusKeeperRan();
    entry.txt_input_KeyDown(Qt::Key_Right);
    entry.focusKeeperRan();
    entry.txt_input_KeyUp(Qt::Key_Right);
    EXPECT_EQ(stage.posts, QStringList(3, QStringLiteral("000014")));
    main.stop();
    entry.txt_input_KeyDown(Qt::Key_Right);
    EXPECT_EQ(stage.posts.size(), 3);
}

TEST_F(CommandEntryTest, LosingTheFocusArmsTheFocusKeeper)
{
    EXPECT_FALSE(entry.keepFocus());
    entry.txt_input_LostFocus();
    EXPECT_TRUE(entry.keepFocus());
}
