#pragma once

#include "common/dropengine.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QProgressDialog;
class QWidget;

namespace tarv {

// Runs a drop onto an operator window one file per turn of the event loop, with a progress dialog
// whose cancel stops the drop after the current file.
class DropRunner : public QObject
{
    Q_OBJECT

public:
    // progressText has %1 for the files handled and %2 for all of them ("登録中: %1 / %2").
    DropRunner(QWidget* window, const QString& progressText, const QString& title);
    ~DropRunner() override;

    bool running() const { return m_engine != nullptr; }

    // The parent of a box the drop (or the window) asks for: over the progress dialog while it is up.
    QWidget* dialogParent() const;

    // Begins the drop and runs it. With manual numbering every file asks its questions at once;
    // the dialog shows first, so that they come up over it rather than under it.
    void start(std::unique_ptr<DropEngine> engine);
    void cancel();

signals:
    // After each file, and when the drop has ended.
    void progressed(int handled, int total);
    void finished(bool refreshLists);

private:
    QString progressLabel(int handled, int total) const;
    void stepNext();
    void end();

    QWidget* m_window;
    QString m_progressText;
    QString m_title;
    std::unique_ptr<DropEngine> m_engine;
    QPointer<QProgressDialog> m_progress;
};

} // namespace tarv
