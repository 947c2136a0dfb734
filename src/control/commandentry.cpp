#include "control/commandentry.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "player/player.h"
#include "stage/stage.h"

#include <QtGlobal>

#include <cmath>

namespace tarv {

void StageConnection::post(const QString& code)
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

CommandEntry::CommandEntry(StageLink& stage, Player& mainPlayer, Player& secondPlayer, const Clock& clock)
    : m_stage(stage), m_main(mainPlayer), m_second(secondPlayer), m_clock(clock)
{
}

void CommandEntry::post(const QString& code)
{
    m_stage.post(code);
}

void CommandEntry::quit()
{
    post(QStringLiteral("000002"));
    m_quitting = true;
    if (m_view)
        m_view->startQuitTimer();
}

void CommandEntry::DoCommand()
{
    const QString t = m_text;
    const bool showing = m_stage.isShowing();
    const QString slot = m_stage.codeSlot();
    const int pending = m_stage.pendingCount();

    if (t.size() == 6 && t == QStringLiteral("000000")) {
        quit();
    } else if (t.size() == 6) {
        post(t);
    } else if (t == QStringLiteral("0") || t.isEmpty()) {
        if (pending <= 0)
            post(QStringLiteral("000005"));
        else if (showing && slot == QStringLiteral("000007"))
            post(QStringLiteral("000007"));
        else
            post(QStringLiteral("000012"));
    } else if (t == QStringLiteral("610")) {
        post(QStringLiteral("000017"));
    } else if (t == QStringLiteral("11")) {
        if (showing && leadingNumber(slot) > 100000)
            post(QStringLiteral("000010"));
        else if (showing && slot == QStringLiteral("000007"))
            post(QStringLiteral("000011"));
    } else if (t == QStringLiteral("99")) {
        if (showing && pending <= 0)
            post(QStringLiteral("000005"));
        else if (showing && slot != QStringLiteral("000008"))
            post(QStringLiteral("000008"));
    } else if (t == QStringLiteral("66")) {
        if (m_main.isPlaying())
            post(QStringLiteral("000014"));
    } else if (t == QStringLiteral("55")) {
        post(showing && slot == QStringLiteral("000015") ? QStringLiteral("000016") : QStringLiteral("000015"));
    } else if (t == QStringLiteral("44")) {
        post(showing && slot == QStringLiteral("000006") ? QStringLiteral("000009") : QStringLiteral("000006"));
    } else if (t == QStringLiteral("33") + m_clock.now().toString(QStringLiteral("dd"))) {
        post(QStringLiteral("000013"));
    } else if (t == QStringLiteral("10") || t.size() == 1) {
        post(t);
    } else {
        post(QStringLiteral("000001"));
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
    if (key == Qt::Key_Right) {
        m_text = QStringLiteral("66");
        DoCommand();
        m_skipSincePress = true;
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
        m_text = QStringLiteral("66");
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

void CommandEntry::tmr_sf_Timer()
{
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
        if (m_main.position() != 0)
            m_main.play();
        m_second.stop();
    }

    // While karaoke mode ends the farewell stays on screen: no idle message, no next song.
    if (!timeSignalPlaying && !m_quitting && !m_main.isPlaying()) {
        const int pending = m_stage.pendingCount();
        if (pending > 0)
            post(QStringLiteral("000003"));
        else if (pending == 0)
            post(QStringLiteral("000005"));
        else if (pending == -1 && m_stage.codeSlot() != QStringLiteral("000005"))
            post(QStringLiteral("000005"));
    }

    if (m_keepFocus && m_view)
        m_view->focusCommandBox();
    m_skipSincePress = false;
}

} // namespace tarv
