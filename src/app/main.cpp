#include "common/apppaths.h"
#include "common/clock.h"
#include "launcher/launcher.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarv"));
    std::setlocale(LC_NUMERIC, "C"); // libmpv refuses to start under other numeric locales

    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), font.family()});
    QApplication::setFont(font);

    const QString folder = tarv::applicationFolder(QApplication::arguments(), QApplication::applicationDirPath());
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "tarv: the application folder %s does not exist\n", qPrintable(folder));
        return 2;
    }
    tarv::SystemClock clock;
    tarv::Launcher launcher(tarv::AppPaths(folder), clock);
    if (!launcher.start())
        return 1;
    return QApplication::exec();
}
