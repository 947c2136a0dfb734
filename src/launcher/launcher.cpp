#include "launcher/launcher.h"

#include "dialogs/windows.h"
#include "history/favourites.h"
#include "history/playhistory.h"
#include "launcher/closingdialog.h"
#include "launcher/karaokemode.h"
#include "launcher/karaokescreen.h"
#include "launcher/mainwindow.h"
#include "launcher/startup.h"
#include "launcher/wireless.h"
#include "library/librarywindow.h"
#include "library/songlist.h"
#include "personality/personalitywindow.h"
#include "player/playerview.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/turnsettings.h"
#include "timesignal/timesignals.h"
#include "timesignal/timesignalwindow.h"
#include "web/connectionwindow.h"
#include "web/guestservice.h"
#include "web/hostaccess.h"
#include "web/hostcheck.h"
#include "web/webserver.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace tarv {

namespace {

// A warning that does not hold up the event loop.
void showWarning(QWidget* parent, const QString& name, const QString& title, const QString& text)
{
    showMessage(parent, QMessageBox::Warning, title, text, name);
}

// A question that Escape and the close button put off: it finishes with no button clicked.
class PutOffQuestion : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { QDialog::closeEvent(event); }
};

} // namespace

Launcher::Launcher(const AppPaths& paths, Clock& clock)
    : m_paths(paths), m_clock(clock), m_signals(std::make_unique<TimeSignals>(m_paths, m_state))
{
}

Launcher::~Launcher()
{
    m_web.reset();
    m_karaoke.reset(); // the karaoke windows go before the main window they read
    if (m_historyLoad.joinable())
        m_historyLoad.join();
    if (m_record)
        m_record->clear(); // a normal end: nothing waits for the next start
}

bool Launcher::start()
{
    m_guard = std::make_unique<InstanceGuard>(m_paths);
    if (!m_guard->acquire()) {
        QMessageBox::critical(nullptr, QStringLiteral("エラー"), QStringLiteral("既に起動しています"));
        return false;
    }
    const StartupReport report = prepareRun(m_paths, m_clock.now());
    qCInfo(lcLauncher).noquote() << "application folder" << m_paths.root();
    m_record = std::make_unique<QueueRecord>(m_paths.queueRecord(), m_clock);
    const qsizetype kept = m_record->load();

    m_main = std::make_unique<MainWindow>(m_paths, m_state);
    m_karaoke = std::make_unique<KaraokeMode>(m_paths, m_clock, m_state);
    connect(m_karaoke.get(), &KaraokeMode::started, this, [this] { m_karaokeRunning->store(true); });
    connect(m_karaoke.get(), &KaraokeMode::ended, this, [this] {
        m_karaokeRunning->store(false);
        m_host->endSession(); // the host logs in again at the next karaoke mode
        m_record->clear();    // Escape clears the queue, and nothing of it is kept
    });
    m_karaoke->setQueueRecord(m_record.get());
    m_desk = std::make_unique<GuestDesk>();
    m_karaoke->setGuestDesk(m_desk.get());
    m_history = std::make_unique<PlayHistory>(m_paths, m_clock);
    m_favourites = std::make_unique<Favourites>(Favourites::file(m_paths));
    // The log of a year of parties takes a moment: it is read while the window comes up, and a song
    // that starts meanwhile waits for it.
    m_historyLoad = std::thread([history = m_history.get(), favourites = m_favourites.get()] {
        const PlayLogReport read = history->load();
        for (const QString& problem : read.problems)
            qCWarning(lcLauncher).noquote() << "play log not read:" << problem;
        if (const QString problem = favourites->load(); !problem.isEmpty())
            qCWarning(lcLauncher).noquote() << "favourites not read:" << problem;
    });
    auto* syncLog = new QTimer(this);
    connect(syncLog, &QTimer::timeout, this, [this] { m_history->syncIfDue(); });
    syncLog->start(PlayLog::SyncEveryMs);
    m_karaoke->setPlayHistory(m_history.get());
    m_host = std::make_unique<HostAccess>(m_paths, m_clock);
    startGuestServer(report.recovery.isEmpty() || report.notice.isEmpty() ? report.notice + report.recovery
                                                                          : report.notice + u'\n' + report.recovery);
    m_karaoke->setTimeSignalSource(m_signals.get());
    m_karaoke->setGuestUrl([this]() -> QString {
        const QString address = localIpv4Addresses().value(0);
        if (!guestServerPort() || address.isEmpty())
            return {};
        return guestUrl(address, guestServerPort());
    });
    connect(m_main.get(), &MainWindow::startRequested, m_karaoke.get(), &KaraokeMode::start);
    connect(m_main.get(), &MainWindow::timeSignalStartRequested, this, &Launcher::startWithTimeSignals);
    connect(m_main.get(), &MainWindow::timeSignalSettingsRequested, this, &Launcher::showTimeSignals);
    connect(m_main.get(), &MainWindow::wirelessStartRequested, this, &Launcher::startWireless);
    connect(m_main.get(), &MainWindow::libraryRequested, this, &Launcher::showLibrary);
    connect(m_main.get(), &MainWindow::connectionRequested, this, &Launcher::showConnection);
    connect(m_main.get(), &MainWindow::personalityRequested, this, &Launcher::showPersonality);
    connect(m_main.get(), &MainWindow::karaokeScreenRequested, this, &Launcher::chooseKaraokeScreen);
    connect(m_main.get(), &MainWindow::queueOrderChosen, this, &Launcher::chooseQueueOrder);
    connect(m_main.get(), &MainWindow::closingTimeRequested, this, &Launcher::chooseClosingTime);
    m_karaoke->setScreenChooser([this] { return karaokeScreen(); });
    m_main->show();
    if (!report.backupError.isEmpty()) {
        showWarning(m_main.get(), QStringLiteral("startupBackupError"), QStringLiteral("バックアップ"),
                    QStringLiteral("起動時の曲目リストのバックアップができません。\n") + report.backupError);
    }
    if (kept > 0)
        askToRestoreQueue(kept);
    else if (!m_record->loadProblem().isEmpty())
        showWarning(m_main.get(), QStringLiteral("queueRecordError"), QStringLiteral("予約の復元"),
                    m_record->loadProblem());
    // Once the window is on screen, the start-up's leftovers go back to the system.
    QTimer::singleShot(0, this, &releaseFreedMemory);
    return true;
}

void Launcher::askToRestoreQueue(qsizetype count)
{
    QString text = QStringLiteral("前回のカラオケの予約が %1 曲残っています。次のカラオケで復元しますか？").arg(count);
    if (m_record->offered().constFirst().playing)
        text += QStringLiteral("\n演奏中だった曲も、最初から歌えるように先頭に入ります。");
    if (!m_record->loadProblem().isEmpty())
        text += u'\n' + m_record->loadProblem();
    auto* box = new PutOffQuestion(QMessageBox::Question, QStringLiteral("予約の復元"), text,
                                   QMessageBox::Yes | QMessageBox::No, m_main.get());
    box->setObjectName(QStringLiteral("restoreQueue"));
    box->setTextFormat(Qt::PlainText);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("はい"));
    box->button(QMessageBox::No)->setText(QStringLiteral("いいえ"));
    box->setDefaultButton(QMessageBox::Yes);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box] {
        takeKeptRequest(m_paths, m_record->offered());
        // Kept, the record's reservations become the queue of the next karaoke mode (F1 or F4). Put
        // off (Escape, or the window closed), they stay in the record and are offered at the next start.
        if (box->clickedButton() == box->button(QMessageBox::Yes))
            m_record->keepOffered();
        else if (box->clickedButton() == box->button(QMessageBox::No))
            m_record->discardOffered();
    });
    box->show();
    placeOverParent(box);
}

void Launcher::startWireless()
{
    if (m_download)
        return;
    QString error;
    const QString address = readRemoteAddress(m_paths, &error);
    if (!error.isEmpty()) {
        showWarning(m_main.get(), QStringLiteral("wirelessError"), QStringLiteral("ワイヤレスモード"), error);
        return;
    }
    m_download = new SongListDownload(m_paths, address, this);
    QPointer<QProgressDialog> progress =
        new QProgressDialog(QStringLiteral("%1 から曲リストを受信しています").arg(address),
                            QStringLiteral("キャンセル"), 0, 0, m_main.get());
    progress->setObjectName(QStringLiteral("wirelessProgress"));
    progress->setWindowTitle(QStringLiteral("ワイヤレスモード"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(progress, &QProgressDialog::canceled, m_download.data(), &SongListDownload::cancel);
    connect(m_download.data(), &SongListDownload::progress, progress, [progress, address](qint64 bytes) {
        progress->setLabelText(
            QStringLiteral("%1 から曲リストを受信しています (%2 KB)").arg(address).arg((bytes + 1023) / 1024));
    });
    connect(m_download.data(), &SongListDownload::finished, this, [this, address, progress](const QString& error) {
        QGuiApplication::restoreOverrideCursor();
        const bool cancelled = m_download->wasCancelled();
        m_download->deleteLater();
        m_download = nullptr;
        if (progress)
            progress->close();
        if (cancelled)
            return;
        if (!error.isEmpty()) {
            showWarning(m_main.get(), QStringLiteral("wirelessError"), QStringLiteral("ワイヤレスモード"), error);
            return;
        }
        m_state.setConnectionMode(address);
        m_main->showConnectionMode();
        m_karaoke->start();
    });
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_download->start();
    progress->show();
}

void Launcher::showLibrary()
{
    if (!m_library) {
        if (!m_preview) {
            m_preview = PlayerView::makePlayer();
            m_preview->setObjectName(QStringLiteral("gom_tes"));
        }
        auto* view = new PlayerView;
        view->setPlayer(m_preview.get());
        m_library = new LibraryWindow(m_paths, m_clock, view, *m_preview, m_main.get());
    }
    bringUp(m_library);
}

namespace {

QList<ScreenInfo> screenInfos()
{
    QList<ScreenInfo> infos;
    for (const QScreen* screen : QGuiApplication::screens())
        infos.append({screen->name(), screen->size()});
    return infos;
}

} // namespace

QScreen* Launcher::karaokeScreen() const
{
    const QString mainScreen = m_main && m_main->screen() ? m_main->screen()->name() : QString();
    const qsizetype i = tarv::chooseKaraokeScreen(screenInfos(), mainScreen, readKaraokeScreen(m_paths));
    return i >= 0 ? QGuiApplication::screens().at(i) : nullptr;
}

void Launcher::chooseKaraokeScreen()
{
    const QList<ScreenInfo> screens = screenInfos();
    QStringList items{QStringLiteral("自動（メインウィンドウのない画面）")};
    const QString saved = readKaraokeScreen(m_paths);
    int current = 0;
    for (const ScreenInfo& screen : screens) {
        if (screen.name == saved)
            current = int(items.size());
        items << screenLabel(screen);
    }
    bool ok = false;
    const QString item =
        QInputDialog::getItem(m_main.get(), QStringLiteral("カラオケ画面"),
                              QStringLiteral("カラオケを映す画面を選んでください"), items, current, false, &ok);
    if (!ok)
        return;
    const qsizetype index = items.indexOf(item);
    const QString error = saveKaraokeScreen(m_paths, index > 0 ? screens.at(index - 1).name : QString());
    if (!error.isEmpty()) {
        showWarning(m_main.get(), QStringLiteral("karaokeScreenError"), QStringLiteral("カラオケ画面"),
                    QStringLiteral("画面の選択を保存できません。\n") + error);
        return;
    }
    m_karaoke->placeOnScreen();
}

void Launcher::chooseQueueOrder(QueueOrder order)
{
    const QString error = saveQueueOrder(m_paths, order);
    if (!error.isEmpty()) {
        showWarning(m_main.get(), QStringLiteral("queueOrderError"), QStringLiteral("予約の順番"),
                    QStringLiteral("予約の順番を保存できません。\n") + error);
        return;
    }
    m_karaoke->reloadTurnSettings();
}

void Launcher::chooseClosingTime()
{
    ClosingTimeDialog dialog(readClosingTime(m_paths), m_main.get());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString error = saveClosingTime(m_paths, dialog.closing());
    if (!error.isEmpty()) {
        showWarning(m_main.get(), QStringLiteral("closingTimeError"), QStringLiteral("閉店時刻"),
                    QStringLiteral("閉店時刻を保存できません。\n") + error);
        return;
    }
    m_karaoke->reloadTurnSettings();
}

void Launcher::showPersonality()
{
    if (!m_personality) {
        m_personality = new PersonalityWindow(m_main.get());
        m_personality->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringUp(m_personality);
}

void Launcher::startGuestServer(QString notice)
{
    // The phones' wait estimates add up the lengths of the songs and time signals ahead, each read once.
    GuestServiceOptions options;
    options.clock = &m_clock;
    const auto durations = std::make_shared<VideoDurations>(m_paths);
    options.durationSeconds = [durations](const SongNumber& number) { return durations->durationSeconds(number); };
    options.videoSeconds = [durations](const QString& name) { return durations->videoSeconds(name); };
    m_guests = std::make_unique<GuestService>(m_paths, m_karaokeRunning, std::move(options));
    m_guests->setQueueRecord(m_record.get());
    m_guests->setGuestDesk(m_desk.get());
    m_guests->setHistory(m_history.get(), m_favourites.get());
    m_guests->setHostAccess(m_host.get());
    GuestService* guests = m_guests.get();
    m_web = std::make_unique<WebServer>([guests](const HttpRequest& request) { return guests->handle(request); },
                                        [guests] { guests->pump(); });
    auto hosts = std::make_shared<HostCheck>(m_paths);
    m_web->setHostCheck([hosts](const std::string& host) { return (*hosts)(host); });
    m_web->setBackground(isSearch, [guests](const HttpRequest& request) { return guests->searchDevice(request); });
    QString portProblem;
    const quint16 port = guestPort(m_paths, &portProblem);
    if (!portProblem.isEmpty()) {
        qCWarning(lcLauncher).noquote() << portProblem;
        notice += (notice.isEmpty() ? QString() : QStringLiteral("\n")) + portProblem;
    }
    const QString error = m_web->start(QStringLiteral("0.0.0.0"), port);
    if (error.isEmpty()) {
        qCInfo(lcLauncher) << "guest pages on port" << m_web->port();
    } else {
        m_web.reset();
        qCWarning(lcLauncher).noquote() << "guest pages not served:" << error;
        if (!notice.isEmpty())
            notice += u'\n';
        notice +=
            QStringLiteral("スマートフォンからの予約ページを開けません。%1 (ポートは db/webport.txt で変えられます)")
                .arg(error);
    }
    m_main->setNotice(notice);
}

quint16 Launcher::guestServerPort() const
{
    return m_web ? m_web->port() : 0;
}

void Launcher::showConnection()
{
    if (!m_connection) {
        m_connection = new ConnectionWindow(m_paths, localIpv4Addresses,
                                            guestServerPort() ? guestServerPort() : guestPort(m_paths), m_main.get(),
                                            m_host.get());
        m_connection->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringUp(m_connection);
}

TimeSignalWindow* Launcher::timeSignalWindow() const
{
    return m_signalWindow.data();
}

TimeSignalWindow* Launcher::loadTimeSignalWindow()
{
    if (!m_signalWindow)
        m_signalWindow = new TimeSignalWindow(*m_signals, m_main.get());
    return m_signalWindow;
}

void Launcher::showTimeSignals()
{
    bringUp(loadTimeSignalWindow());
}

void Launcher::startWithTimeSignals()
{
    TimeSignalWindow* window = loadTimeSignalWindow();
    if (!m_signals->enabled().isEmpty()) {
        m_state.setTimeSignalsOn(true);
        window->hide();
    } else {
        window->unload();
    }
    m_karaoke->start();
}

} // namespace tarv
