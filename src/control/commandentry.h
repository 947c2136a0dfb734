#pragma once

#include "stage/command.h"

#include <QList>
#include <QString>
#include <QStringView>

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
    virtual void post(Command command) = 0;
    // The stage window is on screen (a message posted in the last 5 seconds).
    virtual bool isShowing() const = 0;
    virtual QString codeSlot() const = 0;
    // Reservations waiting (held ones too: the keypad reviews and cancels them); -1 once the idle
    // screen was shown over an empty queue.
    virtual int pendingCount() const = 0;
    // Carry out the posts of earlier handlers before the stage is read.
    virtual void catchUp() = 0;
    // A song plays (not the idle video, not under a time signal).
    virtual bool songPlaying() const = 0;
};

// The link to the real stage.
class StageConnection : public StageLink
{
public:
    explicit StageConnection(Stage& stage) : m_stage(stage) {}
    void post(Command command) override;
    bool isShowing() const override;
    QString codeSlot() const override;
    int pendingCount() const override;
    void catchUp() override;
    bool songPlaying() const override;

private:
    Stage& m_stage;
};

// The end of karaoke mode, as the command entry starts it.
class QuitTimer
{
public:
    virtual ~QuitTimer() = default;
    // tmr_quit: karaoke mode ends 5 s later. Starting it again while it runs does not postpone the end.
    virtual void startQuitTimer() = 0;
};

// What the keypad's user types, besides song numbers and volume levels.
namespace Keypad {
inline constexpr QStringView Review = u"0";
inline constexpr QStringView Login = u"610";
inline constexpr QStringView Interrupt = u"11";
inline constexpr QStringView Cancel = u"99";
inline constexpr QStringView Skip = u"66";
inline constexpr QStringView SingAgain = u"55";
inline constexpr QStringView Stop = u"44";
inline constexpr QStringView TimeSignalPrefix = u"33"; // followed by today's day of the month
inline constexpr QStringView FullVolume = u"10";
} // namespace Keypad

// One line of the card that lies beside the keypad: what to press and what it does.
struct KeypadCommand
{
    QString keys;
    QString meaning;
};

// Every command of the keypad a guest may use, in the order the card lists them; the key texts are made from the
// same constants the interpreter compares with, so the card cannot drift from what the keys do.
QList<KeypadCommand> keypadCard();

// The logic of the hidden command box txt_input: the interpreter DoCommand and the key handlers.
// Every action ends as at most one command posted to the stage.
class CommandEntry
{
public:
    CommandEntry(StageLink& stage, Player& mainPlayer, Player& secondPlayer, const Clock& clock);

    void setQuitTimer(QuitTimer* quit) { m_quit = quit; }

    // txt_input's text.
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }
    // txt_input's keep-focus flag: set when the box loses the focus and after every command.
    bool keepFocus() const { return m_keepFocus; }

    // Interprets the text, posts at most one command, then empties the box and sets the keep-focus flag.
    // What it reserves or announces is for the keypad's user, GuestUser.
    void DoCommand();
    // Runs a text as if typed for the named user (lbl_user), as the request file asks; the box keeps
    // what the keypad's user has typed, and their next command is for GuestUser again.
    void DoCommandFor(const QString& text, const QString& user);

    // Key handlers of txt_input (Qt key codes). Key-down runs for every automatic repeat.
    void txt_input_KeyDown(int key);
    // The singer's keys ("+" "-" key, "*" "/" tempo, "." guide vocal): handled on key-down, never
    // typed into the box, and leaving the text typed so far as it is.
    static bool isSingerKey(int key);
    void txt_input_KeyUp(int key);
    void txt_input_LostFocus();

    // The focus keeper ran (every tmr_sf tick): the command box has the focus again.
    void focusKeeperRan() { m_skipSincePress = false; }

    // The volume level ("1" to "10") one step up or down from the main player's volume; a volume
    // between levels (after a fade) goes to the nearest level.
    QString volumeLevel(int step) const;

private:
    void post(Command command);
    void singerKey(int key);
    // The farewell ("000002") and tmr_quit.
    void quit();

    StageLink& m_stage;
    Player& m_main;
    Player& m_second;
    const Clock& m_clock;
    QuitTimer* m_quit = nullptr;
    QString m_text;
    QString m_user;
    bool m_keepFocus = false;
    bool m_skipSincePress = false; // a right-arrow key-down skipped since the last tmr_sf tick
};

} // namespace tarv
