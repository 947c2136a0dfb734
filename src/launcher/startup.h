#pragma once

#include "common/apppaths.h"
#include "common/dropnote.h"
#include "stage/queuerecord.h"

#include <QDateTime>
#include <QLocale>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcLauncher)

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

// Where the program keeps its data: the folder named by --app-dir; else the executable's folder when it is
// writable and not the bin/ folder of an installed copy (one with its desktop entry in ../share/applications/);
// else dataDir, the user's data folder for Tarv.
QString applicationFolder(const QStringList& arguments, const QString& executableDir, const QString& dataDir);

// True when the folder holds a library of its own: db/ in any form, or a src/ that is not an empty folder.
bool holdsLibrary(const AppPaths& paths);

// The first start in a folder that holds no library makes an empty one: db/ with db/bu/, the empty song list
// and time-signal files, src/, the web root www/ with its exchange folder cgi-bin/tarv/, and db/path.txt naming
// it. A folder that holds a library is not touched. Returns what to tell the operator, empty when nothing was
// done.
QString prepareApplicationFolder(const AppPaths& paths);

// The backup taken at each start. A missing song list or backup folder skips it; returns what was written
// (empty when nothing was) so the caller can tell, and why it failed in *error.
QString startupBackup(const AppPaths& paths, const QDateTime& now, QString* error = nullptr);

// Removes the save helper's temporary files that a crash left in the folders the program writes
// (db/, db/bu/, src/ and the exchange folder of the web root), nothing else; returns their paths.
// Run once another copy of the program is known not to be saving.
QStringList removeLeftoverTemporaries(const AppPaths& paths);

// Finishes a save of several files together that a kill interrupted (see saveFilesTogether()), before
// anything reads those files; the names of the files written go to *finished. Returns why it could not,
// empty when all is well; the next start, or the next opening of the time-signal settings, tries again.
QString finishInterruptedSaves(const AppPaths& paths, QStringList* finished = nullptr);

// A crash can leave a guest's reservation in the request file as well as in the queue record. Once the
// operator has kept or discarded the record's reservations, such a request is taken out of the file,
// so that it is neither queued twice nor back after being discarded. Returns whether it was.
bool takeKeptRequest(const AppPaths& paths, const QList<RecordedReservation>& kept);

// What the start-up steps before any window found, for the operator.
struct StartupReport
{
    QString notice;      // the first start's new library (prepareApplicationFolder())
    QString backupError; // why the start-up backup failed
    // What the recovery of interrupted changes (saves, drops, renumbers, deletes) finished or undid,
    // and what it refused and left as it was, in words; empty when there was nothing to recover.
    QString recovery;
};

// The operator's account of a recovery: what was done, then what was left as it was.
QString recoveryText(const Recovery& recovery);

// Everything a start does before its windows, once this is the only copy running: removes the save
// helper's leftovers, finishes or undoes what a kill interrupted (saves of several files, drops,
// renumbers, deletes), makes a first library, and backs up the song list.
StartupReport prepareRun(const AppPaths& paths, const QDateTime& now);

// Gives the memory the start-up freed back to the system (reading the song list and src/ leaves
// tens of megabytes of free heap that would otherwise stay resident). Nothing on other C libraries.
void releaseFreedMemory();

// The main window's four-line information text, lines joined with CR LF. A file that is missing leaves
// its date empty.
QString informationText(const QString& version, const QString& executablePath, const QString& songListPath,
                        const QLocale& locale = QLocale::system());

// The version dialog's text, lines joined with CR LF.
QString versionText(const QString& version);

} // namespace tarv
