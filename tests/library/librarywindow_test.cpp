#include "library/libraryfixture.h"

#include "common/savefile.h"
#include "library/librarywindow.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

using namespace tarv;
using namespace tarv::test;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(2);
    }
    return true;
}

// Answers modal dialogs in order as they come up, and records what each one said.
class DialogScript
{
public:
    using Answer = std::function<void(QWidget*)>;

    DialogScript()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    static Answer type(const QString& text)
    {
        return [text](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            ASSERT_TRUE(dialog) << "expected an input box";
            if (text.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->setTextValue(text);
            dialog->accept();
        };
    }
    static Answer press(QMessageBox::StandardButton button)
    {
        return [button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_TRUE(box) << "expected a message box";
            box->button(button)->click();
        };
    }

    void then(Answer answer) { m_answers.push_back(std::move(answer)); }
    bool allAnswered() const { return m_answers.empty(); }

    QStringList texts; // message box texts and input box prompts, in order
    QStringList titles;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || qobject_cast<QProgressDialog*>(modal) || m_answers.empty())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts << box->text();
            EXPECT_EQ(box->textFormat(), Qt::PlainText) << "file names and answers are not markup";
        } else if (auto* input = qobject_cast<QInputDialog*>(modal))
            texts << input->labelText();
        titles << modal->windowTitle();
        Answer answer = std::move(m_answers.front());
        m_answers.pop_front();
        answer(modal);
    }

    QTimer m_timer;
    std::deque<Answer> m_answers;
};

class LibraryWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        lib.writeList({{100001, QStringLiteral("一")}, {100002, QStringLiteral("二")}, {100003, QStringLiteral("三")}});
        for (const char* name : {"000000", "100001", "100002", "100003"})
            lib.writeVideo(QString::fromLatin1(name));
    }
    void TearDown() override { delete window; }

    void open()
    {
        previewWidget = new QWidget;
        window = new LibraryWindow(lib.paths, clock, previewWidget, preview);
        window->show();
    }

    template <typename T> T* child(const char* name) const
    {
        T* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }

    QStringList items(const char* list) const
    {
        QStringList out;
        const QAbstractItemModel* model = child<QListView>(list)->model();
        for (int i = 0; i < model->rowCount(); ++i)
            out << model->index(i, 0).data().toString();
        return out;
    }

    QStringList logShown() const { return child<QLabel>("lbl_input_dd")->text().split(u'\n', Qt::SkipEmptyParts); }

    void dropFiles(const QStringList& files)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        data.setUrls(urls);
        auto* label = child<QLabel>("lbl_input_dd");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &drop);
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction); // never a move, which would let the file manager delete
    }

    void doubleClickRow(int row)
    {
        auto* list = child<QListView>("lst_db_edit_allfile");
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        // An item view takes a double-click only after a press on the same item.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    TempLibrary lib;
    FakeClock clock;
    FakePlayer preview;
    QWidget* previewWidget = nullptr;
    LibraryWindow* window = nullptr;
    DialogScript dialogs;
};

TEST_F(LibraryWindowTest, OpensWithoutWebRootOrVideosAndADropRefreshesBothLists)
{
    QDir(lib.paths.srcDir()).removeRecursively();
    QDir().mkpath(lib.paths.srcDir());
    open();
    EXPECT_EQ(window->objectName(), QStringLiteral("Form4"));
    EXPECT_EQ(child<QWidget>("gom_tes"), previewWidget);
    for (const char* name : {"chk_autocopy", "chk_srcdel", "chk_autosave", "chk_db_edit_autosave"})
        EXPECT_TRUE(child<QCheckBox>(name)->isChecked()) << name;
    EXPECT_FALSE(child<QPushButton>("cmd_db_edit_change")->isEnabled());
    EXPECT_EQ(child<QLineEdit>("txt_db_edit_new_title")->text(), QStringLiteral("title"));
    EXPECT_EQ(items("lst_db_edit_allfile"), (QStringList{QStringLiteral("100001 | 一"), QStringLiteral("100002 | 二"),
                                                         QStringLiteral("100003 | 三")}));
    EXPECT_EQ(logShown(), (QStringList{QStringLiteral("--- All files:3Count (0MB : 0GB) ---"), DropHereLine}));

    QSignalSpy finished(window, &LibraryWindow::dropFinished);
    dialogs.then(DialogScript::type(QStringLiteral("100001")));
    dropFiles({lib.makeSource(QStringLiteral("four.mp4")), lib.makeSource(QStringLiteral("five.mp4"))});
    ASSERT_TRUE(waitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(dialogs.titles, QStringList{QStringLiteral("InputFirstFileNo")});
    EXPECT_EQ(logShown().at(4), QStringLiteral("100005|five"));
    EXPECT_EQ(items("lst_allfile").last(), QStringLiteral("100005 | five"));
    EXPECT_EQ(items("lst_db_edit_allfile").size(), 5);

    // Text without a file list is not taken.
    QMimeData text;
    text.setText(QStringLiteral("100009"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(child<QLabel>("lbl_input_dd"), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(LibraryWindowTest, ManualQuestionsComeUpOverTheProgressAndItsCancelStopsAfterTheCurrentFile)
{
    open();
    child<QCheckBox>("chk_autocopy")->setChecked(false);
    QSignalSpy finished(window, &LibraryWindow::dropFinished);
    QObject::connect(window, &LibraryWindow::dropProgress, window, [this](int handled, int) {
        if (handled != 1)
            return;
        // The dialog's own cancel button, as the operator presses it.
        auto* progress = window->findChild<QProgressDialog*>();
        ASSERT_TRUE(progress);
        const auto buttons = progress->findChildren<QPushButton*>();
        ASSERT_EQ(buttons.size(), 1);
        buttons.first()->click();
    });
    for (const QString& answer : {QStringLiteral("100007"), QStringLiteral("七")}) {
        dialogs.then([answer](QWidget* w) {
            EXPECT_TRUE(qobject_cast<QProgressDialog*>(w->parentWidget())) << "hidden behind the progress";
            DialogScript::type(answer)(w);
        });
    }
    const QStringList files = {lib.makeSource(QStringLiteral("a.mp4")), lib.makeSource(QStringLiteral("b.mp4")),
                               lib.makeSource(QStringLiteral("c.mp4"))};
    dropFiles(files);
    ASSERT_TRUE(waitFor([&] { return finished.count() == 1; }));

    EXPECT_TRUE(dialogs.allAnswered());
    EXPECT_EQ(logShown().first(), CancelLine);
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100002, 100003, 100007}));
    EXPECT_EQ(items("lst_allfile").size(), 4);
    EXPECT_TRUE(QFileInfo::exists(files[1]));
    EXPECT_FALSE(window->dropRunning());
}

// A drop that stops on a full disk while the progress dialog comes up: the error stays over the
// dialog, its own OK button answers it, and the sources stay where they were.
TEST_F(LibraryWindowTest, ADropsErrorBoxStaysOverTheProgressAndAnswersItsOwnButton)
{
    open();
    QSignalSpy finished(window, &LibraryWindow::dropFinished);
    dialogs.then(DialogScript::type(QStringLiteral("100011")));
    dialogs.then([](QWidget* w) {
        // Long enough for the progress dialog to show itself.
        QTest::qWait(600);
        EXPECT_EQ(QApplication::activeModalWidget(), w) << "hidden behind the progress";
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_TRUE(box);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        EXPECT_FALSE(box->isVisible()) << "its OK button did not answer";
    });
    const QStringList files = {lib.makeSource(QStringLiteral("a.mp4")), lib.makeSource(QStringLiteral("b.mp4"))};
    {
        const ScopedSaveFault full({SaveFault::Step::Write, 0, ENOSPC});
        dropFiles(files);
        ASSERT_TRUE(waitFor([&] { return finished.count() == 1; }));
    }
    EXPECT_TRUE(dialogs.allAnswered());
    EXPECT_TRUE(dialogs.texts.last().contains(QStringLiteral("ディスクの空き容量が足りません")));
    EXPECT_FALSE(logShown().join(u'\n').contains(QStringLiteral("Finish")));
    EXPECT_TRUE(QFileInfo::exists(files[0]) && QFileInfo::exists(files[1]));
    EXPECT_EQ(lib.listNumbers(), (QList<qint64>{100001, 100002, 100003}));
}

TEST_F(LibraryWindowTest, DoubleClickPreviewsThenChangeAndDeleteKeepListAndSrcInStep)
{
    open();
    doubleClickRow(1);
    EXPECT_EQ(preview.mediaPath(), lib.paths.video(QStringLiteral("100002")));
    EXPECT_EQ(child<QLabel>("lbl_db_edit_bef_no")->text(), QStringLiteral("100002　->"));
    EXPECT_EQ(child<QLineEdit>("txt_db_edit_new_title")->text(), QStringLiteral("二"));
    ASSERT_TRUE(child<QPushButton>("cmd_db_edit_change")->isEnabled());

    child<QLineEdit>("txt_db_edit_aft_no")->setText(QStringLiteral("100009"));
    child<QLineEdit>("txt_db_edit_new_title")->setText(QStringLiteral("九"));
    dialogs.then(DialogScript::press(QMessageBox::Yes));
    child<QPushButton>("cmd_db_edit_change")->click();
    EXPECT_EQ(dialogs.titles.last(), QStringLiteral("確認"));
    EXPECT_EQ(items("lst_allfile").last(), QStringLiteral("100009 | 九"));
    EXPECT_EQ(lib.srcFiles(), (QStringList{QStringLiteral("000000"), QStringLiteral("100001"), QStringLiteral("100003"),
                                           QStringLiteral("100009")}));
    auto* editList = child<QListView>("lst_db_edit_allfile");
    EXPECT_EQ(editList->currentIndex().row(), 1); // the position, which now holds another song
    EXPECT_EQ(editList->currentIndex().data().toString(), QStringLiteral("100003 | 三"));
    EXPECT_FALSE(child<QPushButton>("cmd_db_edit_change")->isEnabled());
    EXPECT_EQ(child<QLabel>("lbl_db_edit_bef_no")->text(), QStringLiteral("xxxxxx 　->"));
    EXPECT_EQ(child<QLineEdit>("txt_db_edit_aft_no")->text(), QStringLiteral("000000"));
    EXPECT_EQ(child<QLineEdit>("txt_db_edit_new_title")->text(), QString());

    doubleClickRow(0);
    dialogs.then(DialogScript::press(QMessageBox::Yes));
    child<QPushButton>("cmd_db_edit_del")->click();
    EXPECT_EQ(items("lst_db_edit_allfile"),
              (QStringList{QStringLiteral("100003 | 三"), QStringLiteral("100009 | 九")}));
    EXPECT_FALSE(QFileInfo::exists(lib.paths.video(QStringLiteral("100001"))));
    EXPECT_EQ(editList->currentIndex().row(), -1);
}

TEST_F(LibraryWindowTest, ExportsCheckAndWebRootAnswerWithTheirMessagesAndQuitDiscardsTheWindow)
{
    QFile::remove(lib.paths.video(QStringLiteral("100002")));
    open();
    dialogs.then(DialogScript::press(QMessageBox::Ok));
    child<QPushButton>("cmd_dbtohtml_cgi")->click();
    EXPECT_EQ(dialogs.titles.last(), QStringLiteral("エラー"));
    child<QPushButton>("cmd_dbtohtml")->click();
    EXPECT_EQ(child<QLabel>("lbl_dbtohtml_log")->text(), QStringLiteral("Finish : DB > HTML"));

    for (int i = 0; i < 3; ++i)
        dialogs.then(DialogScript::press(QMessageBox::Ok));
    child<QPushButton>("cmd_errcheck")->click();
    EXPECT_EQ(dialogs.texts.mid(1),
              (QStringList{QStringLiteral("DBとデータの数が一致しません。"), QStringLiteral("ここあたりおかしい：2"),
                           QStringLiteral("ここあたりおかしい：3")}));
    EXPECT_EQ(items("fle_err"),
              (QStringList{QStringLiteral("000000"), QStringLiteral("100001"), QStringLiteral("100003")}));
    child<QListWidget>("lst_err")->setCurrentRow(1);
    EXPECT_EQ(child<QListWidget>("fle_err")->currentRow(), 1);
    child<QListWidget>("lst_err")->setCurrentRow(3); // beyond the files found
    EXPECT_EQ(child<QListWidget>("fle_err")->currentRow(), -1);

    child<QLineEdit>("txt_path")->setText(QStringLiteral("/srv/www"));
    dialogs.then(DialogScript::press(QMessageBox::Ok));
    child<QPushButton>("cmd_path")->click();
    EXPECT_EQ(dialogs.texts.last(), QStringLiteral("変更しました。\n/srv/www"));
    EXPECT_EQ(TempLibrary::readBytes(lib.paths.webRootFile()), QByteArray("/srv/www\r\n"));

    QPointer<LibraryWindow> guard(window);
    child<QPushButton>("cmd_close")->click();
    ASSERT_TRUE(waitFor([&] { return guard.isNull(); }));
    window = nullptr;
    EXPECT_TRUE(preview.calls.contains(QStringLiteral("stop")));
}

// A big library's window opens before its videos' sizes are summed; the summary follows on its own.
TEST_F(LibraryWindowTest, ABigLibrarysSummaryFollowsTheOpening)
{
    QList<std::pair<qint64, QString>> songs;
    for (qint64 i = 0; i <= Library::SizesReadAtOnce; ++i)
        songs.append({100001 + i, QStringLiteral("曲")});
    lib.writeList(songs);
    open();
    EXPECT_EQ(items("lst_allfile").size(), songs.size());
    const QString summary = QStringLiteral("--- All files:%1Count (0MB : 0GB) ---").arg(songs.size());
    EXPECT_FALSE(logShown().contains(summary));
    ASSERT_TRUE(waitFor([&] { return logShown() == QStringList{summary, DropHereLine}; }));
}

} // namespace
