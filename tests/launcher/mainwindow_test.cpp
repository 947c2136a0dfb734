#include "common/savefile.h"
#include "common/textfile.h"
#include "launcher/launcher.h"
#include "launcher/mainwindow.h"
#include "launcher/startup.h"
#include "launcher/translations.h"
#include "personality/personalitywindow.h"
#include "stage/queuerecord.h"
#include "stage/turnsettings.h"
#include "support/appfolder.h"
#include "support/fakeclock.h"
#include "support/httpserver.h"
#include "support/wait.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarv;
using namespace Qt::StringLiterals;

namespace {

// Answers the next modal dialog with the given button, and remembers its title and text.
struct DialogAnswer
{
    QString title;
    QString text;
    void answerWith(QMessageBox::StandardButton button)
    {
        QTimer::singleShot(0, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            box->button(button)->click();
        });
    }
};

} // namespace

class MainWindowTest : public test::AppFolderTest
{
protected:
    void SetUp() override
    {
        test::AppFolderTest::SetUp();
        // The guest pages on any free port, so parallel tests never meet on one.
        ASSERT_TRUE(saveFile(paths.file(QStringLiteral("db/webport.txt")), "0").isEmpty());
    }
    AppState state;
};

TEST_F(MainWindowTest, MenusAreAsTheOperatorKnowsThem)
{
    MainWindow window(paths, state);
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("メニュー(&M)"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("オプション(&O)"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("システム(&S)"));

    struct Item
    {
        const char* name;
        QString caption;
        QKeySequence shortcut;
        bool enabled;
    };
    const QList<QList<Item>> expected = {
        {{"mem_TarvActive", QStringLiteral("起動(&S)"), QKeySequence(Qt::Key_F1), true},
         {"mem_ZihoActive", QStringLiteral("時報有効起動(&Z)"), QKeySequence(Qt::Key_F4), true},
         {"mh11", QString(), {}, true},
         {"men_Wirelessmode", QStringLiteral("ワイヤレスモード(&W)"), {}, false},
         {"mh12", QString(), {}, true},
         {"men_Quit", QStringLiteral("終了(&X)"), {}, true}},
        {{"men_Db", QStringLiteral("DB操作(&D)"), {}, true},
         {"men_Signal", QStringLiteral("時報設定(&S)"), QKeySequence(Qt::CTRL | Qt::Key_S), true},
         {"men_Chara", QStringLiteral("性格設定(&C)"), {}, false},
         {"men_Comment", QStringLiteral("コメント設定(&T)"), QKeySequence(Qt::CTRL | Qt::Key_C), false},
         {"men_KaraokeScreen", QStringLiteral("カラオケ画面(&K)"), {}, true},
         {"men_QueueOrder", QStringLiteral("予約の順番(&R)"), {}, true},
         {"men_Closing", QStringLiteral("閉店時刻(&L)"), {}, true}},
        {{"men_Connection", QStringLiteral("コネクション(&C)"), QKeySequence(Qt::CTRL | Qt::Key_N), true},
         {"mh31", QString(), {}, true},
         {"men_Version", QStringLiteral("バージョン情報(&A)"), {}, true}},
    };
    for (int m = 0; m < 3; ++m) {
        const QList<QAction*> items = menus[m]->menu()->actions();
        ASSERT_EQ(items.size(), expected[m].size());
        for (int i = 0; i < items.size(); ++i) {
            const Item& want = expected[m][i];
            EXPECT_EQ(items[i]->objectName(), QString::fromLatin1(want.name));
            EXPECT_EQ(items[i]->isSeparator(), want.caption.isEmpty()) << want.name;
            if (want.caption.isEmpty())
                continue;
            EXPECT_EQ(items[i]->text(), want.caption);
            EXPECT_EQ(items[i]->shortcut(), want.shortcut) << want.name;
            EXPECT_EQ(items[i]->isEnabled(), want.enabled) << want.name;
        }
    }
}

// 予約の順番 and 閉店時刻 are saved where karaoke mode reads them; the order's menu shows what is saved.
TEST_F(MainWindowTest, TheQueueOrderAndTheClosingTimeAreSaved)
{
    test::FakeClock clock;
    Launcher launcher(paths, clock);
    ASSERT_TRUE(launcher.start());
    MainWindow& window = *launcher.mainWindow();
    QAction* fifo = window.action(u"men_Fifo"_s);
    QAction* rotation = window.action(u"men_Rotation"_s);
    ASSERT_TRUE(fifo && rotation);
    EXPECT_EQ(fifo->text(), u"予約順(&F)"_s);
    EXPECT_EQ(rotation->text(), u"交代制(&T)"_s);
    EXPECT_TRUE(fifo->isChecked());
    rotation->trigger();
    EXPECT_EQ(readQueueOrder(paths), QueueOrder::Rotation);
    EXPECT_TRUE(rotation->isChecked() && !fifo->isChecked());
    ASSERT_TRUE(saveQueueOrder(paths, QueueOrder::Fifo).isEmpty()); // changed beside the menu
    emit window.action(u"men_QueueOrder"_s)->menu()->aboutToShow();
    EXPECT_TRUE(fifo->isChecked());

    // Typed into the dialog: a time that is none is refused there, a time is saved, "なし" clears it.
    const auto answer = [](const QString& typed, const char* button) {
        QTimer::singleShot(0, [typed, button] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* box = dialog->findChild<QLineEdit*>(u"closingTimeBox"_s);
            box->setText(typed);
            if (button)
                dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
            else
                QTest::keyClick(box, Qt::Key_Return);
            if (dialog->isVisible()) { // refused: said, and corrected
                EXPECT_TRUE(dialog->findChild<QLabel*>(u"closingTimeProblem"_s)->isVisible());
                box->setText(u"23:30"_s);
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
    };
    answer(u"25:00"_s, nullptr);
    window.action(u"men_Closing"_s)->trigger();
    EXPECT_EQ(readClosingTime(paths), QTime(23, 30));
    answer(u"0:45"_s, nullptr);
    window.action(u"men_Closing"_s)->trigger();
    EXPECT_EQ(readClosingTime(paths), QTime(0, 45));
    answer(QString(), "closingTimeNone");
    window.action(u"men_Closing"_s)->trigger();
    EXPECT_EQ(readClosingTime(paths), std::nullopt);
}

TEST_F(MainWindowTest, ShowsTheInformationTextAndRefreshesItOnReturn)
{
    MainWindow window(paths, state);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* label = window.findChild<QLabel*>(QStringLiteral("lbl_system"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("System Version:1.00\n")));
    EXPECT_TRUE(state.isLocal());

    // The library window changed the list: coming back to the main window shows its new date.
    const QDateTime stamp(QDate(2030, 1, 2), QTime(3, 4, 0));
    QFile list(paths.songList());
    ASSERT_TRUE(list.open(QIODevice::ReadWrite));
    ASSERT_TRUE(list.setFileTime(stamp, QFileDevice::FileModificationTime));
    list.close();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::waitFor([&] { return !window.isActiveWindow(); }));
    window.activateWindow();
    ASSERT_TRUE(test::waitFor([&] { return window.isActiveWindow(); }));
    EXPECT_TRUE(window.informationText().endsWith(QLocale::system().toString(stamp, QLocale::ShortFormat)));
}

TEST_F(MainWindowTest, VersionDialogOpensTheMakerPageOnlyOnYes)
{
    MainWindow window(paths, state);
    QList<QUrl> opened;
    window.setUrlOpener([&opened](const QUrl& url) { opened << url; });

    DialogAnswer answer;
    answer.answerWith(QMessageBox::No);
    window.showVersionDialog();
    EXPECT_EQ(answer.title, QStringLiteral("バージョン情報"));
    EXPECT_TRUE(answer.text.contains(QStringLiteral("System Version : 1.00")));
    EXPECT_TRUE(opened.isEmpty());

    answer.answerWith(QMessageBox::Yes);
    window.showVersionDialog();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(MakerPage)});
}

TEST_F(MainWindowTest, StartMenuItemsAskForKaraokeMode)
{
    MainWindow window(paths, state);
    QSignalSpy start(&window, &MainWindow::startRequested);
    QSignalSpy timeSignal(&window, &MainWindow::timeSignalStartRequested);
    window.action(QStringLiteral("mem_TarvActive"))->trigger();
    window.action(QStringLiteral("mem_ZihoActive"))->trigger();
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(timeSignal.count(), 1);
}

TEST_F(MainWindowTest, QuitAndTheCloseBoxEndTheProgramWithOtherWindowsOpen)
{
    for (const bool closeBox : {false, true}) {
        MainWindow window(paths, state);
        window.show();
        auto* other = new PersonalityWindow(&window); // another window of the program stays open
        other->show();
        QTimer::singleShot(0, &window, [&window, closeBox] {
            if (closeBox)
                window.close();
            else
                window.action(QStringLiteral("men_Quit"))->trigger();
        });
        QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(1); }); // a safety net only
        EXPECT_EQ(QApplication::exec(), 0) << (closeBox ? "close box" : "men_Quit");
    }
}

TEST_F(MainWindowTest, ASecondCopyIsRefusedAndWritesNothing)
{
    test::FakeClock clock;
    Launcher first(paths, clock);
    ASSERT_TRUE(first.start());
    ASSERT_EQ(QDir(paths.backupDir()).entryList(QDir::Files).size(), 1);

    const auto snapshot = [this] {
        QStringList files;
        QDirIterator it(paths.root(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            files << info.filePath() + u' ' + QString::number(info.size()) + u' ' +
                         QString::number(info.lastModified().toMSecsSinceEpoch());
        }
        files.sort();
        return files;
    };
    const QStringList before = snapshot();

    clock.advanceMs(2000);
    Launcher second(paths, clock);
    DialogAnswer answer;
    answer.answerWith(QMessageBox::Ok);
    EXPECT_FALSE(second.start());
    EXPECT_EQ(answer.title, QStringLiteral("エラー"));
    EXPECT_EQ(answer.text, QStringLiteral("既に起動しています"));
    EXPECT_EQ(second.mainWindow(), nullptr);
    EXPECT_EQ(QDir(paths.backupDir()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(MainWindowTest, TheWirelessDownloadShowsTheWaitCursorCanBeCancelledAndReportsANonList)
{
    test::FakeClock clock;
    Launcher launcher(paths, clock);
    ASSERT_TRUE(launcher.start());
    const QByteArray list = readFileBytes(paths.songList(), 64 << 20).value_or("<missing>");
    test::TestServer server;
    ASSERT_TRUE(saveFile(paths.remoteAddressFile(), server.address().toUtf8()).isEmpty());

    server.serveEndless();
    launcher.startWireless();
    ASSERT_NE(launcher.wirelessDownload(), nullptr);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    auto* progress = launcher.mainWindow()->findChild<QProgressDialog*>(QStringLiteral("wirelessProgress"));
    ASSERT_NE(progress, nullptr);
    QSignalSpy received(launcher.wirelessDownload(), &SongListDownload::progress);
    ASSERT_TRUE(received.wait(5000)) << "the event loop runs during the download";
    progress->findChild<QAbstractButton*>()->click(); // キャンセル
    ASSERT_TRUE(test::waitFor([&] { return launcher.wirelessDownload() == nullptr; }));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(launcher.appState().connectionMode(), QStringLiteral("act")) << "karaoke mode did not start";
    EXPECT_EQ(readFileBytes(paths.songList(), 64 << 20), list);

    server.serve("<html><body>\r\nError\r\n</body></html>\r\n");
    launcher.startWireless();
    QMessageBox* box = nullptr;
    ASSERT_TRUE(test::waitFor([&] {
        box = launcher.mainWindow()->findChild<QMessageBox*>(QStringLiteral("wirelessError"));
        return box && launcher.wirelessDownload() == nullptr;
    }));
    EXPECT_TRUE(box->text().contains(QStringLiteral("曲リストではありません"))) << box->text().toStdString();
    box->close();
    EXPECT_EQ(readFileBytes(paths.songList(), 64 << 20), list);
    EXPECT_EQ(launcher.appState().connectionMode(), QStringLiteral("act"));
}

// Reservations a crash left are offered back, the song that was playing first: はい (the default) keeps
// them for the next karaoke mode, いいえ discards them, and Escape or the close button puts the question
// off until the next start; a normal end leaves nothing else to offer.
TEST_F(MainWindowTest, ReservationsLeftByACrashAreOfferedBackUntilAnswered)
{
    test::FakeClock clock;
    enum class Answer { Yes, No, Escape, Close };
    const struct
    {
        Answer answer;
        bool kept;
        qsizetype offeredNext;
    } rows[] = {{Answer::Escape, false, 2}, {Answer::Close, false, 2}, {Answer::No, false, 0}, {Answer::Yes, true, 0}};
    const QList<RecordedReservation> offered{{SongNumber(100002), u"太郎"_s, KeyTempo{2, -5}, u"phone"_s, 7, true},
                                             {SongNumber(100001), u"花子"_s}};
    for (const auto& row : rows) {
        ASSERT_TRUE(saveFile(paths.queueRecord(), "100001\t花子\n100002\t太郎\t2\t-5\tphone\t7\tplaying\n").isEmpty());
        auto launcher = std::make_unique<Launcher>(paths, clock);
        ASSERT_TRUE(launcher->start());
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget(), launcher->mainWindow());
        EXPECT_EQ(box->windowTitle(), QStringLiteral("予約の復元"));
        EXPECT_TRUE(box->text().startsWith(
            QStringLiteral("前回のカラオケの予約が 2 曲残っています。次のカラオケで復元しますか？\n演奏中だった曲も")))
            << box->text().toStdString();
        ASSERT_NE(box->defaultButton(), nullptr);
        EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("はい"));
        EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("いいえ"));
        EXPECT_EQ(launcher->queueRecord()->offered(), offered);
        switch (row.answer) {
        case Answer::Yes:
        case Answer::No:
            box->button(row.answer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No)->click();
            break;
        case Answer::Escape:
            QTest::keyClick(box, Qt::Key_Escape);
            break;
        case Answer::Close:
            box->close();
            break;
        }
        ASSERT_TRUE(test::waitFor([] { return QApplication::activeModalWidget() == nullptr; }));

        QList<RecordedReservation> kept = offered;
        kept[0].playing = false; // only the first to play now
        EXPECT_EQ(launcher->queueRecord()->queue(), row.kept ? kept : QList<RecordedReservation>());
        launcher.reset();
        QueueRecord onDisk(paths.queueRecord());
        EXPECT_EQ(onDisk.load(), row.offeredNext) << "a normal end leaves only what was put off";
    }
    Launcher again(paths, clock);
    ASSERT_TRUE(again.start());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A record that is not what this program writes is offered only as far as it can be read, and a refusal
// is said once, in words, on the main window; the start never waits for it.
TEST_F(MainWindowTest, ARecordThatCannotBeReadOffersOnlyWhatItCan)
{
    test::FakeClock clock;
    QByteArray binary(4096, Qt::Uninitialized);
    QRandomGenerator random(27);
    for (char& c : binary)
        c = char(random.bounded(256));
    for (qsizetype i = 0; i < binary.size(); i += 300)
        binary.replace(i, 3, "\t\n1");
    QByteArray many;
    for (int i = 0; i <= RecordContent::MaxEntries; ++i)
        many += "100001\tGuest\n";
    enum class Kind { Pipe, LinkToZero, File };
    const struct
    {
        const char* name;
        Kind kind;
        QByteArray content;
        qsizetype offered;
    } rows[] = {
        {"a pipe", Kind::Pipe, {}, 0},
        {"a link to /dev/zero", Kind::LinkToZero, {}, 0},
        {"longer than any record", Kind::File, QByteArray(5 << 20, '1'), 0},
        {"binary", Kind::File, binary, 0},
        {"a million short lines", Kind::File, QByteArray(1'000'000, '\n').replace("\n", "1\n"), 0},
        {"more than a room's queue", Kind::File, many, RecordContent::MaxEntries},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = paths.queueRecord();
        QFile::remove(path);
        if (row.kind == Kind::Pipe)
            ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (row.kind == Kind::LinkToZero)
            ASSERT_TRUE(QFile::link(u"/dev/zero"_s, path));
        else
            ASSERT_TRUE(saveFile(path, row.content).isEmpty());
        QElapsedTimer started;
        started.start();
        Launcher launcher(paths, clock);
        ASSERT_TRUE(launcher.start());
        EXPECT_LT(started.elapsed(), 5000);
        EXPECT_EQ(launcher.queueRecord()->offered().size(), row.offered);
        const auto* question = launcher.mainWindow()->findChild<QMessageBox*>(QStringLiteral("restoreQueue"));
        const auto* warning = launcher.mainWindow()->findChild<QMessageBox*>(QStringLiteral("queueRecordError"));
        ASSERT_EQ(question != nullptr, row.offered > 0);
        ASSERT_EQ(warning != nullptr, row.offered == 0);
        const QString said = question ? question->text() : warning->text();
        EXPECT_EQ(said.startsWith(QStringLiteral("前回のカラオケの予約が %1 曲").arg(row.offered)),
                  question != nullptr);
        EXPECT_TRUE(said.contains(paths.queueRecord())) << said.toStdString();
    }
    EXPECT_FALSE(QFileInfo(u"/dev/zero"_s).isFile()) << "a save went through the link";
}

TEST(FirstStart, TheMainWindowSaysOnceThatAnEmptyLibraryWasMade)
{
    QTemporaryDir dir;
    test::FakeClock clock;
    for (const bool first : {true, false}) {
        Launcher launcher(AppPaths(dir.path()), clock);
        ASSERT_TRUE(launcher.start());
        const auto* notice = launcher.mainWindow()->findChild<QLabel*>(QStringLiteral("lbl_notice"));
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->isVisibleTo(launcher.mainWindow()), first);
        EXPECT_EQ(notice->text().contains(dir.path()), first);
    }
}

// What the start's recovery refused is said in the main window, once.
TEST_F(MainWindowTest, TheMainWindowSaysOnceWhatRecoveryLeftAsItWas)
{
    test::FakeClock clock;
    ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
    ASSERT_TRUE(saveFile(paths.video(QStringLiteral("100060")), "video").isEmpty());
    ASSERT_TRUE(saveFile(paths.file(QStringLiteral("db/dropping.txt")), "100060\r\n").isEmpty());
    for (const bool first : {true, false}) {
        Launcher launcher(paths, clock);
        ASSERT_TRUE(launcher.start());
        const auto* notice = launcher.mainWindow()->findChild<QLabel*>(QStringLiteral("lbl_notice"));
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->isVisibleTo(launcher.mainWindow()), first);
        EXPECT_EQ(notice->text().contains(QStringLiteral("src/100060")), first) << notice->text().toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(paths.video(QStringLiteral("100060"))));
}

TEST(TranslationsTest, QtsOwnButtonsSpeakJapanese)
{
    QTranslator* translator = installJapaneseTranslations();
    ASSERT_TRUE(translator) << "qt6-translations-l10n is installed by the README's commands";
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // With their keys, as Japanese desktops write them: "はい(Y)".
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")));
    EXPECT_TRUE(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")));
    EXPECT_TRUE(box.button(QMessageBox::Cancel)->text().startsWith(QStringLiteral("キャンセル")));
    QCoreApplication::removeTranslator(translator);
}
