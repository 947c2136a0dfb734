#pragma once

#include <QString>

namespace tarv {

class Clock;
class Player;
class Stage;

// What the command entry reads of the stage and how it posts to it.
class StageLink
{
public:
    virtual ~StageLink() = default;
    // Write the code slot, show the stage; the stage acts after the current handler returns.
    virtual void post(const QString& code) = 0;
    // The stage window is on screen (a message posted in the last 5 seconds).
    virtual bool isShowing() const = 0;
    virtual QString codeSlot() const = 0;
    // Reservations waiting; -1 once the idle screen was shown.
    virtual int pendingCount() const = 0;
    virtual void setCurrentUser(const QString& user) = 0;
};

// The link to the real stage.
class StageConnection : public StageLink
{
public:
    explicit StageConnection(Stage& stage) : m_stage(stage) {}
    void post(const QString& code) override;
    bool isShowing() const override;
    QString codeSlot() const override;
    int pendingCount() const override;
    void setCurrentUser(const QString& user) override;

private:
    Stage& m_stage;
};

// What the command entry asks of the control window.
class ControlView
{
public:
    virtual ~ControlView() = default;
    // tmr_quit: karaoke mode ends 5 s later. Starting it again while it runs does not postpone the end.
    virtual void startQuitTimer() = 0;
    // Give txt_input the keyboard focus (and the control window the activation).
    virtual void focusCommandBox() = 0;
    virtual void setMainPlayerVisible(bool visible) = 0;
    virtual void setSecondPlayerVisible(bool visible) = 0;
};

// The control window's logic: the hidden command box txt_input, the interpreter DoCommand, the key
// handlers and the tmr_sf heartbeat (player switch after a time signal, next-song trigger, focus keeper).
// Every action ends as at most one code posted to the stage.
class CommandEntry
{
public:
    CommandEntry(StageLink& stage, Player& mainPlayer, Player& secondPlayer, const Clock& clock);

    void setView(ControlView* view) { m_view = view; }

    // txt_input's text.
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }
    // txt_input's keep-focus flag: set when the box loses the focus and after every command.
    bool keepFocus() const { return m_keepFocus; }

    // Interprets the text, posts at most one code, then empties the box and sets the keep-focus flag.
    void DoCommand();

    // Key handlers of txt_input (Qt key codes). Key-down runs for every automatic repeat.
    void txt_input_KeyDown(int key);
    void txt_input_KeyUp(int key);
    void txt_input_LostFocus();

    // Every 200 ms while karaoke mode runs.
    void tmr_sf_Timer();

    // The volume level ("1" to "10") one step up or down from the main player's volume; a volume
    // between levels (after a fade) goes to the nearest level.
    QString volumeLevel(int step) const;

private:
    void post(const QString& code);
    // The farewell ("000002") and tmr_quit.
    void quit();

    StageLink& m_stage;
    Player& m_main;
    Player& m_second;
    const Clock& m_clock;
    ControlView* m_view = nullptr;
    QString m_text;
    bool m_keepFocus = false;
    bool m_quitting = false;
    bool m_skipSincePress = false; // a right-arrow key-down skipped since the last tmr_sf tick
};

} // namespace tarv
