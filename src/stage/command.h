#pragma once

#include "common/keytempo.h"
#include "common/songnumber.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <variant>

namespace tarv {

// The user of a reservation or a login that nobody named: the keypad's, and a web request's
// without a name.
inline constexpr QStringView GuestUser = u"Guest";

// The commands of the stage, one kind for each thing it does. Each kind but a volume step and a
// reservation has its code, the six digits the code slot shows for it.
namespace Cmd {
struct Start
{
    static constexpr QStringView code = u"000000";
};
struct CodeError
{
    static constexpr QStringView code = u"000001";
};
struct Quit
{
    static constexpr QStringView code = u"000002";
};
struct PlayNext
{
    static constexpr QStringView code = u"000003";
};
struct Playing
{
    static constexpr QStringView code = u"000004";
}; // left in the slot by PlayNext
struct NoReservations
{
    static constexpr QStringView code = u"000005";
};
struct AskStop
{
    static constexpr QStringView code = u"000006";
};
struct ReviewNext
{
    static constexpr QStringView code = u"000007";
}; // also left by ReviewStart
struct CancelReviewed
{
    static constexpr QStringView code = u"000008";
};
struct Stop
{
    static constexpr QStringView code = u"000009";
};
struct NewestToFront
{
    static constexpr QStringView code = u"000010";
};
struct ReviewedToFront
{
    static constexpr QStringView code = u"000011";
};
struct ReviewStart
{
    static constexpr QStringView code = u"000012";
};
struct TimeSignal
{
    static constexpr QStringView code = u"000013";
    QString field; // of the time item that fired; empty when asked for on the keypad
};
struct FastForward
{
    static constexpr QStringView code = u"000014";
};
struct AskSingAgain
{
    static constexpr QStringView code = u"000015";
};
struct SingAgain
{
    static constexpr QStringView code = u"000016";
};
struct Login
{
    static constexpr QStringView code = u"000017";
    QString user;
};
// Both players' volume: a level of 1 to 10 is 10% to 100%.
struct Volume
{
    double level = 0;
};
struct Reserve
{
    SongNumber number;
    QString user;
    QString device = {}; // the phone that reserved it (its device cookie); empty for the keypad and the request file
    // Chosen when reserving; none: what the user last sang the song at, else the original.
    std::optional<KeyTempo> keyTempo = std::nullopt;
};
// A guest's cancel of one of their waiting reservations (by its id). The code slot shows it as the
// keypad's cancel.
struct CancelReservation
{
    quint64 id = 0;
};
// A guest's "あとで歌う" (held) or "戻る" (not held) for one of their waiting reservations (by its id):
// a held song is passed over, keeping its singer's rank, until it is released. It leaves no code in
// the slot.
struct Hold
{
    quint64 id = 0;
    bool held = true;
};
// The singer's changes to the song now playing, each to the value it names (a repeat changes
// nothing more). They leave no code in the slot.
struct Key
{
    int semitones = 0;
};
struct Tempo
{
    int percent = 0;
};
struct GuideVocal
{
    bool on = false;
};
// The host's phone: the song playing ends as when it ends by itself, and the next one plays.
struct Skip
{
};
// The host's phone: the song playing pauses, or resumes where it was.
struct Pause
{
};
// The host's phone: a waiting reservation (by its id) moves to a place of the queue, 1 being the next song.
struct Move
{
    quint64 id = 0;
    int to = 1;
};
} // namespace Cmd

using Command =
    std::variant<Cmd::Start, Cmd::CodeError, Cmd::Quit, Cmd::PlayNext, Cmd::Playing, Cmd::NoReservations, Cmd::AskStop,
                 Cmd::ReviewNext, Cmd::CancelReviewed, Cmd::Stop, Cmd::NewestToFront, Cmd::ReviewedToFront,
                 Cmd::ReviewStart, Cmd::TimeSignal, Cmd::FastForward, Cmd::AskSingAgain, Cmd::SingAgain, Cmd::Login,
                 Cmd::Volume, Cmd::Reserve, Cmd::CancelReservation, Cmd::Hold, Cmd::Key, Cmd::Tempo, Cmd::GuideVocal,
                 Cmd::Skip, Cmd::Pause, Cmd::Move>;

// The code slot's record of a command: its code, the volume level or the reserved number (nothing
// for the singer's changes).
QString codeSlot(const Command& command);

// The command of a six-digit code; nullopt for any other text. A login or a time signal made so
// has no user or item.
std::optional<Command> commandForCode(QStringView code);

} // namespace tarv
