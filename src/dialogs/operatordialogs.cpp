#include "dialogs/operatordialogs.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QTimer>

namespace tarv {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// Always a copy: a file manager told that its file was moved would delete it, and whether the
// source goes is the SauceDelete box's business.
bool acceptCopy(QDropEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace

QCheckBox* checkedBox(const QString& objectName, const QString& caption)
{
    auto* box = named(new QCheckBox(caption), objectName);
    box->setChecked(true);
    return box;
}

QWidget* dialogParent(QProgressDialog* progress, QWidget* window)
{
    // A progress dialog of more than one file shows itself a moment after it starts; a box under the
    // window would then be hidden behind it and blocked by its modality. So the box goes over it.
    if (progress && (progress->isVisible() || progress->maximum() > 1)) {
        progress->show();
        return progress;
    }
    return window;
}

QString shownText(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

QString WindowPrompts::input(const QString& prompt, const QString& title, const QString& defaultAnswer)
{
    QInputDialog dialog(m_parent());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(shownText(prompt));
    dialog.setTextValue(defaultAnswer);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.textValue();
}

bool WindowPrompts::confirm(const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), title, shownText(text), QMessageBox::Yes | QMessageBox::No, m_parent());
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void WindowPrompts::message(const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), title.isEmpty() ? QStringLiteral("Tarv") : title, shownText(text), QMessageBox::Ok,
                    m_parent());
    // Texts carry file names and typed answers, which must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

DropLabel::DropLabel(std::function<void(const QMimeData*)> onDrop) : m_onDrop(std::move(onDrop))
{
    setAcceptDrops(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void DropLabel::dragEnterEvent(QDragEnterEvent* event)
{
    acceptCopy(event);
}

void DropLabel::dragMoveEvent(QDragMoveEvent* event)
{
    acceptCopy(event);
}

void DropLabel::dropEvent(QDropEvent* event)
{
    if (!acceptCopy(event))
        return;
    // The file manager waits for the drop to return; handle the files after it has.
    auto* data = new QMimeData;
    data->setParent(this);
    data->setUrls(event->mimeData()->urls());
    QTimer::singleShot(0, this, [this, data] {
        m_onDrop(data);
        delete data;
    });
}

} // namespace tarv
