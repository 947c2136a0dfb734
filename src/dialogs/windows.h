#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tarv {

// A message box that does not hold up the event loop: the program goes on while it is open, and it
// deletes itself when answered. Its text is plain (file names are not markup).
QMessageBox* showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                         const QString& objectName = {});

// Centres a box over its parent window once that window is on screen: a box opened while its
// window is still being mapped would otherwise be put in the screen's corner by the window manager.
void placeOverParent(QWidget* box);

// Before a window is first shown: no larger than the screen it opens on, and placed wholly on it
// (window managers place a new window where it may reach past the screen's edge).
void fitOnScreen(QWidget* window);

// Shows a window of the program in front (fitted to its screen the first time).
void bringUp(QWidget* window);

} // namespace tarv
