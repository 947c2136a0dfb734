#include "control/commandentry.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "player/player.h"
#include "stage/codes.h"
#include "stage/stage.h"

#include <QtGlobal>

#include <cmath>

namespace tarv {

void StageConnection::post(QStringView code)
{
    m_stage.post(code);
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
    return m_stage.pendingCount();
}

void StageConnection::setCurrentUser(const QString& user)
{
    m_stage.setCurrentUser(user);
}

void StageConnection::catchUp()
{
    m_stage.catchUp();
}

CommandEntry::CommandEntry(StageLink& stage, Player& mainPlayer, Player& secondPlayer, const Clock& clock)
    : m_stage(stage), m_main(mainPlayer), m_second(secondPlayer), m_clock(clock)
{
}

void CommandEntry::post(QStringView code)
{
    m_stage.post(code);
}

void CommandEntry::quit()
{
    post(Code::Quit);
    if (m_quit)
        m_quit->startQuitTimer();
}

void CommandEntry::DoCommand()
{
    m_stage.catchUp();
    const QString t = m_text;
    const bool showing = m_stage.isShowing();
    const QString slot = m_stage.codeSlot();
    const int pending = m_stage.pendingCount();

    if (t.size() == 6 && t == Code::Start) {
        quit();
    } else if (t.size() == 6) {
        post(t);
    } else if (t == Keypad::Review || t.isEmpty()) {
        if (pending <= 0)
            post(Code::NoReservations);
        else if (showing && slot == Code::ReviewNext)
            post(Code::ReviewNext);
        else
            post(Code::ReviewStart);
    } else if (t == Keypad::Login) {
        post(Code::Login);
    } else if (t == Keypad::Interrupt) {
        if (showing && leadingNumber(slot) > 100000)
            post(Code::NewestToFront);
        else if (showing && slot == Code::ReviewNext)
            post(Code::ReviewedToFront);
    } else if (t == Keypad::Cancel) {
        if (showing && pending <= 0)
            post(Code::NoReservations);
        else if (showing && slot != Code::CancelReviewed)
            post(Code::CancelReviewed);
    } else if (t == Keypad::Skip) {
        if (m_main.isPlaying())
            post(Code::FastForward);
    } else if (t == Keypad::SingAgain) {
        post(showing && slot == Code::AskSingAgain ? Code::SingAgain : Code::AskSingAgain);
    } else if (t == Keypad::Stop) {
        post(showing && slot == Code::AskStop ? Code::Stop : Code::AskStop);
    } else if (t == Keypad::TimeSignalPrefix.toString() + m_clock.now().toString(QStringLiteral("dd"))) {
        post(Code::TimeSignal);
    } else if (t == Keypad::FullVolume || t.size() == 1) {
        post(t);
    } else {
        post(Code::CodeError);
    }

    m_keepFocus = true;
    m_text.clear();
}

QString CommandEntry::volumeLevel(int step) const
{
    const double level = std::round(std::round(m_main.volume()) / 10.0) + step;
    return decimalText(qBound(1.0, level, 10.0));
}

void CommandEntry::txt_input_KeyDown(int key)
{
    m_stage.catchUp();
    if (key == Qt::Key_Right) {
        m_text = Keypad::Skip.toString();
        DoCommand();
        m_skipSincePress = true;
    }
}

void CommandEntry::txt_input_KeyUp(int key)
{
    m_stage.catchUp();
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
        m_stage.setCurrentUser(QStringLiteral("Guest"));
        m_text = decimalText(leadingNumber(m_text));
        DoCommand();
    }
}

void CommandEntry::txt_input_LostFocus()
{
    m_keepFocus = true;
}

} // namespace tarv
