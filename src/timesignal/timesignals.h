#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "common/operatorlog.h"
#include "common/operatorprompts.h"
#include "common/signalfiles.h"
#include "timesignal/signalinstallation.h"
#include "timesignal/timesignalsource.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <memory>

namespace tarv {

// The time-signal settings (Form5's logic): the installed and enabled lists, the time list, the
// log, and the switch that turns time signals on. It outlives its window, so that karaoke mode
// reads the lists while the window is hidden; closing the window unloads it and turns time
// signals off.
class TimeSignals : public TimeSignalSource
{
public:
    TimeSignals(const AppPaths& paths, AppState& state);

    // The questions of the operations; without them every question is answered "cancel"/"no" and
    // messages go to the log alone.
    void setPrompts(OperatorPrompts* prompts) { m_prompts = prompts; }

    // Form_Load: the three files into the lists, the summary on top of the log.
    void load();
    // The window was closed: time signals are off, the lists and the log are dropped.
    void unload();
    bool isLoaded() const { return m_loaded; }

    // cmd_ziho_active: unload and load afresh from the files (unsaved edits are dropped), then on.
    void turnOn();

    const AppPaths& paths() const { return m_paths; }
    const OperatorLog& log() const { return m_log; }
    OperatorLog& log() { return m_log; }
    const QList<SignalEntry>& installed() const { return m_installed; }
    const QList<SignalEntry>& enabled() const { return m_enabled; }
    const QList<TimeItem>& timeList() const { return m_times; }
    // Whether db/zihotrue.txt held entries when last read or written.
    bool savedEnabled() const { return m_savedEnabled; }

    // "->" and "<-": the entry at the row moves to the end of the other list.
    void enable(int row);
    void disable(int row);
    // "Save": both entry files from the lists.
    void saveEntries();

    enum class Side { Installed, Enabled };
    // "<-Del" and "Del->": after a confirmation, the entry at the row leaves its file and its video
    // is deleted, unless a song or another entry still uses it; the list is read again.
    bool deleteEntry(Side side, int row);

    // "新規", the double click and "削除" on the time list, and "保存".
    bool addTime(int selectedRow);
    bool changeTime(int row);
    void removeTime(int row);
    void saveTimes();

    // A drop on the log label, not yet begun.
    std::unique_ptr<SignalInstallation> newInstallation(const QStringList& files, InstallOptions options);
    // The installed list afresh from db/ziholist.txt (after an installation).
    void reloadInstalled();

    // The files of src/, in name order (the window's "src" list).
    QStringList sourceFiles() const;

    // Numbers whose video must not be replaced or deleted for a time signal: the intro, every song
    // and every time-signal entry of both files.
    QSet<qint64> numbersInUse() const;

    // TimeSignalSource
    QList<TimeItem> times() const override;
    std::optional<QString> chooseVideo(const QString& field) override;
    QStringList videosFor(const QString& field) const override;

    // The window's prompts, or ones that answer every question "cancel"/"no".
    OperatorPrompts& prompts();

private:
    void note(const QString& problem);
    void showError(const QString& text);
    std::optional<QString> askTime(const QString& prompt, const QString& title, const QString& proposed);
    QString askField(const QString& proposed);

    AppPaths m_paths;
    AppState& m_state;
    OperatorPrompts* m_prompts = nullptr;
    OperatorLog m_log;
    bool m_loaded = false;
    bool m_savedEnabled = false;
    QList<SignalEntry> m_installed; // lst_ziho_all
    QList<SignalEntry> m_enabled;   // lst_ziho_act
    QList<TimeItem> m_times;        // lst_ziho_time
};

} // namespace tarv
