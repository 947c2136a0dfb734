#include "player/playerview.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPalette>
#include <QWindow>

#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <atomic>
#include <cstdio>

namespace tarv {

// Draws one player's video through mpv's render API.
class VideoSurface : public QOpenGLWidget
{
public:
    VideoSurface(MpvPlayer& player, QWidget* parent) : QOpenGLWidget(parent), m_player(player)
    {
        setFocusPolicy(Qt::NoFocus);
        connect(&m_player, &MpvPlayer::mediaChanged, this, qOverload<>(&QWidget::update));
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
    // Qt calls this again for a new GL context (after the widget moved to another window).
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
        std::fprintf(stderr, "tarv: cannot draw video: %s\n", mpv_error_string(error));
        m_render = nullptr;
        // Still let the player open its media, so that it plays (without a picture) and ends.
        m_player.setRendererAttached(true);
        return;
    }

    // mpv calls this on its own thread: only queue the work onto the GUI thread.
    mpv_render_context_set_update_callback(
        m_render,
        [](void* context) {
            auto* self = static_cast<VideoSurface*>(context);
            if (!self->m_updateQueued.exchange(true))
                QMetaObject::invokeMethod(
                    self, [self] { self->frameReady(); }, Qt::QueuedConnection);
        },
        this);

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
    QWindow* window = this->window()->windowHandle();
    if (isVisible() && window && window->isExposed()) {
        update();
        return;
    }
    // Nobody will paint: take the frame anyway, or mpv waits for it and playback stutters.
    makeCurrent();
    int skip = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
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
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()), static_cast<int>(width() * ratio),
                       static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
}

namespace {
std::optional<PlayerView::Output> s_defaultOutput;
}

PlayerView::Output PlayerView::defaultOutput()
{
    if (s_defaultOutput)
        return *s_defaultOutput;
    const QString platform = QGuiApplication::platformName();
    if (platform == u"offscreen" || platform == u"minimal")
        return Output::Headless;
    return Output::Screen;
}

void PlayerView::setDefaultOutput(std::optional<Output> output)
{
    s_defaultOutput = output;
}

PlayerView::PlayerView(QWidget* parent) : PlayerView(defaultOutput(), MpvPlayer::Sound::System, parent) {}

PlayerView::PlayerView(Output output, MpvPlayer::Sound sound, QWidget* parent)
    : QWidget(parent), m_output(output),
      m_player(std::make_unique<MpvPlayer>(output == Output::Screen ? MpvPlayer::Video::Render : MpvPlayer::Video::None,
                                           output == Output::Screen ? sound : MpvPlayer::Sound::None))
{
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);

    connect(this, &QObject::objectNameChanged, m_player.get(),
            [player = m_player.get()](const QString& name) { player->setObjectName(name); });

    if (output == Output::Screen) {
        m_surface = new VideoSurface(*m_player, this);
        m_surface->setGeometry(rect());
    }
}

PlayerView::~PlayerView()
{
    // The renderer must be freed before the mpv core it draws.
    delete m_surface;
    m_surface = nullptr;
}

QImage PlayerView::grabFrame()
{
    if (m_surface)
        return m_surface->grabFramebuffer();
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
