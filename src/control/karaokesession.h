#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "control/breakmusic.h"
#include "control/commandentry.h"
#include "control/nextsinger.h"
#include "player/mpvplayer.h"
#include "stage/stage.h"

#include <QObject>
#include <QTime>
#include <QTimer>

#include <memory>
#include <optional>

namespace tarv {

class Clock;
class GuestDesk;
class Player;
class QueueRecord;

// What karaoke mode asks of its full-screen window.
class KaraokeView
{
public:
    virtual ~KaraokeView() = default;
    // Give txt_input the keyboard focus (and its window the activation).
    virtual void focusCommandBox() = 0;
    virtual void setMainPlayerVisible(bool visible) = 0;
    virtual void setSecondPlayerVisible(bool visible) = 0;
    // The guests' web address and its QR code in a corner, shown over the idle screen only.
    virtual void setGuestInviteVisible(bool visible) = 0;
    // The built-in idle picture, shown where the song player has no picture to show (no intro video).
    virtual void setIdlePictureVisible(bool) {}
    // The card that calls the next singer (and counts the minutes to closing); an empty one is hidden.
    virtual void setNextSingerCard(const NextSingerCard&) {}
};

// The players of karaoke mode: the song player GomX1, the time-signal player GomX2 and the
// audio-only break music player. Views are attached to the first two to show their frames.
struct SessionPlayers
{
    std::unique_ptr<MpvPlayer> main;
    std::unique_ptr<MpvPlayer> second;
    std::unique_ptr<MpvPlayer> music;
};

// One run of karaoke mode, without widgets: the stage, the command entry and the timers that run
// while karaoke mode lasts (tmr_sf, tmr_ziho, tmr_webcheck, tmr_quit and the stage's tmr_visible and tmr_voldown). The
// window that shows it holds a reference and forwards keys; it never owns this logic.
class KaraokeSession : public QObject, private QuitTimer
{
    Q_OBJECT

public:
    // On players owned elsewhere (tests); musicPlayer plays the break music of bgm/ (none: no music).
    KaraokeSession(Player& mainPlayer, Player& secondPlayer, const AppState& state, const AppPaths& paths,
                   const Clock& clock, QObject* parent = nullptr, Player* musicPlayer = nullptr);
    // On players of its own, which live as long as the session.
    KaraokeSession(SessionPlayers players, const AppState& state, const AppPaths& paths, const Clock& clock,
                   QObject* parent = nullptr);
    ~KaraokeSession() override;

    // The players the session owns (empty when it plays on players owned elsewhere).
    const SessionPlayers& players() const { return m_players; }

    Stage& stage() { return m_stage; }
    CommandEntry& entry() { return m_entry; }
    void setView(KaraokeView* view) { m_view = view; }
    // The time-signal settings that tmr_ziho and the stage read while time signals are on.
    void setTimeSignalSource(TimeSignalSource* source);
    // The queue record: the queue is written there, the first start takes what it holds, and a
    // reservation taken from the guest desk lets go of the accepted reservation it carries.
    void setQueueRecord(QueueRecord* record);
    // The program's own guest server: its requests are taken with the request file's, and the
    // waiting reservations and the playing position are published to it.
    void setGuestDesk(GuestDesk* desk);

    // The start step: the first time, empty the published queue file, take the queue record's
    // reservations and start tmr_sf; every time, start tmr_ziho if a tick has stopped it, and post
    // "000000".
    void start();
    // Reads the order of the waiting songs (db/queueorder.txt) and the closing time (db/closing.txt)
    // again: the first start reads them, and the operator's change of either is taken up at once.
    void reloadTurnSettings();
    std::optional<QTime> closingTime() const { return m_closing; }

    // tmr_sf, every 200 ms: the player switch around a time signal, the next-song trigger, the next
    // singer's card and the focus keeper.
    void tmr_sf_Timer();

    // tmr_ziho, every 500 ms: posts "000013" with the item's field when a time item's minute has come;
    // stops itself when time signals are off.
    void tmr_ziho_Timer();

    // tmr_webcheck, every 200 ms: posts everything the guest server submitted, in order, then takes at
    // most one request from the web side's request file (outside programs) and posts it for the web
    // user: a login, a reservation of a six-digit number, anything else a code error. Nothing is taken
    // while a time signal plays.
    void tmr_webcheck_Timer();

    bool isEnding() const { return m_quitTimer.isActive(); }
    QTimer& quitTimer() { return m_quitTimer; }
    QTimer& timeSignalTimer() { return m_zihoTimer; }

signals:
    // tmr_quit fired: karaoke mode is over.
    void ended();

private:
    // A song whose video the main player could not load is said as a missing one, once.
    void sayUnplayableSong();
    void takeFromDesk();
    void publishToDesk();
    // In a song's last NextSingerCallSeconds and over the idle screen: who sings next, and from
    // ClosingNoticeMinutes before closing the minutes left. Nothing under a time signal or the farewell.
    void showNextSinger(bool timeSignalPlaying);
    void publishTimeSignals(const QDateTime& now, const QList<TimeItem>& times);
    // QuitTimer
    void startQuitTimer() override;

    SessionPlayers m_players; // first, so that they outlive everything that plays on them
    Player& m_main;
    Player& m_second;
    const AppState& m_state;
    const Clock& m_clock;
    AppPaths m_paths;
    Stage m_stage;
    StageConnection m_link;
    CommandEntry m_entry;
    std::unique_ptr<BreakMusic> m_music;
    KaraokeView* m_view = nullptr;
    bool m_loaded = false;
    QString m_webError;   // the last problem of the web poll, said once
    QString m_unplayable; // the video whose failure was said
    std::optional<QTime> m_closing;

    TimeSignalSource* m_timeSignals = nullptr;
    QueueRecord* m_record = nullptr;
    GuestDesk* m_desk = nullptr;
    bool m_taking = false; // carrying out what was taken from the desk
    FiringGuard m_firing;  // tmr_ziho's Tag: the last fired time

    QTimer m_sfTimer;       // tmr_sf
    QTimer m_zihoTimer;     // tmr_ziho
    QTimer m_webCheckTimer; // tmr_webcheck
    QTimer m_quitTimer;     // tmr_quit
    QTimer m_hideTimer;     // tmr_visible
    QTimer m_fadeTimer;     // tmr_voldown
};

} // namespace tarv
