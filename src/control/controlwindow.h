#pragma once

#include "control/commandentry.h"

#include <QWidget>

#include <memory>

class QLineEdit;
class QTimer;

namespace tarv {

class PlayerView;
class Player;

// Form2: the full-screen video window of karaoke mode. It holds the song player GomX1, the
// time-signal player GomX2 laid over it, and the command box txt_input above the visible area,
// which keeps the keyboard focus for the whole of karaoke mode.
class ControlWindow : public QWidget, public ControlView
{
    Q_OBJECT

public:
    explicit ControlWindow(QWidget* parent = nullptr);
    ~ControlWindow() override;

    Player& mainPlayer();
    Player& secondPlayer();
    PlayerView* mainPlayerView() const { return GomX1; }
    PlayerView* secondPlayerView() const { return GomX2; }
    QLineEdit* commandBox() const { return txt_input; }

    // The interpreter the window's keys and timers drive; set once, before start().
    void setCommandEntry(CommandEntry* entry);

    // Covers the screen and starts the timers (tmr_active, tmr_sf).
    void start();

    // ControlView
    void startQuitTimer() override;
    void focusCommandBox() override;
    void setMainPlayerVisible(bool visible) override;
    void setSecondPlayerVisible(bool visible) override;

signals:
    // tmr_quit fired: karaoke mode ends.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void tmr_active_Timer();
    void coverScreen();
    void layoutPlayers();

    CommandEntry* m_entry = nullptr;
    PlayerView* GomX1 = nullptr;
    PlayerView* GomX2 = nullptr;
    QLineEdit* txt_input = nullptr;
    QTimer* tmr_active = nullptr;
    QTimer* tmr_sf = nullptr;
    QTimer* tmr_quit = nullptr;
};

} // namespace tarv
