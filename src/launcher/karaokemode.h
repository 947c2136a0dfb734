#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"

#include <QObject>

#include <functional>
#include <memory>

class QScreen;

namespace tarv {

class Clock;
class ControlWindow;
class KaraokeSession;
class GuestDesk;
class PlayHistory;
class QueueRecord;
class StageWindow;
class TimeSignalSource;

// Karaoke mode while it runs: the full-screen karaoke window and the session it shows.
class KaraokeMode : public QObject
{
    Q_OBJECT

public:
    KaraokeMode(const AppPaths& paths, const Clock& clock, const AppState& state, QObject* parent = nullptr);
    ~KaraokeMode() override;

    // The common start step: opens the karaoke window and its session when they are not open (the
    // session empties the published queue file and starts its timers), shows the window and posts
    // "000000".
    void start();
    // The time-signal settings each new session reads.
    void setTimeSignalSource(TimeSignalSource* source) { m_timeSignals = source; }
    // The queue record each new session writes its queue to and starts from.
    void setQueueRecord(QueueRecord* record) { m_record = record; }
    // The guest server's desk each new session takes requests from.
    void setGuestDesk(GuestDesk* desk) { m_desk = desk; }
    // Where each song that plays is logged and counted; each new session is a night of its own.
    void setPlayHistory(PlayHistory* history) { m_history = history; }
    // The screen the karaoke window covers, asked at each opening and whenever a screen goes away.
    void setScreenChooser(std::function<QScreen*()> chooser) { m_chooseScreen = std::move(chooser); }
    // Moves the karaoke window, when it is open, to the screen the chooser names.
    void placeOnScreen();
    // Where guests reserve from their phones, asked at each opening of the karaoke window (empty: none).
    void setGuestUrl(std::function<QString()> url) { m_guestUrl = std::move(url); }
    // The order of the waiting songs or the closing time was saved: the running session takes it up.
    void reloadTurnSettings();
    // Closes the karaoke window and ends the session; karaoke mode can be started again.
    void end();

    bool isRunning() const { return m_control != nullptr; }
    ControlWindow* controlWindow() const { return m_control.get(); }
    KaraokeSession* session() const { return m_session.get(); }
    StageWindow* stageWindow() const;

signals:
    void started(); // the session is open
    void ended();

private:
    void load();

    AppPaths m_paths;
    const Clock& m_clock;
    const AppState& m_state;
    TimeSignalSource* m_timeSignals = nullptr;
    QueueRecord* m_record = nullptr;
    GuestDesk* m_desk = nullptr;
    PlayHistory* m_history = nullptr;
    quint64 m_playId = 0; // the play log's id of the song playing
    std::function<QString()> m_guestUrl;
    std::function<QScreen*()> m_chooseScreen;
    std::unique_ptr<ControlWindow> m_control;
    std::unique_ptr<KaraokeSession> m_session;
};

} // namespace tarv
