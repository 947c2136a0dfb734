#include "launcher/karaokescreen.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"

namespace tarv {
namespace {

QString choiceFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/karaokescreen.txt"));
}

} // namespace

QString screenLabel(const ScreenInfo& screen)
{
    return QStringLiteral("%1 (%2×%3)").arg(screen.name).arg(screen.size.width()).arg(screen.size.height());
}

qsizetype chooseKaraokeScreen(const QList<ScreenInfo>& screens, const QString& mainWindowScreen, const QString& chosen)
{
    const auto named = [&screens](const QString& name) {
        for (qsizetype i = 0; i < screens.size(); ++i) {
            if (screens.at(i).name == name)
                return i;
        }
        return qsizetype(-1);
    };
    if (const qsizetype i = chosen.isEmpty() ? -1 : named(chosen); i >= 0)
        return i;
    if (screens.size() >= 2) {
        const qsizetype main = named(mainWindowScreen);
        return main == 0 ? 1 : 0;
    }
    return screens.isEmpty() ? -1 : 0;
}

QString readKaraokeScreen(const AppPaths& paths)
{
    const auto lines = readTextLines(choiceFile(paths), 4096);
    return lines && !lines->isEmpty() ? lines->constFirst().trimmed() : QString();
}

QString saveKaraokeScreen(const AppPaths& paths, const QString& name)
{
    return saveFile(choiceFile(paths), encodeCp932(name) + "\r\n");
}

} // namespace tarv
