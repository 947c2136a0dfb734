#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "common/clock.h"
#include "launcher/wireless.h"
#include "stage/turnorder.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class QScreen;

namespace tarv {

class ConnectionWindow;
class Favourites;
class GuestDesk;
class GuestService;
class HostAccess;
class InstanceGuard;
class KaraokeMode;
class LibraryWindow;
class MpvPlayer;
class MainWindow;
class PlayHistory;
class QueueRecord;
class TimeSignals;
class TimeSignalWindow;
class WebServer;

// Start-up and the windows reached from the main window's menus.
class Launcher : public QObject
{
    Q_OBJECT

public:
    Launcher(const AppPaths& paths, Clock& clock);
    ~Launcher() override;

    // The single-instance check, the first start's empty library, the backup and the main window. False
    // when another copy runs (after the message box); nothing has been written then.
    bool start();

    MainWindow* mainWindow() const { return m_main.get(); }
    KaraokeMode* karaokeMode() const { return m_karaoke.get(); }
    const AppState& appState() const { return m_state; }

    // The wireless start: fetch the remote PC's song list, then start karaoke mode announcing that PC.
    // The download runs on the event loop under the wait cursor, with a dialog that can cancel it.
    // A failure is shown in a message box; the local list stays and karaoke mode does not start.
    void startWireless();
    SongListDownload* wirelessDownload() const { return m_download; }
    // The library window (men_Db), opened once and brought to the front afterwards.
    void showLibrary();
    // The connection window (men_Connection); closing it unloads it, so "Send" works again next time.
    void showConnection();
    // The personality window (one at a time).
    void showPersonality();
    // Asks which screen karaoke mode covers (カラオケ画面) and remembers the answer.
    void chooseKaraokeScreen();
    // The screen karaoke mode covers now.
    QScreen* karaokeScreen() const;
    // Saves the order of the waiting songs (予約の順番); karaoke mode, when it runs, re-orders them.
    void chooseQueueOrder(QueueOrder order);
    // Asks for the closing time (閉店時刻) and saves it.
    void chooseClosingTime();
    // The time-signal settings window (men_Signal), loaded if it is not and brought to the front.
    void showTimeSignals();
    // The time-signal start (mem_ZihoActive): time signals on, with the settings window loaded and
    // hidden, when an entry is enabled; otherwise the window is unloaded and karaoke mode starts
    // without them.
    void startWithTimeSignals();

    TimeSignalWindow* timeSignalWindow() const;
    // The port of the guest pages, 0 when the server could not listen.
    quint16 guestServerPort() const;
    QueueRecord* queueRecord() const { return m_record.get(); }

private:
    AppPaths m_paths;
    Clock& m_clock;
    AppState m_state;
    std::unique_ptr<TimeSignals> m_signals; // outlives the windows that read it
    std::unique_ptr<InstanceGuard> m_guard;
    // Every reservation waiting, for the next start after a crash; outlives everything that writes it.
    std::unique_ptr<QueueRecord> m_record;
    std::unique_ptr<GuestDesk> m_desk; // between the guest server and the karaoke session
    // What the room sang, logged by the stage and read by the phones; outlives both.
    std::unique_ptr<PlayHistory> m_history;
    std::unique_ptr<Favourites> m_favourites;
    std::thread m_historyLoad; // reads the play log once at start
    // The library window's preview, shown by its view; outlives the window, a child of the main window.
    std::unique_ptr<MpvPlayer> m_preview;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<KaraokeMode> m_karaoke;
    QPointer<LibraryWindow> m_library;
    QPointer<SongListDownload> m_download;
    QPointer<ConnectionWindow> m_connection;
    QPointer<TimeSignalWindow> m_signalWindow;
    QPointer<QWidget> m_personality;
    // Read by the guest server's thread: reservations are taken only while karaoke mode runs.
    std::shared_ptr<std::atomic<bool>> m_karaokeRunning = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<GuestService> m_guests;
    std::unique_ptr<HostAccess> m_host;
    std::unique_ptr<WebServer> m_web; // stops before the service it calls goes

    void startGuestServer(QString notice);
    // After a run that did not end normally: keep its reservations for the next karaoke mode, discard
    // them, or (Escape) put the question off until the next start.
    void askToRestoreQueue(qsizetype count);

    TimeSignalWindow* loadTimeSignalWindow();
};

} // namespace tarv
