#pragma once

#include "timesignal/timesignals.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QListWidget;
class QMimeData;
class QPushButton;

namespace tarv {

class DropRunner;

// The time-signal settings window (Form5, "時報設定"), over the settings logic that the launcher
// keeps. Modeless. Hiding it (the time-signal start, its own button) keeps time signals on;
// closing it with its close box unloads it, which turns them off, and deletes it.
class TimeSignalWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TimeSignalWindow(TimeSignals& settings, QWidget* parent = nullptr);
    ~TimeSignalWindow() override;

    // Closes and deletes the window; time signals are off afterwards.
    void unload();

    bool dropRunning() const;

    // lbl_ziho_inst: files dropped from a file manager.
    void lbl_ziho_inst_OLEDragDrop(const QMimeData* data);

signals:
    void dropFinished();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    void Form_Load();
    void showSettings();
    void cmd_ziho_active_Click();
    void cmd_ziho_file_true_Click();
    void cmd_ziho_file_del_Click();
    void cmd_ziho_file_save_Click();
    void deleteEntry(TimeSignals::Side side);
    void cmd_ziho_time_set_Click();
    void lst_ziho_time_DblClick();
    void cmd_ziho_time_del_Click();
    void cmd_ziho_time_save_Click();

    void endDrop(bool refreshLists);
    void fillEntryLists();
    void fillTimeList();
    void fillSourceFolder();
    void showLog();

    TimeSignals& m_settings;
    DropRunner* m_drop;
    std::unique_ptr<OperatorPrompts> m_prompts;

    QPushButton* cmd_ziho_active = nullptr;
    QLabel* lbl_ziho_inst = nullptr;
    QCheckBox* chk_autocopy = nullptr;
    QCheckBox* chk_srcdel = nullptr;
    QListWidget* lst_ziho_all = nullptr;
    QListWidget* lst_ziho_act = nullptr;
    QPushButton* cmd_ziho_file_true = nullptr;
    QPushButton* cmd_ziho_file_del = nullptr;
    QPushButton* cmd_ziho_all_del = nullptr;
    QPushButton* cmd_ziho_act_del = nullptr;
    QPushButton* cmd_ziho_file_save = nullptr;
    QListWidget* fle_ziho = nullptr;
    QListWidget* lst_ziho_time = nullptr;
    QPushButton* cmd_ziho_time_set = nullptr;
    QPushButton* cmd_ziho_time_del = nullptr;
    QPushButton* cmd_ziho_time_save = nullptr;
};

} // namespace tarv
