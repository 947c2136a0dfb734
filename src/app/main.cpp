#include "common/apppaths.h"
#include "common/clock.h"
#include "launcher/launcher.h"
#include "launcher/startup.h"
#include "launcher/termination.h"
#include "launcher/translations.h"
#include "player/heaplimits.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QMessageBox>
#include <QStandardPaths>

#include <clocale>

int main(int argc, char** argv)
{
    tarv::limitHeapGrowth(); // before any thread starts
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarv"));
    QGuiApplication::setDesktopFileName(QStringLiteral(TARV_APP_ID));
    std::setlocale(LC_NUMERIC, "C"); // libmpv refuses to start under other numeric locales

    tarv::installJapaneseTranslations();
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), font.family()});
    QApplication::setFont(font);

    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString folder =
        tarv::applicationFolder(QApplication::arguments(), QApplication::applicationDirPath(), dataDir);
    // The user's data folder is made on first use; a folder named by --app-dir must exist already.
    if (folder == dataDir)
        QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir()) {
        qCCritical(tarv::lcLauncher).noquote() << "the application folder" << folder << "does not exist";
        QMessageBox::critical(nullptr, QStringLiteral("エラー"),
                              QStringLiteral("アプリケーションフォルダ %1 がありません。").arg(folder));
        return 2;
    }
    tarv::quitOnTermination();
    tarv::SystemClock clock;
    tarv::Launcher launcher(tarv::AppPaths(folder), clock);
    if (!launcher.start())
        return 1;
    return QApplication::exec();
}
