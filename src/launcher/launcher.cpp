#include "launcher/launcher.h"

#include "launcher/mainwindow.h"
#include "launcher/startup.h"

#include <QMessageBox>

namespace tarv {

QString applicationFolder(const QStringList& arguments, const QString& executableDir)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QStringLiteral("--app-dir") && i + 1 < arguments.size())
            return arguments[i + 1];
        if (arg.startsWith(QStringLiteral("--app-dir=")))
            return arg.mid(10);
    }
    return executableDir;
}

Launcher::Launcher(const AppPaths& paths, Clock& clock) : m_paths(paths), m_clock(clock) {}

Launcher::~Launcher() = default;

bool Launcher::start()
{
    m_guard = std::make_unique<InstanceGuard>(m_paths);
    if (!m_guard->acquire()) {
        QMessageBox::critical(nullptr, QStringLiteral("エラー"), QStringLiteral("既に起動しています"));
        return false;
    }
    startupBackup(m_paths, m_clock.now());

    m_main = std::make_unique<MainWindow>(m_paths);
    m_main->show();
    return true;
}

} // namespace tarv
