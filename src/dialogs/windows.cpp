#include "dialogs/windows.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace tarv {

QMessageBox* showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                         const QString& objectName)
{
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    if (!objectName.isEmpty())
        box->setObjectName(objectName);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    placeOverParent(box);
    return box;
}

void placeOverParent(QWidget* box)
{
    QWidget* window = box->parentWidget() ? box->parentWidget()->window() : nullptr;
    if (!window)
        return;
    auto* poll = new QTimer(box);
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, box, [box, window, poll, tries = 0]() mutable {
        const bool shown = window->windowHandle() && window->windowHandle()->isExposed();
        if (shown) {
            box->adjustSize();
            box->move(window->frameGeometry().center() - QPoint(box->width() / 2, box->height() / 2));
        }
        if (shown || ++tries > 100)
            poll->deleteLater();
    });
    poll->start();
}

void fitOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // Room for the title bar and borders the window manager adds.
    const QSize frame(16, 40);
    window->resize(window->size().boundedTo(available.size() - frame));
    const QSize outer = window->size() + frame;
    window->move(available.x() + std::max(0, (available.width() - outer.width()) / 2),
                 available.y() + std::max(0, (available.height() - outer.height()) / 2));
}

void bringUp(QWidget* window)
{
    if (!window->isVisible())
        fitOnScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tarv
