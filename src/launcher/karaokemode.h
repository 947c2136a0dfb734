#pragma once

#include "common/apppaths.h"
#include "stage/stage.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace tarv {

class Clock;
class CommandEntry;
class ControlWindow;
class MainWindow;
class StageConnection;
class StageWindow;

// The stage reads the connection mode and the version from the main window.
class MainWindowEnvironment : public StageEnvironment
{
public:
    explicit MainWindowEnvironment(const MainWindow& main) : m_main(main) {}
    QString connectionMode() const override;
    QString systemVersion() const override;
    bool timeSignalsOn() const override { return false; }

private:
    const MainWindow& m_main;
};

// Karaoke mode: the control window and the stage window while they are open.
class KaraokeMode : public QObject
{
    Q_OBJECT

public:
    KaraokeMode(const AppPaths& paths, const Clock& clock, const MainWindow& main, QObject* parent = nullptr);
    ~KaraokeMode() override;

    // The common start step: opens the control window (its load step empties the published queue
    // file and starts its timers) when it is not open, shows both windows and posts "000000".
    void start();
    // Closes the control and stage windows; karaoke mode can be started again.
    void end();

    bool isRunning() const { return m_control != nullptr; }
    ControlWindow* controlWindow() const { return m_control.get(); }
    StageWindow* stageWindow() const { return m_stage.get(); }
    CommandEntry* commandEntry() const { return m_entry.get(); }

signals:
    void ended();

private:
    void load();

    AppPaths m_paths;
    const Clock& m_clock;
    MainWindowEnvironment m_environment;
    std::unique_ptr<ControlWindow> m_control;
    std::unique_ptr<StageWindow> m_stage;
    std::unique_ptr<StageConnection> m_link;
    std::unique_ptr<CommandEntry> m_entry;
};

} // namespace tarv
