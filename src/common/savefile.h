#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <functional>
#include <memory>

class QIODevice;

namespace tarv {

// How far a save goes to outlive a power cut. Every save is atomic (the old content or the new, never
// a mix); Synced also waits for the disk, which costs about 10 ms.
enum class Durability { Synced, AtomicOnly };

// What a save replaces when its name is not a plain file.
enum class SaveTarget {
    FollowLinks, // a symbolic link stays a link and the file it points to is replaced (the data folders)
    NameOnly,    // the name itself, never what a link points to: a save over a link, a device or a pipe
                 // is refused (folders others write into)
};

// The one way a data file is written: into a temporary file beside it (".NAME.tarv-save-XXXXXX",
// so that one left by a crash is known for ours), synced, then committed by a rename, and the
// folder synced. Every write, the sync, the close and the rename are checked, so a full disk is
// never taken for success. On any failure the old file stays byte for byte and the temporary file
// is removed.
//
// Not QSaveFile: it keeps a small file in its buffer and only notices a full disk after the
// commit, ignores a failed sync, gives no system error number to put in plain words, and its
// temporary names look like any "name.abc123" file, which a clean-up must not touch.
class SaveFile
{
public:
    explicit SaveFile(const QString& path, Durability durability = Durability::Synced,
                      SaveTarget target = SaveTarget::FollowLinks);
    ~SaveFile(); // cancels an uncommitted save
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // The file is readable by its owner alone (mode 0600) from the moment it is created: for secrets.
    // Call before open().
    void setOwnerOnly();
    // Creates the temporary file. False (with the reason in error()) when it cannot.
    bool open();
    // The temporary file, unbuffered: a write that fails returns -1 at once and sets error().
    QIODevice& device();
    QString temporaryPath() const;

    // Syncs the temporary file and renames it over the file. False with the reason in error();
    // the temporary file is then gone.
    bool commit();
    // Removes the temporary file; the old file stays.
    void cancel();

    // "path: reason", empty while nothing failed.
    QString error() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes the whole content. Returns an empty text on success, otherwise "path: reason" with the
// reason in plain words ("ディスクの空き容量が足りません" for a full disk).
QString saveFile(const QString& path, const QByteArray& content, Durability durability = Durability::Synced,
                 SaveTarget target = SaveTarget::FollowLinks);

// As above for a secret: readable by its owner alone, synced, and never written through a link.
QString saveOwnerOnlyFile(const QString& path, const QByteArray& content);

// As above, with the content produced by writer; a writer returning false abandons the save.
QString saveFile(const QString& path, const std::function<bool(QIODevice&)>& writer,
                 Durability durability = Durability::Synced, SaveTarget target = SaveTarget::FollowLinks);

// Syncs a folder, so that a file created, renamed or removed in it outlives a power cut. A folder
// that cannot be synced is not reported.
void syncFolder(const QString& folder);

// A system error number in words a person understands.
QString fileErrorText(int error);

// A file that is only ever appended to (a log), opened to append without waiting, so that a pipe or a
// device in its place is refused. The descriptor, or -1 with the reason in *error; *size is the
// file's size and *endsLine whether it is empty or ends with a line end (a crash may have torn its
// last line, and the next one then starts on a line of its own).
int openForAppending(const QString& path, qint64* size, bool* endsLine, QString* error);

// Writes all of bytes to fd (again after an interrupted or short write). 0 when all was written,
// otherwise the error number (ENOSPC for a write that took nothing); *written is what was.
int writeAll(int fd, QByteArrayView bytes, qsizetype* written);

// Whether a file name is one of SaveFile's temporary files.
bool isSaveTemporaryName(const QString& fileName);

// Removes a file and syncs its folder, so that the removal too outlives a power cut. False when the
// file is still there.
bool removeFileDurably(const QString& path);

// Removes SaveFile's temporary files that a crash left in a folder (nothing else); returns the
// names removed.
QStringList removeStaleSaveTemporaries(const QString& folder);

// For tests: while one lives, every save fails at one step, as a full or failing disk would.
struct SaveFault
{
    enum class Step {
        Write,  // the write that would go past afterBytes writes up to it, then fails
        Flush,  // syncing the temporary file to the disk
        Rename, // replacing the old file
    };
    Step step = Step::Write;
    qint64 afterBytes = 0;
    int error = ENOSPC;
};

class ScopedSaveFault
{
public:
    // With onlyFile, only the saves of a file of that name (no folder) fail.
    explicit ScopedSaveFault(const SaveFault& fault, const QString& onlyFile = {});
    ~ScopedSaveFault();
    ScopedSaveFault(const ScopedSaveFault&) = delete;
    ScopedSaveFault& operator=(const ScopedSaveFault&) = delete;
};

} // namespace tarv
