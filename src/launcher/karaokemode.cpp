#include "launcher/karaokemode.h"

#include "common/webroot.h"
#include "control/commandentry.h"
#include "control/controlwindow.h"
#include "launcher/mainwindow.h"
#include "stage/queuefile.h"
#include "stage/stagewindow.h"

#include <QTimer>

#include <cstdio>

namespace tarv {

QString MainWindowEnvironment::connectionMode() const
{
    return m_main.connectionMode();
}

QString MainWindowEnvironment::systemVersion() const
{
    return m_main.systemVersion();
}

KaraokeMode::KaraokeMode(const AppPaths& paths, const Clock& clock, const MainWindow& main, QObject* parent)
    : QObject(parent), m_paths(paths), m_clock(clock), m_environment(main)
{
}

KaraokeMode::~KaraokeMode()
{
    end();
}

void KaraokeMode::load()
{
    m_control = std::make_unique<ControlWindow>();
    m_stage = std::make_unique<StageWindow>(m_control->mainPlayer(), m_control->secondPlayer(), m_environment, m_paths,
                                            m_clock);
    m_stage->setControlWindow(m_control.get());
    m_link = std::make_unique<StageConnection>(m_stage->stage());
    m_entry = std::make_unique<CommandEntry>(*m_link, m_control->mainPlayer(), m_control->secondPlayer(), m_clock);
    m_control->setCommandEntry(m_entry.get());
    // tmr_quit ends karaoke mode; the windows go once the timer's handler has returned.
    connect(m_control.get(), &ControlWindow::quitRequested, this,
            [this] { QTimer::singleShot(0, this, &KaraokeMode::end); });

    // The web pages see an empty queue until the first reservation.
    const QString error = writeQueueFile(readWebRoot(m_paths), QByteArray());
    if (!error.isEmpty())
        std::fprintf(stderr, "tarv: %s\n", qPrintable(error));
    m_control->start();
}

void KaraokeMode::start()
{
    if (!m_control)
        load();
    m_control->show();
    m_control->raise();
    m_stage->stage().post(QStringLiteral("000000"));
}

void KaraokeMode::end()
{
    if (!m_control)
        return;
    m_control->setCommandEntry(nullptr);
    m_entry.reset();
    m_link.reset();
    m_stage.reset();
    m_control.reset();
    emit ended();
}

} // namespace tarv
