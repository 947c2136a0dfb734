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

// Removes the save helper's temporary files that a crash left in the folders the program writes
// (db/, db/bu/, src/ and the exchange folder of the web root), nothing else; returns their paths.
// Run once another copy of the program is known not to be saving.
QStringList removeLeftoverTemporaries(const AppPaths& paths);

// The main window's four-line information text, lines joined with CR LF. A file that is missing leaves
// its date empty.
QString informationText(const QString& version, const QString& executablePath, const QString& songListPath,
                        const QLocale& locale = QLocale::system());

// The version dialog's text, lines joined with CR LF.
QString versionText(const QString& version);

} // namespace tarv
