#include "control/commandentry.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "player/player.h"
#include "stage/stage.h"

#include <QtGlobal>

#include <cmath>
#include <utility>

namespace tarv {

void StageConnection::post(Command command)
{
    m_stage.post(std::move(command));
}

bool StageConnection::isShowing() const
{
    return m_stage.isShowing();
}

QString StageConnection::codeSlot() const
{
    return m_stage.codeSlot();
}

int StageConnection::pendingCount() const
{
    // The stage counts none while every song waiting is held; the keypad still reaches them.
    return m_stage.queue().isEmpty() ? m_stage.pendingCount() : int(m_stage.queue().size());
}

void StageConnection::catchUp()
{
    m_stage.catchUp();
}

bool StageConnection::songPlaying() const
{
    return m_stage.songPlaying();
}

QList<KeypadCommand> keypadCard()
{
    // The card lies beside the keypad for the guests: the operator's own codes (a time signal now,
    // the end of karaoke mode) are in the guide only.
    const QString enter = QStringLiteral(" Enter");
    const QString twice = QStringLiteral(" Enter（2回）");
    return {
        {QStringLiteral("曲番号（6桁） Enter"),
         QStringLiteral("曲を予約する（何も演奏していなければすぐに始まります）")},
        {Keypad::Review.toString() + enter, QStringLiteral("予約を確認する（表示中にもう一度押すと次の予約へ）")},
        {Keypad::Interrupt.toString() + enter,
         QStringLiteral("割り込み：予約した直後の曲、または確認中の予約を先頭へ")},
        {Keypad::Cancel.toString() + enter, QStringLiteral("確認中の予約を取り消す")},
        {Keypad::Skip.toString() + enter + QStringLiteral(" ／ →"),
         QStringLiteral("演奏中の曲を5秒早送り（→は押している間続けて）")},
        {Keypad::SingAgain.toString() + twice,
         QStringLiteral("歌い直し（始まって15秒以内）：1回目で確認、2回目で最初から")},
        {Keypad::Stop.toString() + twice, QStringLiteral("演奏中止：1回目で確認、2回目で中止")},
        {QStringLiteral("1〜9 ／ ") + Keypad::FullVolume.toString() + enter, QStringLiteral("音量を10%〜100%にする")},
        {QStringLiteral("↑ ／ ↓"), QStringLiteral("音量を1段上げる／下げる")},
        {QStringLiteral("+ ／ -"), QStringLiteral("演奏中の曲のキーを半音上げる／下げる（♭6〜♯6）")},
        {QStringLiteral("* ／ /"), QStringLiteral("演奏中の曲のテンポを5%上げる／下げる（-25%〜+25%）")},
        {QStringLiteral("."), QStringLiteral("ガイドボーカルを切り替える（2つ目の音声がある曲）")},
    };
}

CommandEntry::CommandEntry(StageLink& stage, Player& mainPlayer, Player& secondPlayer, const Clock& clock)
    : m_stage(stage), m_main(mainPlayer), m_second(secondPlayer), m_clock(clock), m_user(GuestUser.toString())
{
}

void CommandEntry::post(Command command)
{
    m_stage.post(std::move(command));
}

void CommandEntry::quit()
{
    post(Cmd::Quit{});
    if (m_quit)
        m_quit->startQuitTimer();
}

void CommandEntry::DoCommand()
{
    using namespace Cmd;
    m_stage.catchUp();
    const QString t = m_text;
    const bool showing = m_stage.isShowing();
    const QString slot = m_stage.codeSlot();
    const int pending = m_stage.pendingCount();

    if (t.size() == 6 && t == Start::code) {
        quit();
    } else if (t.size() == 6) {
        // Six characters are a code or a song number.
        post(commandForCode(t).value_or(Reserve{SongNumber::fromText(t), m_user}));
    } else if (t == Keypad::Review || t.isEmpty()) {
        if (pending <= 0)
            post(NoReservations{});
        else if (showing && slot == ReviewNext::code)
            post(ReviewNext{});
        else
            post(ReviewStart{});
    } else if (t == Keypad::Login) {
        post(Login{m_user});
    } else if (t == Keypad::Interrupt) {
        if (showing && leadingNumber(slot) > 100000)
            post(NewestToFront{});
        else if (showing && slot == ReviewNext::code)
            post(ReviewedToFront{});
    } else if (t == Keypad::Cancel) {
        if (showing && pending <= 0)
            post(NoReservations{});
        else if (showing && slot != CancelReviewed::code)
            post(CancelReviewed{});
    } else if (t == Keypad::Skip) {
        if (m_main.isPlaying())
            post(FastForward{});
    } else if (t == Keypad::SingAgain) {
        post(showing && slot == AskSingAgain::code ? Command(SingAgain{}) : Command(AskSingAgain{}));
    } else if (t == Keypad::Stop) {
        post(showing && slot == AskStop::code ? Command(Stop{}) : Command(AskStop{}));
    } else if (t == Keypad::TimeSignalPrefix.toString() + m_clock.now().toString(QStringLiteral("dd"))) {
        post(TimeSignal{});
    } else if (t == Keypad::FullVolume || t.size() == 1) {
        post(Volume{leadingNumber(t)});
    } else {
        post(CodeError{});
    }

    m_keepFocus = true;
    m_text.clear();
}

void CommandEntry::DoCommandFor(const QString& text, const QString& user)
{
    // What a guest has typed so far stays in the box for their own Enter.
    const QString typed = std::exchange(m_text, text);
    m_user = user;
    DoCommand();
    m_user = GuestUser.toString();
    m_text = typed;
}

QString CommandEntry::volumeLevel(int step) const
{
    const double level = std::round(std::round(m_main.volume()) / 10.0) + step;
    return decimalText(qBound(1.0, level, 10.0));
}

void CommandEntry::txt_input_KeyDown(int key)
{
    if (key == Qt::Key_Right) {
        m_text = Keypad::Skip.toString();
        DoCommand();
        m_skipSincePress = true;
    }
    if (isSingerKey(key))
        singerKey(key);
}

bool CommandEntry::isSingerKey(int key)
{
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Minus:
    case Qt::Key_Asterisk:
    case Qt::Key_Slash:
    case Qt::Key_Period:
        return true;
    default:
        return false;
    }
}

// Each press goes one step from where the song is now; the typed text stays for its Enter.
void CommandEntry::singerKey(int key)
{
    m_stage.catchUp();
    if (!m_stage.songPlaying())
        return;
    switch (key) {
    case Qt::Key_Plus:
        post(Cmd::Key{m_main.key() + 1});
        break;
    case Qt::Key_Minus:
        post(Cmd::Key{m_main.key() - 1});
        break;
    case Qt::Key_Asterisk:
        post(Cmd::Tempo{m_main.tempo() + KeyTempo::TempoStep});
        break;
    case Qt::Key_Slash:
        post(Cmd::Tempo{m_main.tempo() - KeyTempo::TempoStep});
        break;
    case Qt::Key_Period:
        post(Cmd::GuideVocal{!m_main.guideVocal()});
        break;
    default:
        break;
    }
}

void CommandEntry::txt_input_KeyUp(int key)
{
    if (key == Qt::Key_Escape)
        quit();
    if (key == Qt::Key_Up) {
        m_text = volumeLevel(+1);
        DoCommand();
    }
    // Releasing the key skips once more only when the focus keeper has run since the last skip of the
    // held key, so a quick tap skips 5 s and holding the key keeps skipping.
    if (key == Qt::Key_Right && !m_skipSincePress) {
        m_text = Keypad::Skip.toString();
        DoCommand();
    }
    if (key == Qt::Key_Down) {
        m_text = volumeLevel(-1);
        DoCommand();
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_second.isPlaying()) {
        m_text = decimalText(leadingNumber(m_text));
        DoCommand();
    }
}

void CommandEntry::txt_input_LostFocus()
{
    m_keepFocus = true;
}

} // namespace tarv
