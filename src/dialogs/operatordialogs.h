#pragma once

#include "common/operatorprompts.h"

#include <QLabel>

#include <functional>

class QCheckBox;
class QDropEvent;
class QMimeData;
class QProgressDialog;

namespace tarv {

template <typename T> T* named(T* widget, const QString& objectName)
{
    widget->setObjectName(objectName);
    return widget;
}

// A check box checked at start.
QCheckBox* checkedBox(const QString& objectName, const QString& caption);

// CR LF line ends as a label shows them.
QString shownText(const QString& text);

// The parent of a question or message box asked while a file-by-file progress dialog may be up:
// the dialog (shown first) when it is or will be shown, the window otherwise.
QWidget* dialogParent(QProgressDialog* progress, QWidget* window);

// Input boxes and message boxes of an operator window, over the widget that parent() names when
// asked (the window, or a progress dialog in front of it).
class WindowPrompts : public OperatorPrompts
{
public:
    explicit WindowPrompts(std::function<QWidget*()> parent) : m_parent(std::move(parent)) {}

    QString input(const QString& prompt, const QString& title, const QString& defaultAnswer) override;
    bool confirm(const QString& text, const QString& title, MessageIcon icon) override;
    void message(const QString& text, const QString& title, MessageIcon icon) override;

private:
    std::function<QWidget*()> m_parent;
};

// A log label (plain text, top left, selectable) that takes files dropped from a file manager.
class DropLabel : public QLabel
{
public:
    explicit DropLabel(std::function<void(const QMimeData*)> onDrop);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::function<void(const QMimeData*)> m_onDrop;
};

} // namespace tarv
