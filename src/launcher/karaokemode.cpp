#include "launcher/karaokemode.h"

#include "control/controlwindow.h"
#include "control/karaokesession.h"
#include "history/playhistory.h"
#include "player/playerview.h"
#include "stage/stage.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace tarv {

KaraokeMode::KaraokeMode(const AppPaths& paths, const Clock& clock, const AppState& state, QObject* parent)
    : QObject(parent), m_paths(paths), m_clock(clock), m_state(state)
{
    // A screen unplugged (the TV's cable pulled): once Qt has let go of it, cover a remaining one.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this,
            [this] { QTimer::singleShot(0, this, &KaraokeMode::placeOnScreen); });
}

KaraokeMode::~KaraokeMode()
{
    end();
}

StageWindow* KaraokeMode::stageWindow() const
{
    return m_control ? m_control->stageWindow() : nullptr;
}

void KaraokeMode::load()
{
    SessionPlayers players{PlayerView::makePlayer(), PlayerView::makePlayer(), nullptr};
    players.main->setObjectName(QStringLiteral("GomX1"));
    players.second->setObjectName(QStringLiteral("GomX2"));
    if (QDir(m_paths.file(QStringLiteral("bgm"))).exists()) {
        // Audio only, on the room's sound output like the others.
        const bool headless = players.main->video() == MpvPlayer::Video::None;
        players.music = std::make_unique<MpvPlayer>(MpvPlayer::Video::Off,
                                                    headless ? MpvPlayer::Sound::None : MpvPlayer::Sound::System);
        players.music->setObjectName(QStringLiteral("bgm"));
    }
    m_control = std::make_unique<ControlWindow>();
    m_session = std::make_unique<KaraokeSession>(std::move(players), m_state, m_paths, m_clock);
    m_control->setPlayers(m_session->players().main.get(), m_session->players().second.get());
    m_session->setTimeSignalSource(m_timeSignals);
    m_session->setQueueRecord(m_record);
    m_session->setGuestDesk(m_desk);
    if (m_history) {
        m_history->setSessionStart(m_clock.now()); // tonight's ranking counts from here
        Stage& stage = m_session->stage();
        connect(&stage, &Stage::songStarted, this, [this](const Reservation& entry) {
            m_playId = m_history->songStarted({entry.number, entry.user, entry.device, entry.keyTempo});
        });
        connect(&stage, &Stage::songEnded, this, [this](int seconds, KeyTempo endedAt) {
            if (const quint64 id = std::exchange(m_playId, 0))
                m_history->songEnded(id, seconds, endedAt);
        });
    }
    if (m_guestUrl)
        m_control->setGuestUrl(m_guestUrl());
    m_control->setSession(m_session.get());
    // The windows go once the handler that ended karaoke mode has returned.
    const auto endSoon = [this] { QTimer::singleShot(0, this, &KaraokeMode::end); };
    connect(m_session.get(), &KaraokeSession::ended, this, endSoon);
    connect(m_control.get(), &ControlWindow::closeRequested, this, endSoon);
    placeOnScreen();
    m_control->start();
    emit started();
}

void KaraokeMode::start()
{
    if (!m_control)
        load();
    m_control->show();
    m_control->raise();
    m_session->start();
}

void KaraokeMode::placeOnScreen()
{
    if (!m_control || !m_chooseScreen)
        return;
    if (QScreen* screen = m_chooseScreen()) {
        m_control->setScreen(screen);
        m_control->coverScreen();
    }
}

void KaraokeMode::reloadTurnSettings()
{
    if (m_session)
        m_session->reloadTurnSettings();
}

void KaraokeMode::end()
{
    if (!m_control)
        return;
    m_control->setSession(nullptr);
    m_session->stage().endPlay(); // the song playing, if any, is logged as over
    m_session.reset();
    m_control.reset();
    emit ended();
}

} // namespace tarv
