#include "launcher/mainwindow.h"

#include "launcher/startup.h"
#include "stage/turnsettings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include <tuple>

namespace tarv {

MainWindow::MainWindow(const AppPaths& paths, const AppState& state, QWidget* parent)
    : QMainWindow(parent), m_paths(paths), m_state(state),
      m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tarv"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    m_system = new QLabel(central);
    m_system->setObjectName(QStringLiteral("lbl_system"));
    m_system->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_mode = new QLabel(m_state.connectionMode(), central);
    m_mode->setObjectName(QStringLiteral("lbl_mode"));
    m_mode->setVisible(false);
    m_notice = new QLabel(central);
    m_notice->setObjectName(QStringLiteral("lbl_notice"));
    m_notice->setWordWrap(true);
    m_notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notice->setVisible(false);
    layout->addWidget(m_system);
    layout->addWidget(m_notice);
    layout->addStretch();
    setCentralWidget(central);
    resize(480, 220);

    buildMenus();
    refreshInformation();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::addItem(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut,
                             bool enabled)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    action->setEnabled(enabled);
    return action;
}

void MainWindow::buildMenus()
{
    QMenu* menu = menuBar()->addMenu(QStringLiteral("メニュー(&M)"));
    menu->setObjectName(QStringLiteral("men_Menu"));
    connect(addItem(menu, QStringLiteral("mem_TarvActive"), QStringLiteral("起動(&S)"), Qt::Key_F1),
            &QAction::triggered, this, &MainWindow::startRequested);
    connect(addItem(menu, QStringLiteral("mem_ZihoActive"), QStringLiteral("時報有効起動(&Z)"), Qt::Key_F4),
            &QAction::triggered, this, &MainWindow::timeSignalStartRequested);
    menu->addSeparator()->setObjectName(QStringLiteral("mh11"));
    connect(addItem(menu, QStringLiteral("men_Wirelessmode"), QStringLiteral("ワイヤレスモード(&W)"), {}, false),
            &QAction::triggered, this, &MainWindow::wirelessStartRequested);
    menu->addSeparator()->setObjectName(QStringLiteral("mh12"));
    connect(addItem(menu, QStringLiteral("men_Quit"), QStringLiteral("終了(&X)")), &QAction::triggered, this,
            &QWidget::close);

    QMenu* option = menuBar()->addMenu(QStringLiteral("オプション(&O)"));
    option->setObjectName(QStringLiteral("men_Option"));
    connect(addItem(option, QStringLiteral("men_Db"), QStringLiteral("DB操作(&D)")), &QAction::triggered, this,
            &MainWindow::libraryRequested);
    connect(addItem(option, QStringLiteral("men_Signal"), QStringLiteral("時報設定(&S)"),
                    QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &MainWindow::timeSignalSettingsRequested);
    connect(addItem(option, QStringLiteral("men_Chara"), QStringLiteral("性格設定(&C)"), {}, false),
            &QAction::triggered, this, &MainWindow::personalityRequested);
    addItem(option, QStringLiteral("men_Comment"), QStringLiteral("コメント設定(&T)"),
            QKeySequence(Qt::CTRL | Qt::Key_C), false);
    // Beyond the original items: which screen karaoke mode covers (a laptop driving a TV).
    connect(addItem(option, QStringLiteral("men_KaraokeScreen"), QStringLiteral("カラオケ画面(&K)")),
            &QAction::triggered, this, &MainWindow::karaokeScreenRequested);
    // The order the waiting songs are sung in, and the closing time the guests are told of.
    QMenu* order = option->addMenu(QStringLiteral("予約の順番(&R)"));
    order->setObjectName(QStringLiteral("men_QueueOrder"));
    order->menuAction()->setObjectName(QStringLiteral("men_QueueOrder"));
    m_queueOrder = new QActionGroup(this);
    m_queueOrder->setExclusive(true);
    for (const auto& [name, caption, value] : {std::tuple{"men_Fifo", QStringLiteral("予約順(&F)"), QueueOrder::Fifo},
                                               {"men_Rotation", QStringLiteral("交代制(&T)"), QueueOrder::Rotation}}) {
        QAction* item = addItem(order, QString::fromLatin1(name), caption);
        item->setCheckable(true);
        m_queueOrder->addAction(item);
        connect(item, &QAction::triggered, this, [this, value] { emit queueOrderChosen(value); });
    }
    connect(order, &QMenu::aboutToShow, this, &MainWindow::showQueueOrder);
    showQueueOrder();
    connect(addItem(option, QStringLiteral("men_Closing"), QStringLiteral("閉店時刻(&L)")), &QAction::triggered, this,
            &MainWindow::closingTimeRequested);

    QMenu* system = menuBar()->addMenu(QStringLiteral("システム(&S)"));
    system->setObjectName(QStringLiteral("men_System"));
    connect(addItem(system, QStringLiteral("men_Connection"), QStringLiteral("コネクション(&C)"),
                    QKeySequence(Qt::CTRL | Qt::Key_N)),
            &QAction::triggered, this, &MainWindow::connectionRequested);
    system->addSeparator()->setObjectName(QStringLiteral("mh31"));
    connect(addItem(system, QStringLiteral("men_Version"), QStringLiteral("バージョン情報(&A)")), &QAction::triggered,
            this, &MainWindow::showVersionDialog);
}

void MainWindow::showQueueOrder()
{
    const bool rotation = readQueueOrder(m_paths) == QueueOrder::Rotation;
    action(rotation ? QStringLiteral("men_Rotation") : QStringLiteral("men_Fifo"))->setChecked(true);
}

QAction* MainWindow::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

void MainWindow::showConnectionMode()
{
    m_mode->setText(m_state.connectionMode());
}

void MainWindow::refreshInformation()
{
    m_information =
        tarv::informationText(m_state.systemVersion(), QCoreApplication::applicationFilePath(), m_paths.songList());
    m_system->setText(QString(m_information).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void MainWindow::setNotice(const QString& text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

void MainWindow::setUrlOpener(std::function<void(const QUrl&)> opener)
{
    m_openUrl = std::move(opener);
}

void MainWindow::showVersionDialog()
{
    const QString text = versionText(m_state.systemVersion()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const auto answer = QMessageBox::information(this, QStringLiteral("バージョン情報"), text,
                                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        m_openUrl(QUrl(MakerPage));
}

void MainWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshInformation();
    QMainWindow::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event)
{
    refreshInformation();
    QMainWindow::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends everything at once, karaoke mode included.
    event->accept();
    QCoreApplication::quit();
}

} // namespace tarv
