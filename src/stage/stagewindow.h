#pragma once

#include "stage/stage.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QListWidget;

namespace tarv {

// Form3: the strip laid over the top of the karaoke window's videos, with the status line, the
// reservation queue (shown as "up next") and the now-playing record. It is a child of the
// full-screen karaoke window, drawn above the players, so no window manager can stack a video over
// it. It never takes the keyboard focus: the command box keeps it. A click on the strip runs the
// stage's activation step once more.
//
// The layout keeps the classic strip's proportions on an 800 x 600 screen, scaled to the window
// it lies in; the status line is never lower than its font, and the queue lists show whole rows
// only, with a count of the reservations they have no room for.
class StageWindow : public QWidget
{
    Q_OBJECT

public:
    explicit StageWindow(Stage& stage, QWidget* parent);
    ~StageWindow() override;

    Stage& stage() { return m_stage; }

    // Rows each queue list has room for.
    int visibleRows() const { return m_rows; }

    // Places the strip along the top of the karaoke window and lays it out for that window's size.
    void fitToParent();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void setShowing(bool showing);
    void showStatus(StatusColour colour);
    void showStatusText();
    void showQueue();
    void showNowPlaying();
    void showKeyTempo();

    Stage& m_stage;
    int m_rows = 1;
    int m_rowHeight = 1;

    QLabel* lbl_title = nullptr;
    QLabel* lbl_nowtitle = nullptr;
    QLabel* lbl_next = nullptr;
    // The song's key and tempo when not the original, under the strip; a child of the karaoke window.
    QPointer<QLabel> lbl_keytempo;
    int m_badgeTop = 0;
    int m_badgeHeight = 0;
    int m_badgeRight = 0;
    QListWidget* lst_nextid = nullptr;
    QListWidget* lst_nexttitle = nullptr;
    QListWidget* lst_nextuser = nullptr;
};

} // namespace tarv
