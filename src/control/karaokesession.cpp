#include "control/karaokesession.h"

#include "common/clock.h"
#include "common/webroot.h"
#include "player/player.h"
#include "stage/codes.h"
#include "stage/queuefile.h"
#include "stage/queuerecord.h"
#include "exchange/exchange.h"

#include <QLoggingCategory>

namespace tarv {

Q_LOGGING_CATEGORY(lcKaraoke, "tarv.karaoke")

KaraokeSession::KaraokeSession(Player& mainPlayer, Player& secondPlayer, const AppState& state, const AppPaths& paths,
                               const Clock& clock, QObject* parent)
    : QObject(parent), m_main(mainPlayer), m_second(secondPlayer), m_state(state), m_clock(clock), m_paths(paths),
      m_stage(mainPlayer, secondPlayer, state, paths, clock), m_link(m_stage),
      m_entry(m_link, mainPlayer, secondPlayer, clock)
{
    m_stage.setTimers(this);
    m_entry.setQuitTimer(this);

    m_sfTimer.setObjectName(QStringLiteral("tmr_sf"));
    m_sfTimer.setInterval(200);
    connect(&m_sfTimer, &QTimer::timeout, this, &KaraokeSession::tmr_sf_Timer);

    m_webCheckTimer.setObjectName(QStringLiteral("tmr_webcheck"));
    m_webCheckTimer.setInterval(200);
    connect(&m_webCheckTimer, &QTimer::timeout, this, &KaraokeSession::tmr_webcheck_Timer);

    m_zihoTimer.setObjectName(QStringLiteral("tmr_ziho"));
    m_zihoTimer.setInterval(500);
    connect(&m_zihoTimer, &QTimer::timeout, this, &KaraokeSession::tmr_ziho_Timer);

    m_quitTimer.setObjectName(QStringLiteral("tmr_quit"));
    m_quitTimer.setInterval(5000);
    m_quitTimer.setSingleShot(true);
    connect(&m_quitTimer, &QTimer::timeout, this, [this] {
        m_sfTimer.stop();
        m_webCheckTimer.stop();
        m_zihoTimer.stop();
        m_fadeTimer.stop();
        m_hideTimer.stop();
        emit ended();
    });

    m_hideTimer.setObjectName(QStringLiteral("tmr_visible"));
    m_hideTimer.setInterval(5000);
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, &m_stage, &Stage::tmr_visible_Timer);

    m_fadeTimer.setObjectName(QStringLiteral("tmr_voldown"));
    m_fadeTimer.setInterval(100);
    connect(&m_fadeTimer, &QTimer::timeout, &m_stage, &Stage::tmr_voldown_Timer);
}

KaraokeSession::~KaraokeSession()
{
    m_stage.setTimers(nullptr);
    m_entry.setQuitTimer(nullptr);
}

void KaraokeSession::start()
{
    if (!m_loaded) {
        m_loaded = true;
        // The web pages see an empty queue until the first reservation.
        const QString error = writeQueueFile(readWebRoot(m_paths), QByteArray());
        if (!error.isEmpty())
            qCWarning(lcKaraoke).noquote() << error;
        m_stage.restoreRecordedQueue();
        m_sfTimer.start();
        m_webCheckTimer.start();
    }
    if (!m_zihoTimer.isActive())
        m_zihoTimer.start();
    m_stage.post(Code::Start);
}

void KaraokeSession::setTimeSignalSource(TimeSignalSource* source)
{
    m_timeSignals = source;
    m_stage.setTimeSignalSource(source);
}

void KaraokeSession::setQueueRecord(QueueRecord* record)
{
    m_record = record;
    m_stage.setQueueRecord(record);
}

void KaraokeSession::tmr_ziho_Timer()
{
    // Once a tick finds time signals off, none fires until karaoke mode is started again.
    if (!m_state.timeSignalsOn() || !m_timeSignals) {
        m_zihoTimer.stop();
        return;
    }
    if (const auto item = m_firing.due(m_clock.now(), m_timeSignals->times())) {
        qCInfo(lcKaraoke).noquote() << "time signal at" << item->time() << "for" << item->field();
        m_stage.postTimeSignal(item->field());
    }
}

void KaraokeSession::tmr_sf_Timer()
{
    m_stage.catchUp();
    if (m_record)
        m_record->syncIfDue();
    bool timeSignalPlaying = false;
    if (m_second.isPlaying()) {
        // A time signal plays over the song: the song waits hidden underneath.
        timeSignalPlaying = true;
        m_main.pause();
        if (m_view) {
            m_view->setMainPlayerVisible(false);
            m_view->setSecondPlayerVisible(true);
        }
    } else if (!m_second.mediaPath().isEmpty()) {
        // A time signal has just finished: back to the song, which resumes unless nothing was playing.
        if (m_view) {
            m_view->setSecondPlayerVisible(false);
            m_view->setMainPlayerVisible(true);
        }
        m_second.setMediaPath(QString());
        if (m_main.position() != 0) {
            qCInfo(lcKaraoke) << "time signal over; the song resumes at" << m_main.position() << "s";
            m_main.play();
        }
        m_second.stop();
    }

    // While karaoke mode ends the farewell stays on screen: no idle message, no next song. A
    // message that must be read (a missing video) stays for its few seconds too.
    if (!timeSignalPlaying && !isEnding() && !m_stage.holdsMessage() && !m_main.isPlaying()) {
        const int pending = m_stage.pendingCount();
        if (pending > 0)
            m_stage.post(Code::PlayNext);
        else if (pending == 0)
            m_stage.post(Code::NoReservations);
        else if (pending == -1 && m_stage.codeSlot() != Code::NoReservations)
            m_stage.post(Code::NoReservations);
    }

    // Over the idle screen (nothing plays, nothing waits) guests are shown how to join from a phone.
    if (m_view)
        m_view->setGuestInviteVisible(!timeSignalPlaying && !isEnding() && !m_main.isPlaying() &&
                                      m_stage.pendingCount() == -1);

    if (m_entry.keepFocus() && m_view)
        m_view->focusCommandBox();
    m_entry.focusKeeperRan();
}

void KaraokeSession::tmr_webcheck_Timer()
{
    if (m_second.isPlaying())
        return;
    const auto webRoot = readWebRoot(m_paths);
    if (!webRoot)
        return;
    const RequestTake take = takeRequest(exchangeFile(*webRoot, ExchangeFile::Request));
    if (take.error != m_webError) {
        m_webError = take.error;
        if (!take.error.isEmpty())
            qCWarning(lcKaraoke).noquote() << take.error;
    }
    if (!take.request)
        return;

    if (take.request->code == u"login") {
        m_entry.setText(Keypad::Login.toString());
        m_stage.setCurrentUser(storedUserName(take.request->user));
        m_entry.DoCommand();
        return;
    }
    const RecordedReservation reservation = requestedReservation(take.request->code, take.request->user);
    m_entry.setText(reservation.number);
    m_stage.setCurrentUser(reservation.user); // carries out earlier posts, handing over theirs first
    const bool accepted = m_record && m_record->isNextAccepted(reservation);
    m_entry.DoCommand();
    if (accepted)
        m_stage.handOverLastPost();
}

void KaraokeSession::restartHideTimer()
{
    m_hideTimer.start();
}

void KaraokeSession::startHideTimer()
{
    if (!m_hideTimer.isActive())
        m_hideTimer.start();
}

void KaraokeSession::startFade()
{
    m_fadeTimer.start();
}

void KaraokeSession::startQuitTimer()
{
    if (!m_quitTimer.isActive())
        m_quitTimer.start();
}

} // namespace tarv
