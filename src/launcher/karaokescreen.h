#pragma once

#include "common/apppaths.h"

#include <QList>
#include <QSize>
#include <QString>

namespace tarv {

// A screen as the karaoke screen choice sees it.
struct ScreenInfo
{
    QString name;
    QSize size;
};

// "HDMI-1 (1920×1080)", as the choice lists it.
QString screenLabel(const ScreenInfo& screen);

// The screen karaoke mode goes full-screen on: the operator's choice when that screen is there;
// otherwise, with two or more screens, the first one that does not show the main window (a laptop
// driving a TV); otherwise the only one. -1 when there is no screen at all.
qsizetype chooseKaraokeScreen(const QList<ScreenInfo>& screens, const QString& mainWindowScreen, const QString& chosen);

// The operator's choice, db/karaokescreen.txt: a screen's name on its first line; empty (or no file)
// for the automatic choice.
QString readKaraokeScreen(const AppPaths& paths);
// Replaces the choice; returns why it could not, or an empty text.
QString saveKaraokeScreen(const AppPaths& paths, const QString& name);

} // namespace tarv
