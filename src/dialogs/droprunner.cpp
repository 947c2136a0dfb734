#include "dialogs/droprunner.h"

#include "dialogs/operatordialogs.h"

#include <QProgressDialog>
#include <QTimer>

namespace tarv {

DropRunner::DropRunner(QWidget* window, const QString& progressText, const QString& title)
    : QObject(window), m_window(window), m_progressText(progressText), m_title(title)
{
}

DropRunner::~DropRunner()
{
    // The engine writes what it copied in and may still ask the window's prompts, which use this.
    m_engine.reset();
}

QWidget* DropRunner::dialogParent() const
{
    return tarv::dialogParent(m_progress, m_window);
}

QString DropRunner::progressLabel(int handled, int total) const
{
    return m_progressText.arg(handled).arg(total);
}

void DropRunner::start(std::unique_ptr<DropEngine> engine)
{
    if (m_engine || !engine)
        return;
    m_engine = std::move(engine);
    if (!m_engine->begin()) {
        end();
        return;
    }
    const int total = m_engine->total();
    m_progress = new QProgressDialog(progressLabel(0, total), QStringLiteral("キャンセル"), 0, total, m_window);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setWindowTitle(m_title);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(total > 1 ? 300 : 60 * 60 * 1000);
    connect(m_progress, &QProgressDialog::canceled, this, &DropRunner::cancel);
    m_progress->setValue(0);
    if (!m_engine->numbersAutomatically() && total > 1)
        m_progress->show();
    QTimer::singleShot(0, this, &DropRunner::stepNext);
}

void DropRunner::cancel()
{
    if (m_engine)
        m_engine->cancel();
}

void DropRunner::stepNext()
{
    if (!m_engine)
        return;
    if (m_progress && m_progress->wasCanceled())
        m_engine->cancel();
    m_engine->step();
    const int handled = m_engine->handled();
    const int total = m_engine->total();
    if (m_progress && !m_progress->wasCanceled()) {
        m_progress->setLabelText(progressLabel(handled, total));
        m_progress->setValue(handled);
    }
    emit progressed(handled, total);
    if (!m_engine || !m_engine->running()) {
        end();
        return;
    }
    QTimer::singleShot(0, this, &DropRunner::stepNext);
}

void DropRunner::end()
{
    if (m_progress) {
        m_progress->close();
        m_progress->deleteLater();
    }
    const bool refresh = m_engine && m_engine->refreshLists();
    m_engine.reset();
    emit finished(refresh);
}

} // namespace tarv
