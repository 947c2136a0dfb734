#pragma once

#include "player/mpvplayer.h"

#include <QImage>
#include <QOpenGLWindow>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace tarv {

// The widget that shows the frames of one player. The player belongs to the logic that drives it
// (the karaoke session, the launcher for the library's preview); the view is attached to it with
// setPlayer() and only draws. Either may go first: a player that goes detaches itself from its
// view (which turns black), and a view that goes frees its renderer before the player's core.
//
// Output::Screen draws the video with OpenGL through mpv's render API, in a window of its own
// inside the view's own native window. Qt gives the view's siblings native windows too, so those
// raised over it (the karaoke window's strip, badge and cards) stay above the video.
// Output::Software does the same without OpenGL, through mpv's software renderer into an image
// (slower, for displays that offer no OpenGL).
// Output::Headless shows a black widget: window tests on Qt's offscreen platform, where no OpenGL
// window can be shown, still drive a real (headless) player.
// makePlayer() gives a player that views of that output can show.
//
// A view hidden while its player has nothing open frees its drawing surface until it is shown
// again (the player then opens its next file once the new surface is ready).
//
// The view never takes the keyboard focus; a mouse press on it emits clicked().
class PlayerView : public QWidget
{
    Q_OBJECT

public:
    enum class Output { Screen, Software, Headless };

    // defaultOutput().
    explicit PlayerView(QWidget* parent = nullptr) : PlayerView(defaultOutput(), parent) {}
    PlayerView(Output output, QWidget* parent);
    ~PlayerView() override;

    // Shows player's frames from now on (nullptr: none); the player is not owned.
    void setPlayer(MpvPlayer* player);
    // The attached player; only while one is attached.
    Player& player() { return *m_player; }
    MpvPlayer& mpvPlayer() { return *m_player; }
    bool hasPlayer() const { return m_player != nullptr; }
    Output output() const { return m_output; }

    // A player for views of output (no video output when Headless, nor sound then).
    static std::unique_ptr<MpvPlayer> makePlayer(MpvPlayer::Sound sound = MpvPlayer::Sound::System,
                                                 std::optional<Output> output = std::nullopt);

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
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void detach();
    void makeSurface();
    void dropIdleSurface();

    Output m_output;
    MpvPlayer* m_player = nullptr;
    QMetaObject::Connection m_playerGone;
    QMetaObject::Connection m_mediaChanged;
    QWidget* m_surface = nullptr; // child widget that draws the video; none while headless
    QPointer<QOpenGLWindow> m_video; // the window in m_surface that Output::Screen draws into; goes with it
};

} // namespace tarv
