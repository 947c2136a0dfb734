#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "stage/turnorder.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QActionGroup;
class QLabel;
class QUrl;

namespace tarv {

// The window shown while the program runs (Form1): information text, menus, version dialog.
// Closing it ends the program.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(const AppPaths& paths, const AppState& state, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the run's connection mode ("act", or the remote PC's address) in lbl_mode.
    void showConnectionMode();

    // Rebuilds lbl_system's four lines from the files' dates.
    void refreshInformation();
    // lbl_system's text as the four lines joined with CR LF.
    QString informationText() const { return m_information; }

    // A message for the operator under the information text (the first start's new library); empty hides it.
    void setNotice(const QString& text);

    // How the version dialog opens the maker's page (the desktop's browser unless a test replaces it).
    void setUrlOpener(std::function<void(const QUrl&)> opener);

    QAction* action(const QString& objectName) const;

signals:
    void startRequested();                   // mem_TarvActive
    void timeSignalStartRequested();         // mem_ZihoActive
    void wirelessStartRequested();           // men_Wirelessmode
    void libraryRequested();                 // men_Db
    void timeSignalSettingsRequested();      // men_Signal
    void connectionRequested();              // men_Connection
    void personalityRequested();             // the personality window
    void karaokeScreenRequested();           // men_KaraokeScreen: which screen karaoke mode covers
    void queueOrderChosen(QueueOrder order); // men_QueueOrder: "予約順" or "交代制"
    void closingTimeRequested();             // men_Closing: the closing time

public slots:
    void showVersionDialog();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addItem(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut = {},
                     bool enabled = true);
    void buildMenus();
    // Checks the order db/queueorder.txt holds.
    void showQueueOrder();

    AppPaths m_paths;
    const AppState& m_state;
    QLabel* m_system = nullptr; // lbl_system
    QLabel* m_mode = nullptr;   // lbl_mode
    QLabel* m_notice = nullptr; // lbl_notice
    QActionGroup* m_queueOrder = nullptr;
    QString m_information;
    std::function<void(const QUrl&)> m_openUrl;
};

} // namespace tarv
