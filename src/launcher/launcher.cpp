#include "launcher/launcher.h"

#include "launcher/karaokemode.h"
#include "launcher/mainwindow.h"
#include "launcher/startup.h"
#include "launcher/wireless.h"
#include "library/librarywindow.h"
#include "player/playerview.h"
#include "web/connectionwindow.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace tarv {

Launcher::Launcher(const AppPaths& paths, Clock& clock) : m_paths(paths), m_clock(clock) {}

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
    connect(m_main.get(), &MainWindow::startRequested, m_karaoke.get(), &KaraokeMode::start);
    // Time signals join this start with their settings window; until then it is the common start.
    connect(m_main.get(), &MainWindow::timeSignalStartRequested, m_karaoke.get(), &KaraokeMode::start);
    connect(m_main.get(), &MainWindow::wirelessStartRequested, this, &Launcher::startWireless);
    connect(m_main.get(), &MainWindow::libraryRequested, this, &Launcher::showLibrary);
    connect(m_main.get(), &MainWindow::connectionRequested, this, &Launcher::showConnection);
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

void Launcher::showConnection()
{
    if (!m_connection) {
        m_connection = new ConnectionWindow(m_paths, localIpv4Addresses, 80, m_main.get());
        m_connection->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_connection->show();
    m_connection->raise();
    m_connection->activateWindow();
}

} // namespace tarv
