#include "launcher/launcher.h"

#include "launcher/karaokemode.h"
#include "launcher/mainwindow.h"
#include "launcher/startup.h"
#include "launcher/wireless.h"
#include "library/librarywindow.h"
#include "player/playerview.h"
#include "timesignal/timesignals.h"
#include "timesignal/timesignalwindow.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace tarv {

Launcher::Launcher(const AppPaths& paths, Clock& clock)
    : m_paths(paths), m_clock(clock), m_signals(std::make_unique<TimeSignals>(m_paths, m_state))
{
}

Launcher::~Launcher()
{
    m_karaoke.reset(); // the karaoke windows go before the main window they read
}

bool Launcher::start()
{
    m_guard = std::make_unique<InstanceGuard>(m_paths);
    if (!m_guard->acquire()) {
        QMessageBox::critical(nullptr, QStringLiteral("エラー"), QStringLiteral("既に起動しています"));
        return false;
    }
    const QString notice = prepareApplicationFolder(m_paths);
    startupBackup(m_paths, m_clock.now());
    qCInfo(lcLauncher).noquote() << "application folder" << m_paths.root();

    m_main = std::make_unique<MainWindow>(m_paths, m_state);
    m_main->setNotice(notice);
    m_karaoke = std::make_unique<KaraokeMode>(m_paths, m_clock, m_state);
    m_karaoke->setTimeSignalSource(m_signals.get());
    connect(m_main.get(), &MainWindow::startRequested, m_karaoke.get(), &KaraokeMode::start);
    connect(m_main.get(), &MainWindow::timeSignalStartRequested, this, &Launcher::startWithTimeSignals);
    connect(m_main.get(), &MainWindow::timeSignalSettingsRequested, this, &Launcher::showTimeSignals);
    connect(m_main.get(), &MainWindow::wirelessStartRequested, this, &Launcher::startWireless);
    connect(m_main.get(), &MainWindow::libraryRequested, this, &Launcher::showLibrary);
    m_main->show();
    return true;
}

void Launcher::startWireless()
{
    QString error;
    const QString address = readRemoteAddress(m_paths, &error);
    if (error.isEmpty()) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        error = downloadSongList(m_paths, address);
        QGuiApplication::restoreOverrideCursor();
    }
    if (!error.isEmpty()) {
        QMessageBox::warning(m_main.get(), QStringLiteral("ワイヤレスモード"), error);
        return;
    }
    m_main->setConnectionMode(address);
    m_karaoke->start();
}

void Launcher::showLibrary()
{
    if (!m_library) {
        auto* preview = new PlayerView;
        m_library = new LibraryWindow(m_paths, m_clock, preview, preview->player(), m_main.get());
    }
    m_library->show();
    m_library->raise();
    m_library->activateWindow();
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
    TimeSignalWindow* window = loadTimeSignalWindow();
    window->show();
    window->raise();
    window->activateWindow();
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
