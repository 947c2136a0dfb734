#include "player/playerview.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWindow>
#include <QPainter>
#include <QPalette>
#include <QWindow>

#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <algorithm>
#include <atomic>

namespace tarv {

Q_LOGGING_CATEGORY(lcVideo, "tarv.video")

// mpv announces a new frame on one of its own threads: only queue one call of the surface's
// frameReady() onto the interface thread, however many announcements come before it runs.
template <typename Surface> void watchFrames(mpv_render_context* render, Surface* surface)
{
    mpv_render_context_set_update_callback(
        render,
        [](void* context) {
            auto* self = static_cast<Surface*>(context);
            if (!self->m_updateQueued.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->frameReady(); }, Qt::QueuedConnection);
        },
        surface);
}

// Draws one player's video through mpv's render API, into a window of its own straight onto its
// back buffer: the karaoke window around it stays a plain raster window, with no frame buffer of
// the video's size and no OpenGL composition of the whole screen (each a full-screen picture
// held in memory). Mouse presses go through it to the view, and it never takes the focus.
class VideoSurface : public QOpenGLWindow
{
public:
    explicit VideoSurface(MpvPlayer& player) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate), m_player(player)
    {
        setFlag(Qt::WindowDoesNotAcceptFocus);
        setFlag(Qt::WindowTransparentForInput);
        connect(&m_player, &MpvPlayer::mediaChanged, this, qOverload<>(&QPaintDeviceWindow::update));
    }

    ~VideoSurface() override
    {
        disconnect(m_contextGone);
        freeRenderer();
    }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    template <typename Surface> friend void watchFrames(mpv_render_context*, Surface*);
    static void* procAddress(void*, const char* name);
    void freeRenderer();
    void frameReady();

    MpvPlayer& m_player;
    mpv_render_context* m_render = nullptr;
    QMetaObject::Connection m_contextGone;
    std::atomic<bool> m_updateQueued{false};
};

void* VideoSurface::procAddress(void*, const char* name)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

void VideoSurface::initializeGL()
{
    if (m_render || !m_player.mpvHandle())
        return;

    mpv_opengl_init_params glInit{&VideoSurface::procAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    const int error = mpv_render_context_create(&m_render, m_player.mpvHandle(), params);
    if (error < 0) {
        qCWarning(lcVideo) << "cannot draw video:" << mpv_error_string(error);
        m_render = nullptr;
        // Still let the player open its media, so that it plays (without a picture) and ends.
        m_player.setRendererAttached(true);
        return;
    }

    watchFrames(m_render, this);

    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { freeRenderer(); });
    m_player.setRendererAttached(true);
}

void VideoSurface::freeRenderer()
{
    if (!m_render)
        return;
    makeCurrent();
    mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
    mpv_render_context_free(m_render);
    m_render = nullptr;
    doneCurrent();
    m_player.setRendererAttached(false);
}

void VideoSurface::frameReady()
{
    m_updateQueued = false;
    if (!m_render || !(mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME))
        return;
    if (isExposed()) {
        update();
        return;
    }
    // Nobody will paint: take the frame anyway, or mpv waits for it and playback stutters.
    makeCurrent();
    int skip = 1;
    int block = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
    doneCurrent();
}

void VideoSurface::paintGL()
{
    const PlayState state = m_player.playState();
    if (!m_render || state == PlayState::NoMedia || state == PlayState::Failed) {
        QOpenGLFunctions* gl = context()->functions();
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal ratio = devicePixelRatio();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()), static_cast<int>(width() * ratio),
                       static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    // Drawing happens on the interface thread: never wait there for a frame's display time.
    int block = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
}

// Draws one player's video without OpenGL: mpv's software renderer paints into an image, which
// is drawn like any picture.
class SoftwareSurface : public QWidget
{
public:
    SoftwareSurface(MpvPlayer& player, QWidget* parent) : QWidget(parent), m_player(player)
    {
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        connect(&m_player, &MpvPlayer::mediaChanged, this, [this] {
            m_frame = QImage();
            update();
        });
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        const int error = m_player.mpvHandle() ? mpv_render_context_create(&m_render, m_player.mpvHandle(), params)
                                               : MPV_ERROR_UNINITIALIZED;
        if (error < 0) {
            qCWarning(lcVideo) << "cannot draw video:" << mpv_error_string(error);
            m_render = nullptr;
        } else {
            watchFrames(m_render, this);
        }
        // Without a renderer the player still opens its media, so that it plays (unseen) and ends.
        m_player.setRendererAttached(true);
    }

    ~SoftwareSurface() override
    {
        if (!m_render)
            return;
        mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
        mpv_render_context_free(m_render);
        m_player.setRendererAttached(false);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const PlayState state = m_player.playState();
        if (m_frame.isNull() || state == PlayState::NoMedia || state == PlayState::Failed)
            painter.fillRect(rect(), Qt::black);
        else
            painter.drawImage(rect(), m_frame);
    }

private:
    template <typename Surface> friend void watchFrames(mpv_render_context*, Surface*);
    void frameReady()
    {
        m_updateQueued = false;
        if (!m_render || !(mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME))
            return;
        // The picture is scaled up when drawn: at most 1280 pixels wide keeps the CPU's share low.
        const QSize size = this->size().boundedTo(QSize(1280, 1280 * std::max(height(), 1) / std::max(width(), 1)));
        if (m_frame.size() != size || m_frame.isNull())
            m_frame = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        int dimensions[2] = {m_frame.width(), m_frame.height()};
        size_t stride = size_t(m_frame.bytesPerLine());
        int skip = isVisible() ? 0 : 1; // nobody looks: take the frame anyway, or mpv waits for it
        int block = 0;                  // never wait on the interface thread for the display time
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
            {MPV_RENDER_PARAM_SW_SIZE, dimensions},
            {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("bgr0")}, // QImage::Format_RGB32 in memory
            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
            {MPV_RENDER_PARAM_SW_POINTER, m_frame.bits()},
            {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context_render(m_render, params);
        if (!skip)
            update();
    }

    MpvPlayer& m_player;
    mpv_render_context* m_render = nullptr;
    QImage m_frame;
    std::atomic<bool> m_updateQueued{false};
};

namespace {
std::optional<PlayerView::Output> s_defaultOutput;

// Whether this display gives us an OpenGL context at all (an X display reached through indirect
// GLX, a remote desktop without GL): without one, video is drawn in software.
bool openGLWorks()
{
    static const bool works = [] {
        QOpenGLContext context;
        QOffscreenSurface surface;
        surface.create();
        const bool ok = context.create() && surface.isValid() && context.makeCurrent(&surface) &&
                        context.functions()->glGetString(GL_VERSION) != nullptr;
        if (ok)
            context.doneCurrent();
        else
            qCWarning(lcVideo) << "no OpenGL on this display: videos are drawn in software";
        return ok;
    }();
    return works;
}
} // namespace

PlayerView::Output PlayerView::defaultOutput()
{
    if (s_defaultOutput)
        return *s_defaultOutput;
    const QString platform = QGuiApplication::platformName();
    if (platform == u"offscreen" || platform == u"minimal")
        return Output::Headless;
    return openGLWorks() ? Output::Screen : Output::Software;
}

void PlayerView::setDefaultOutput(std::optional<Output> output)
{
    s_defaultOutput = output;
}

std::unique_ptr<MpvPlayer> PlayerView::makePlayer(MpvPlayer::Sound sound, std::optional<Output> output)
{
    if (output.value_or(defaultOutput()) == Output::Headless)
        return std::make_unique<MpvPlayer>();
    return std::make_unique<MpvPlayer>(MpvPlayer::Video::Render, sound);
}

PlayerView::PlayerView(Output output, QWidget* parent) : QWidget(parent), m_output(output)
{
    setFocusPolicy(Qt::NoFocus);
    if (m_output == Output::Screen) {
        // The video's window is stacked with the view's siblings, so that those raised over it
        // stay above it.
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_NativeWindow);
    }
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
}

PlayerView::~PlayerView()
{
    // The renderer must be freed before the mpv core it draws.
    detach();
}

void PlayerView::setPlayer(MpvPlayer* player)
{
    if (player == m_player)
        return;
    detach();
    m_player = player;
    if (!m_player)
        return;
    if (m_player->objectName().isEmpty())
        m_player->setObjectName(objectName());
    m_playerGone = connect(m_player, &MpvPlayer::closing, this, &PlayerView::detach);
    if (m_player->video() != MpvPlayer::Video::Render)
        return;
    if (m_output == Output::Headless) {
        m_player->setRendererAttached(true); // nowhere to draw: it plays unseen
        return;
    }
    m_mediaChanged =
        connect(m_player, &MpvPlayer::mediaChanged, this, &PlayerView::dropIdleSurface, Qt::QueuedConnection);
    makeSurface();
}

void PlayerView::makeSurface()
{
    if (m_surface || !m_player)
        return;
    if (m_output == Output::Screen) {
        m_video = new VideoSurface(*m_player);
        m_surface = QWidget::createWindowContainer(m_video, this, Qt::WindowDoesNotAcceptFocus);
        m_surface->setFocusPolicy(Qt::NoFocus);
        // A native container holds the video's window inside the view's own; otherwise it would go
        // into the karaoke window's, above every overlay.
        m_surface->setAttribute(Qt::WA_NativeWindow);
    } else {
        m_surface = new SoftwareSurface(*m_player, this);
    }
    m_surface->setGeometry(rect());
    m_surface->show();
}

// A hidden view whose player has nothing open (the time-signal view between signals) lets go of
// its surface: a full-screen one holds a frame buffer and the renderer's textures, tens of MB. Shown
// again, it makes a new one, and the player opens its next file once that surface is ready.
void PlayerView::dropIdleSurface()
{
    if (!m_surface || !m_player || !isHidden())
        return;
    const PlayState state = m_player->playState();
    if (state != PlayState::NoMedia && state != PlayState::Failed)
        return;
    delete m_surface;
    m_surface = nullptr;
}

void PlayerView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_player && m_player->video() == MpvPlayer::Video::Render && m_output != Output::Headless)
        makeSurface();
}

void PlayerView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    dropIdleSurface();
}

void PlayerView::detach()
{
    disconnect(m_playerGone);
    disconnect(m_mediaChanged);
    delete m_surface;
    m_surface = nullptr;
    m_player = nullptr;
}

QImage PlayerView::grabFrame()
{
    if (m_video)
        return m_video->grabFramebuffer();
    return grab().toImage();
}

void PlayerView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit clicked();
}

void PlayerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_surface)
        m_surface->setGeometry(rect());
}

} // namespace tarv
