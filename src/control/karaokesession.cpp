#include "control/karaokesession.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "common/webroot.h"
#include "exchange/exchange.h"
#include "player/player.h"
#include "stage/guestdesk.h"
#include "stage/queuefile.h"
#include "stage/queuerecord.h"
#include "stage/turnsettings.h"

#include <QHash>
#include <QLoggingCategory>

namespace tarv {
namespace {

// The timers of karaoke mode, in milliseconds.
constexpr int KeypadPollMs = 200;     // tmr_sf: posts carried out, players watched, the keypad kept in focus
constexpr int WebPollMs = 200;        // tmr_webcheck: the request file
constexpr int TimeSignalPollMs = 500; // tmr_ziho: whether a time signal is due
constexpr int QuitDelayMs = 5000;     // tmr_quit: the farewell before the windows close
constexpr int StripHideMs = 5000;     // tmr_visible: the strip hides itself after the last message
constexpr int FadeStepMs = 100;       // tmr_voldown: one step of the farewell's fade

} // namespace

Q_LOGGING_CATEGORY(lcKaraoke, "tarv.karaoke")

KaraokeSession::KaraokeSession(SessionPlayers players, const AppState& state, const AppPaths& paths, const Clock& clock,
                               QObject* parent)
    : KaraokeSession(*players.main, *players.second, state, paths, clock, parent, players.music.get())
{
    m_players = std::move(players);
}

KaraokeSession::KaraokeSession(Player& mainPlayer, Player& secondPlayer, const AppState& state, const AppPaths& paths,
                               const Clock& clock, QObject* parent, Player* musicPlayer)
    : QObject(parent), m_main(mainPlayer), m_second(secondPlayer), m_state(state), m_clock(clock), m_paths(paths),
      m_stage(mainPlayer, secondPlayer, state, paths, clock), m_link(m_stage),
      m_entry(m_link, mainPlayer, secondPlayer, clock)
{
    m_entry.setQuitTimer(this);
    if (musicPlayer) {
        m_music = std::make_unique<BreakMusic>(*musicPlayer, paths.file(QStringLiteral("bgm")), clock);
        // A song or time signal does not wait for the music's fade.
        connect(&m_stage, &Stage::playbackStarting, m_music.get(), &BreakMusic::cut);
    }

    m_sfTimer.setObjectName(QStringLiteral("tmr_sf"));
    m_sfTimer.setInterval(KeypadPollMs);
    connect(&m_sfTimer, &QTimer::timeout, this, &KaraokeSession::tmr_sf_Timer);

    m_webCheckTimer.setObjectName(QStringLiteral("tmr_webcheck"));
    m_webCheckTimer.setInterval(WebPollMs);
    connect(&m_webCheckTimer, &QTimer::timeout, this, &KaraokeSession::tmr_webcheck_Timer);

    m_zihoTimer.setObjectName(QStringLiteral("tmr_ziho"));
    m_zihoTimer.setInterval(TimeSignalPollMs);
    connect(&m_zihoTimer, &QTimer::timeout, this, &KaraokeSession::tmr_ziho_Timer);

    m_quitTimer.setObjectName(QStringLiteral("tmr_quit"));
    m_quitTimer.setInterval(QuitDelayMs);
    m_quitTimer.setSingleShot(true);
    connect(&m_quitTimer, &QTimer::timeout, this, [this] {
        m_sfTimer.stop();
        m_webCheckTimer.stop();
        m_zihoTimer.stop();
        if (m_desk)
            m_desk->publishTimeSignals({});
        m_fadeTimer.stop();
        m_hideTimer.stop();
        emit ended();
    });

    m_hideTimer.setObjectName(QStringLiteral("tmr_visible"));
    m_hideTimer.setInterval(StripHideMs);
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, &m_stage, &Stage::tmr_visible_Timer);
    connect(&m_stage, &Stage::hideCountRestarted, &m_hideTimer, qOverload<>(&QTimer::start));
    connect(&m_stage, &Stage::hideCountStarted, this, [this] {
        if (!m_hideTimer.isActive())
            m_hideTimer.start();
    });

    m_fadeTimer.setObjectName(QStringLiteral("tmr_voldown"));
    m_fadeTimer.setInterval(FadeStepMs);
    connect(&m_fadeTimer, &QTimer::timeout, &m_stage, &Stage::tmr_voldown_Timer);
    connect(&m_stage, &Stage::fadeStarted, &m_fadeTimer, qOverload<>(&QTimer::start));
}

KaraokeSession::~KaraokeSession()
{
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
        reloadTurnSettings();
        m_stage.restoreRecordedQueue();
        m_sfTimer.start();
        m_webCheckTimer.start();
    }
    if (!m_zihoTimer.isActive())
        m_zihoTimer.start();
    m_stage.post(Cmd::Start{});
}

void KaraokeSession::reloadTurnSettings()
{
    m_closing = readClosingTime(m_paths);
    m_stage.setQueueOrder(readQueueOrder(m_paths));
    if (m_desk)
        m_desk->publishClosing(m_closing);
}

void KaraokeSession::setTimeSignalSource(TimeSignalSource* source)
{
    m_timeSignals = source;
    m_stage.setTimeSignalSource(source);
}

void KaraokeSession::setGuestDesk(GuestDesk* desk)
{
    m_desk = desk;
    if (m_desk)
        connect(&m_stage, &Stage::roomChanged, this, &KaraokeSession::publishToDesk, Qt::UniqueConnection);
    publishToDesk();
    if (m_desk)
        m_desk->publishClosing(m_closing);
}

void KaraokeSession::publishToDesk()
{
    if (!m_desk || m_taking)
        return;
    const auto entry = [](const Reservation& r) {
        return QueueEntry{r.id, r.number, r.title, r.user, r.device, r.keyTempo, r.held};
    };
    QList<QueueEntry> waiting;
    waiting.reserve(m_stage.queue().size());
    for (const Reservation& r : m_stage.queue())
        waiting.append(entry(r));
    const auto& playing = m_stage.playing();
    m_desk->publishQueue(playing ? std::optional(entry(*playing)) : std::nullopt, waiting);
}

void KaraokeSession::takeFromDesk()
{
    if (!m_desk)
        return;
    // The host's phone saved other settings: read them as the operator's menu has them read.
    if (m_desk->takeSettingsChanged())
        reloadTurnSettings();
    std::vector<Command> taken = m_desk->take();
    if (taken.empty())
        return;
    // The phones see each reservation as accepted until the queue they read holds it: all that was
    // taken is carried out before the queue is published again.
    m_taking = true;
    for (Command& command : taken) {
        const bool reservation = std::holds_alternative<Cmd::Reserve>(command);
        m_stage.post(std::move(command));
        // The server recorded it before accepting it: the record lets go of it as the stage takes it
        // (the record's accepted reservations and the desk's are in the same order).
        if (reservation)
            m_stage.handOverLastPost();
    }
    m_stage.catchUp();
    m_taking = false;
    publishToDesk();
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
        if (m_desk)
            m_desk->publishTimeSignals({});
        return;
    }
    const QDateTime now = m_clock.now();
    const QList<TimeItem> times = m_timeSignals->times();
    if (const auto item = m_firing.due(now, times)) {
        qCInfo(lcKaraoke).noquote() << "time signal at" << item->time() << "for" << item->field();
        m_stage.post(Cmd::TimeSignal{item->field()});
    }
    publishTimeSignals(now, times);
}

void KaraokeSession::publishTimeSignals(const QDateTime& now, const QList<TimeItem>& times)
{
    if (!m_desk)
        return;
    // The phones' waits count the time signals that will fire before each song starts.
    QList<DeskSignal> ahead;
    QHash<QString, QStringList> videos; // most items share a field ("nofile")
    for (const Firing& firing : m_firing.ahead(now, times)) {
        const QString field = firing.item.playedField();
        auto known = videos.constFind(field);
        if (known == videos.constEnd())
            known = videos.insert(field, m_timeSignals->videosFor(field));
        if (!known->isEmpty())
            ahead.append({firing.in, *known});
    }
    m_desk->publishTimeSignals(ahead);
}

void KaraokeSession::tmr_sf_Timer()
{
    m_stage.catchUp();
    if (m_record)
        m_record->syncIfDue();
    m_stage.saveRestedKeyTempo();
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

    // Under a time signal the song waits where it was; over the idle screen nothing waits.
    if (m_desk)
        m_desk->publishPosition(m_main.isPlaying() || (timeSignalPlaying && m_stage.playing())
                                    ? std::optional(m_main.position())
                                    : std::nullopt,
                                m_main.tempo());

    // While karaoke mode ends the farewell stays on screen: no idle message, no next song. A
    // message that must be read (a missing video) stays for its few seconds too.
    sayUnplayableSong();
    if (!timeSignalPlaying && !isEnding() && !m_stage.holdsMessage() && !m_main.isPlaying() && !m_stage.songPaused()) {
        const int pending = m_stage.pendingCount();
        const bool idleSaid = std::holds_alternative<Cmd::NoReservations>(m_stage.lastCommand());
        if (pending > 0)
            m_stage.post(Cmd::PlayNext{});
        else if (pending == 0 || (pending == -1 && !idleSaid))
            m_stage.post(Cmd::NoReservations{});
    }

    // Over the idle screen (nothing plays, nothing waits) guests are shown how to join from a phone,
    // and break music plays.
    const bool nothingPlays = !timeSignalPlaying && !m_main.isPlaying();
    const bool idle = nothingPlays && !isEnding() && m_stage.pendingCount() == -1;
    if (m_view) {
        m_view->setGuestInviteVisible(idle);
        const PlayState mainState = m_main.playState();
        const bool noPicture = mainState == PlayState::NoMedia || mainState == PlayState::Failed;
        const QString shown = m_main.mediaPath();
        m_view->setIdlePictureVisible(nothingPlays && noPicture && (shown.isEmpty() || shown == m_paths.introVideo()));
    }
    showNextSinger(timeSignalPlaying);

    // A song or time signal stops the music itself, on the stage's signal just before it plays.
    if (m_music && (nothingPlays || isEnding()))
        m_music->setIdle(idle, m_main.volume());

    if (m_entry.keepFocus() && m_view)
        m_view->focusCommandBox();
    m_entry.focusKeeperRan();
}

void KaraokeSession::showNextSinger(bool timeSignalPlaying)
{
    if (!m_view)
        return;
    NextSingerCard card;
    if (!timeSignalPlaying && !isEnding()) {
        bool call = !m_main.isPlaying(); // the idle screen between songs
        if (m_stage.playing() && (m_stage.songPlaying() || m_stage.songPaused())) {
            const auto left = secondsLeft(m_main.position(), m_main.durationSeconds(), m_main.tempo());
            call = left && *left <= NextSingerCallSeconds;
        }
        if (call) {
            if (const Reservation* next = m_stage.nextSong())
                card.next = nextSingerText(*next);
            if (const auto minutes = minutesToClosing(m_clock.now(), m_closing))
                card.closing = closingNoticeText(*minutes);
        }
    }
    m_view->setNextSingerCard(card);
}

void KaraokeSession::tmr_webcheck_Timer()
{
    if (m_second.isPlaying())
        return;
    takeFromDesk();
    const auto webRoot = readWebRoot(m_paths);
    if (!webRoot)
        return;
    const RequestTake take = takeRequest(exchangeFile(*webRoot, ExchangeFile::Request));
    if (take.error != m_webError) {
        m_webError = take.error;
        if (!take.error.isEmpty()) {
            qCWarning(lcKaraoke).noquote() << take.error;
            m_stage.sayProblem(QStringLiteral("ゲストの予約を受け取れませんでした：") + take.error);
        }
    }
    if (!take.request)
        return;

    // Run as if the guest had typed it at the keypad, under the name the request gives: a script may
    // reserve, stop songs or set the volume. Field 1 counts by its leading number ("12ab" is 12).
    const QString user = storedUserName(take.request->user);
    if (take.request->code == u"login")
        m_entry.DoCommandFor(Keypad::Login.toString(), user);
    else
        m_entry.DoCommandFor(decimalText(leadingNumber(take.request->code)),
                             user.isEmpty() ? GuestUser.toString() : user);
}

void KaraokeSession::sayUnplayableSong()
{
    if (m_main.playState() != PlayState::Failed) {
        m_unplayable.clear();
        return;
    }
    const QString path = m_main.mediaPath();
    if (path == m_paths.introVideo() || path == m_unplayable)
        return;
    m_unplayable = path;
    m_stage.reportUnplayable();
}

void KaraokeSession::startQuitTimer()
{
    if (!m_quitTimer.isActive())
        m_quitTimer.start();
}

} // namespace tarv
