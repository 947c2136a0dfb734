#pragma once

#include "common/apppaths.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <memory>

class QLockFile;

namespace tarv {

inline const QString SystemVersion = QStringLiteral("1.00");
inline const QString MakerPage = QStringLiteral("http://tarv.example.com/");

// Keeps a second copy of the program from running on the same application folder. The lock lives in the
// system's temporary folder, so a refused copy writes nothing under the application folder.
class InstanceGuard
{
public:
    explicit InstanceGuard(const AppPaths& paths);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // False when another copy holds the application folder.
    bool acquire();
    QString lockPath() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
};

// The backup taken at each start. A missing song list or backup folder skips it; returns what was written
// (empty when nothing was) so the caller can tell, and why it failed in *error.
QString startupBackup(const AppPaths& paths, const QDateTime& now, QString* error = nullptr);

// The main window's four-line information text, lines joined with CR LF. A file that is missing leaves
// its date empty.
QString informationText(const QString& version, const QString& executablePath, const QString& songListPath,
                        const QLocale& locale = QLocale::system());

// The version dialog's text, lines joined with CR LF.
QString versionText(const QString& version);

} // namespace tarv
