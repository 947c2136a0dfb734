#pragma once

#include "player/mpvplayer.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>

namespace tarv {

// The widget that shows one player, and owns it. Window code holds a PlayerView where the
// player's picture goes and drives it through player(); its visibility and size are the widget's.
//
// Output::Screen draws the video with OpenGL through mpv's render API and plays the sound on the
// system's default output. Output::Software does the same without OpenGL, through mpv's software
// renderer into an image (slower, for displays that offer no OpenGL). Output::Headless shows a
// black widget in front of a headless player (no video output, no audio device): window tests on
// Qt's offscreen platform, where an OpenGL widget cannot be shown, still drive a real player.
//
// The view never takes the keyboard focus; a mouse press on it emits clicked().
class PlayerView : public QWidget
{
    Q_OBJECT

public:
    enum class Output { Screen, Software, Headless };

    // defaultOutput(), with sound on the system's output.
    explicit PlayerView(QWidget* parent = nullptr);
    PlayerView(Output output, MpvPlayer::Sound sound, QWidget* parent = nullptr);
    ~PlayerView() override;

    Player& player() { return *m_player; }
    MpvPlayer& mpvPlayer() { return *m_player; }
    Output output() const { return m_output; }

    // What the view shows now, at its size in device pixels (black while headless or before the
    // first frame).
    QImage grabFrame();

    // Headless on Qt's "offscreen" and "minimal" platforms, Screen elsewhere (Software when no
    // OpenGL context can be made), unless a test chose otherwise with setDefaultOutput().
    static Output defaultOutput();
    static void setDefaultOutput(std::optional<Output> output);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Output m_output;
    std::unique_ptr<MpvPlayer> m_player;
    QWidget* m_surface = nullptr; // child widget that draws the video; none while headless
};

} // namespace tarv
