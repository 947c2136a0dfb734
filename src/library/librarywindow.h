#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "library/library.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListView;
class QListWidget;
class QMimeData;
class QModelIndex;
class QPushButton;

namespace tarv {

class Player;
class DropRunner;

// The library window (Form4, "DB操作"): registration by drag and drop, editing and deleting with a
// preview, the exports, the consistency check and the web root. Opened non-modally; "Quit" closes
// and discards it (it deletes itself on close).
//
// previewWidget shows the preview player and becomes a child of the window (it is deleted with
// it); preview is the player behind it and must outlive the window. Usually both are one
// PlayerView made for this window.
class LibraryWindow : public QWidget
{
    Q_OBJECT

public:
    LibraryWindow(const AppPaths& paths, Clock& clock, QWidget* previewWidget, Player& preview,
                  QWidget* parent = nullptr);
    ~LibraryWindow() override;

    // The version the song book names; the main window's system version.
    void setSystemVersion(const QString& version) { m_systemVersion = version; }

    const Library& library() const { return m_library; }
    bool dropRunning() const;

    // lbl_input_dd: files dropped from a file manager.
    void lbl_input_dd_OLEDragDrop(const QMimeData* data);

signals:
    // After each file of a drop has been handled, and when the drop has ended.
    void dropProgress(int handled, int total);
    void dropFinished();

private:
    void buildWidgets(QWidget* previewWidget);
    QWidget* buildInstallFrame();
    QLayout* buildCheckLayout();
    void Form_Load();
    void cmd_path_Click();
    void cmd_errcheck_Click();
    void lst_err_Click(int row);
    void lst_db_edit_allfile_DblClick(const QModelIndex& index);
    void cmd_db_edit_change_Click();
    void cmd_db_edit_del_Click();
    void cmd_dbtohtml_Click();
    void cmd_dbtohtml_cgi_Click();

    void dropStepped(int handled, int total);
    void endDrop(bool refreshLists);
    void showEditFrame();
    void showLog();

    AppPaths m_paths;
    DropRunner* m_drop;
    std::unique_ptr<OperatorPrompts> m_prompts;
    Player& m_preview;
    Library m_library;
    QString m_systemVersion = QStringLiteral("1.00");

    QElapsedTimer m_logShown;

    QLineEdit* txt_path = nullptr;
    QPushButton* cmd_path = nullptr;
    class SongsModel;
    SongsModel* m_songs; // both song lists show it
    QListView* lst_db_edit_allfile = nullptr;
    QLabel* lbl_db_edit_bef_no = nullptr;
    QLineEdit* txt_db_edit_aft_no = nullptr;
    QLineEdit* txt_db_edit_new_title = nullptr;
    QPushButton* cmd_db_edit_change = nullptr;
    QPushButton* cmd_db_edit_del = nullptr;
    QCheckBox* chk_db_edit_autosave = nullptr;
    QPushButton* cmd_dbtohtml_cgi = nullptr;
    QPushButton* cmd_dbtohtml = nullptr;
    QLabel* lbl_dbtohtml_log = nullptr;
    QLabel* lbl_input_dd = nullptr;
    QListView* lst_allfile = nullptr;
    QCheckBox* chk_autocopy = nullptr;
    QCheckBox* chk_srcdel = nullptr;
    QCheckBox* chk_autosave = nullptr;
    QPushButton* cmd_errcheck = nullptr;
    QListWidget* lst_err = nullptr;
    QListWidget* fle_err = nullptr;
    QPushButton* cmd_close = nullptr;
};

} // namespace tarv
