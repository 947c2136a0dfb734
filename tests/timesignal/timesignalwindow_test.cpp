// The settings window's switch: its button turns time signals on and hides it alive; its close box
// unloads it and turns them off.
#include "library/libraryfixture.h"
#include "timesignal/timesignalwindow.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

TEST(TimeSignalWindow, ButtonTurnsOnAndHidesCloseBoxTurnsOff)
{
    TempLibrary lib;
    lib.writeBytes(installedSignalsFile(lib.paths), "001001\r\na\r\n");
    lib.writeBytes(enabledSignalsFile(lib.paths), "");
    AppState state;
    TimeSignals settings(lib.paths, state);
    QPointer<TimeSignalWindow> window = new TimeSignalWindow(settings);
    window->show();
    window->activateWindow();
    QApplication::processEvents();

    auto* active = window->findChild<QPushButton*>(u"cmd_ziho_active"_s);
    auto* toEnabled = window->findChild<QPushButton*>(u"cmd_ziho_file_true"_s);
    auto* installed = window->findChild<QListWidget*>(u"lst_ziho_all"_s);
    auto* enabled = window->findChild<QListWidget*>(u"lst_ziho_act"_s);
    EXPECT_FALSE(active->isEnabled()); // nothing enabled in the file
    EXPECT_FALSE(toEnabled->isEnabled());
    QTest::mouseClick(installed->viewport(), Qt::LeftButton, {},
                      installed->visualItemRect(installed->item(0)).center());
    EXPECT_TRUE(toEnabled->isEnabled());
    toEnabled->click();
    EXPECT_FALSE(toEnabled->isEnabled());
    EXPECT_EQ(enabled->item(0)->text(), u"001001 | a"_s);
    window->findChild<QPushButton*>(u"cmd_ziho_file_save"_s)->click();
    EXPECT_TRUE(active->isEnabled());

    active->click();
    EXPECT_TRUE(state.timeSignalsOn());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(settings.enabled().size(), 1);

    window->show();
    window->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_FALSE(state.timeSignalsOn());
    EXPECT_FALSE(settings.isLoaded());
}
