#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "library/librarylog.h"
#include "library/libraryprompts.h"
#include "library/recovery.h"
#include "library/songlist.h"

#include <QElapsedTimer>

#include <QList>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

namespace tarv {

// The local files among dropped URLs, in their order; anything else (web links, text) is left out.
QStringList droppedLocalFiles(const QList<QUrl>& urls);

struct RegistrationOptions
{
    bool autoNumbering = true; // chk_autocopy: numbers from one first number, titles from file names
    bool deleteSource = true;  // chk_srcdel: delete the dropped file once its copy is in src/
    bool backup = true;        // chk_autosave: back up the song list after each file
};

// One drop of files onto the library, registered one file per step so that the window can keep
// its event loop running (and show progress) between files.
//
// A number is never given to a file when src/ already holds another file under it, listed or
// not: automatic numbering passes over it, manual numbering refuses it.
//
// For each file the copy is noted first (pendingCopiesFile()), then the video is copied into src/
// under a temporary name and renamed to the song number, and only then is the entry written to the
// song list; a crash therefore never leaves a listed song with a half-copied video. The list is
// rewritten at most once a second and at the end (the backup is taken at the end). A source is
// deleted, and its lines logged, only once a list naming its copy is on the disk: a kill or a list
// that cannot be written never costs a video (recoverInterruptedChanges() settles the note). Folders,
// unreadable files and failed copies are logged and skipped.
class Registration
{
public:
    enum class State {
        NotStarted,
        Running,
        Finished,  // every file was handled; closing lines and the summary block are in the log
        Cancelled, // the operator cancelled; what was registered stays registered
        Stopped,   // ended early by an error or by running out of song numbers
    };

    Registration(const AppPaths& paths, Clock& clock, LibraryPrompts& prompts, LibraryLog& log, QStringList files,
                 RegistrationOptions options, VideoSizes* videoSizes = nullptr);
    ~Registration();

    // Asks for the first number when numbering automatically. False when the drop ended here
    // (nothing to register, or cancelled at the first question).
    bool begin();

    // Registers the next file. Does nothing unless running.
    void step();

    // Asks the drop to stop; the next step logs "--- Cancel ---" instead of registering.
    void cancel() { m_cancelRequested = true; }

    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    int total() const { return int(m_files.size()); }
    int handled() const { return m_next; }
    int registered() const { return m_registered; }

    // Whether the window should fill its lists again from the song list. Not after a cancel at a
    // per-file question, which leaves the lists as they were before the drop.
    bool refreshLists() const { return m_refreshLists; }

private:
    struct Settled
    {
        qint64 number = 0;
        QString title;
    };
    // A copy made and in m_songs, not yet in the file.
    struct Unwritten
    {
        PendingCopy copy;
        bool deleteSource = false;
    };
    // A log line held back until the entry it tells of is in the file (number 0: none).
    struct HeldLine
    {
        qint64 number = 0;
        QString text;
    };

    bool loadSongs();
    bool taken(qint64 number) const { return m_nextUntaken.contains(number); }
    qint64 firstUntaken(qint64 from);
    std::optional<Settled> settleAutomatic(const QString& path, const QString& name);
    bool videoInTheWay(qint64 number, const QString& path) const;
    std::optional<Settled> settleManual(const QString& path, const QString& name);
    bool registerFile(int index, const QString& path, const Settled& entry);
    bool writeSongs();
    void settleWritten();
    void addLine(const QString& text, qint64 number = 0);
    void skip(const QString& path, const QString& reason);
    void stop(const QString& message);
    void end(State state);

    const AppPaths& m_paths;
    Clock& m_clock;
    LibraryPrompts& m_prompts;
    LibraryLog& m_log;
    QStringList m_files;
    RegistrationOptions m_options;

    std::unique_ptr<VideoSizes> m_ownVideoSizes;
    VideoSizes& m_videoSizes;

    // The song list as this drop has made it, read once at its first file.
    std::optional<SongTable> m_songs;
    // Every number in the list or registered by this drop points at a number after it that may be
    // free (shortened as runs of taken numbers are walked), so a free number is found in amortised
    // constant time.
    QHash<qint64, qint64> m_nextUntaken;
    QList<Unwritten> m_unwritten;
    QList<HeldLine> m_heldLines; // in order, while anything is unwritten
    QElapsedTimer m_sinceWrite;

    State m_state = State::NotStarted;
    qint64 m_firstNumber = 0;
    int m_next = 0; // files handled so far
    int m_registered = 0;
    bool m_cancelRequested = false;
    bool m_refreshLists = false;
};

} // namespace tarv
