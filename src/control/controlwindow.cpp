#include "control/controlwindow.h"

#include "player/playerview.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

namespace tarv {

ControlWindow::ControlWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Tarv"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    GomX1 = new PlayerView(this);
    GomX1->setObjectName(QStringLiteral("GomX1"));
    GomX2 = new PlayerView(this);
    GomX2->setObjectName(QStringLiteral("GomX2"));
    GomX2->hide();
    for (PlayerView* view : {GomX1, GomX2})
        connect(view, &PlayerView::clicked, this, &ControlWindow::focusCommandBox);

    // Above the visible area, where it keeps the keyboard focus without being seen.
    txt_input = new QLineEdit(this);
    txt_input->setObjectName(QStringLiteral("txt_input"));
    txt_input->setGeometry(0, -300 / 15, 200, 20);
    txt_input->installEventFilter(this);
    // Keypad digits go straight in; a Japanese input method must not hold them for conversion.
    txt_input->setAttribute(Qt::WA_InputMethodEnabled, false);

    tmr_active = new QTimer(this);
    tmr_active->setObjectName(QStringLiteral("tmr_active"));
    tmr_active->setInterval(1);
    tmr_active->setSingleShot(true);
    connect(tmr_active, &QTimer::timeout, this, &ControlWindow::tmr_active_Timer);

    tmr_sf = new QTimer(this);
    tmr_sf->setObjectName(QStringLiteral("tmr_sf"));
    tmr_sf->setInterval(200);
    connect(tmr_sf, &QTimer::timeout, this, [this] {
        if (m_entry)
            m_entry->tmr_sf_Timer();
    });

    tmr_quit = new QTimer(this);
    tmr_quit->setObjectName(QStringLiteral("tmr_quit"));
    tmr_quit->setInterval(5000);
    tmr_quit->setSingleShot(true);
    connect(tmr_quit, &QTimer::timeout, this, &ControlWindow::quitRequested);
}

ControlWindow::~ControlWindow() = default;

Player& ControlWindow::mainPlayer()
{
    return GomX1->player();
}

Player& ControlWindow::secondPlayer()
{
    return GomX2->player();
}

void ControlWindow::setCommandEntry(CommandEntry* entry)
{
    m_entry = entry;
    if (m_entry)
        m_entry->setView(this);
}

void ControlWindow::coverScreen()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
}

void ControlWindow::start()
{
    coverScreen();
    tmr_active->start();
    tmr_sf->start();
}

void ControlWindow::tmr_active_Timer()
{
    // The window covers the screen; the players fill it and the time-signal player waits hidden.
    showNormal();
    coverScreen(); // the players follow through resizeEvent
    GomX2->hide();
    focusCommandBox();
}

void ControlWindow::layoutPlayers()
{
    GomX1->setGeometry(rect());
    GomX2->setGeometry(rect());
}

void ControlWindow::resizeEvent(QResizeEvent* event)
{
    layoutPlayers();
    QWidget::resizeEvent(event);
}

void ControlWindow::startQuitTimer()
{
    if (!tmr_quit->isActive())
        tmr_quit->start();
}

void ControlWindow::focusCommandBox()
{
    if (!isVisible())
        return;
    activateWindow();
    txt_input->setFocus(Qt::OtherFocusReason);
}

void ControlWindow::setMainPlayerVisible(bool visible)
{
    GomX1->setVisible(visible);
}

void ControlWindow::setSecondPlayerVisible(bool visible)
{
    GomX2->setVisible(visible);
    if (visible)
        GomX2->raise();
}

bool ControlWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != txt_input || !m_entry)
        return QWidget::eventFilter(watched, event);

    const auto runKey = [this](auto handler) {
        m_entry->setText(txt_input->text());
        handler();
        if (txt_input->text() != m_entry->text())
            txt_input->setText(m_entry->text());
    };
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Right) {
            runKey([this, key] { m_entry->txt_input_KeyDown(key->key()); });
            return true;
        }
        break;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat())
            runKey([this, key] { m_entry->txt_input_KeyUp(key->key()); });
        break;
    }
    case QEvent::FocusOut:
        m_entry->txt_input_LostFocus();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ControlWindow::closeEvent(QCloseEvent* event)
{
    // Closed from the desktop (Alt+F4): karaoke mode ends at once instead of running on unseen.
    event->ignore();
    emit quitRequested();
}

} // namespace tarv
