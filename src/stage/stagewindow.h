#pragma once

#include "stage/stage.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

class QLabel;
class QListWidget;
class QTimer;

namespace tarv {

// Lengths of the stage's layout are given in twips; 15 twips make one pixel.
constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips * 2 + 15) / 30 : -((-twips * 2 + 15) / 30);
}

// Form3: the topmost strip laid over the control window with the status line, the reservation
// queue (shown as "up next") and the now-playing record. It never takes the keyboard focus: the
// command box on the control window keeps it. A click on the strip runs the stage's activation
// step once more.
class StageWindow : public QWidget, public StageView
{
    Q_OBJECT

public:
    StageWindow(Player& mainPlayer, Player& secondPlayer, const StageEnvironment& environment, const AppPaths& paths,
                const Clock& clock, QWidget* parent = nullptr);
    ~StageWindow() override;

    Stage& stage() { return *m_stage; }

    // The control window the strip lies over (the screen when there is none).
    void setControlWindow(QWidget* control);

    // Where the strip goes over a control window at the given place: 10 twips in from its left
    // and top edges, 20 twips narrower, the strip's own height kept.
    static QRect placement(const QRect& control, int height);

    // StageView
    void showStage() override;
    void hideStage() override;
    void restartHideTimer() override;
    void startHideTimer() override;
    void startFade() override;
    void statusChanged(const QString& text, StatusColour colour) override;
    void queueChanged() override;
    void nowPlayingChanged() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect controlGeometry() const;

    std::unique_ptr<Stage> m_stage;
    QPointer<QWidget> m_control;

    QLabel* lbl_title = nullptr;
    QLabel* lbl_nowtitle = nullptr;
    QLabel* lbl_next = nullptr;
    QListWidget* lst_nextid = nullptr;
    QListWidget* lst_nexttitle = nullptr;
    QListWidget* lst_nextuser = nullptr;
    QTimer* tmr_visible = nullptr;
    QTimer* tmr_voldown = nullptr;
};

} // namespace tarv
