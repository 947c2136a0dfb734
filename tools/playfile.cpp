// Manual check of the media player: plays one file in a window, with sound.
//
//   playfile FILE [--seconds N] [--snapshot IMAGE.png]
//
// Keys: Space play/pause, S stop, Home restart, Left/Right -5/+5 s, Up/Down volume +-10, Q or Esc quit.
// With --seconds the window closes by itself after N seconds; --snapshot then saves the picture shown.
#include "player/playerview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <clocale>
#include <cstdio>
#include <memory>

namespace {

class PlayWindow : public QWidget
{
public:
    explicit PlayWindow(const QString& file)
    {
        setWindowTitle(QStringLiteral("playfile - ") + file);
        auto* layout = new QVBoxLayout(this);
        m_view = new tarv::PlayerView(this);
        m_view->setObjectName(QStringLiteral("playfile"));
        m_player = tarv::PlayerView::makePlayer();
        m_view->setPlayer(m_player.get());
        m_view->setMinimumSize(320, 180);
        m_status = new QLabel(this);
        layout->addWidget(m_view, 1);
        layout->addWidget(m_status);
        resize(800, 500);
        setFocusPolicy(Qt::StrongFocus);

        connect(m_view, &tarv::PlayerView::clicked, this, [] { std::printf("clicked\n"); });
        connect(&m_view->mpvPlayer(), &tarv::MpvPlayer::playStateChanged, this,
                [](tarv::PlayState state) { std::printf("play state %d\n", int(state)); });
        connect(&m_view->mpvPlayer(), &tarv::MpvPlayer::fileEnded, this, [] { std::printf("ended\n"); });

        auto* tick = new QTimer(this);
        connect(tick, &QTimer::timeout, this, &PlayWindow::showStatus);
        tick->start(200);

        player().setMediaPath(file);
        player().play();
    }

    tarv::PlayerView* view() const { return m_view; }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        tarv::Player& p = player();
        switch (event->key()) {
        case Qt::Key_Space:
            p.isPlaying() ? p.pause() : p.play();
            break;
        case Qt::Key_S:
            p.stop();
            break;
        case Qt::Key_Home:
            p.setPosition(0);
            break;
        case Qt::Key_Left:
            p.setPosition(p.position() - 5);
            break;
        case Qt::Key_Right:
            p.setPosition(p.position() + 5);
            break;
        case Qt::Key_Up:
            p.setVolume(p.volume() + 10);
            break;
        case Qt::Key_Down:
            p.setVolume(p.volume() - 10);
            break;
        case Qt::Key_Q:
        case Qt::Key_Escape:
            close();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
        showStatus();
    }

private:
    tarv::Player& player() { return m_view->player(); }

    void showStatus()
    {
        tarv::Player& p = player();
        m_status->setText(QStringLiteral("state %1   %2 / %3   volume %4")
                              .arg(int(p.playState()))
                              .arg(tarv::MpvPlayer::formatDuration(p.position()), p.durationText())
                              .arg(p.volume()));
    }

    std::unique_ptr<tarv::MpvPlayer> m_player; // goes before the view, which then turns black
    tarv::PlayerView* m_view = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    QStringList args = QApplication::arguments().mid(1);
    double seconds = 0;
    QString snapshot;
    QString file;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--seconds" && i + 1 < args.size())
            seconds = args[++i].toDouble();
        else if (args[i] == u"--snapshot" && i + 1 < args.size())
            snapshot = args[++i];
        else
            file = args[i];
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: playfile FILE [--seconds N] [--snapshot IMAGE.png]\n");
        return 2;
    }

    PlayWindow window(file);
    window.show();
    if (seconds > 0) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), &window, [&] {
            if (!snapshot.isEmpty() && !window.view()->grabFrame().save(snapshot))
                std::fprintf(stderr, "cannot save %s\n", qPrintable(snapshot));
            window.close();
        });
    }
    return app.exec();
}
