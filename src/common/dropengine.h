#pragma once

#include "common/apppaths.h"
#include "common/dropnote.h"
#include "common/operatorlog.h"
#include "common/operatorprompts.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tarv {

// The local files among dropped URLs, in their order; anything else (web links, text) is left out.
QStringList droppedLocalFiles(const QList<QUrl>& urls);

// One drop of videos onto an operator window, handled one file per step so that the window can keep
// its event loop running (and show progress) between files. A domain (the library's songs, the
// time signals) says how a file gets its number and title and where its list lives.
//
// For each file the copy is noted first (noteFile()), then the video is copied into src/ under a
// temporary name and renamed to its number, and only then is the entry written to the list; a crash
// therefore never leaves a listed entry with a half-copied video. The list is rewritten at most
// once a second and at the end. A source is deleted, and its lines logged, only once a list naming
// its copy is on the disk: a kill or a list that cannot be written never costs a video (the domain's
// recovery settles the note at the next start). Folders, unreadable files and failed copies are
// logged and skipped; a copy that src/ cannot take stops the drop.
class DropEngine
{
public:
    enum class State {
        NotStarted,
        Running,
        Finished,  // every file was handled; closing lines are in the log
        Cancelled, // the operator cancelled; what was copied in stays listed
        Stopped,   // ended early by an error or by running out of numbers
    };

    struct Options
    {
        bool autoNumbering = true; // chk_autocopy: numbers from one first number, titles from file names
        bool deleteSource = true;  // chk_srcdel: delete the dropped file once its copy is listed
    };

    DropEngine(const AppPaths& paths, OperatorPrompts& prompts, OperatorLog& log, QStringList files, Options options);
    virtual ~DropEngine() = default;

    // Asks for the first number when numbering automatically. False when the drop ended here
    // (nothing to drop, or cancelled at the first question).
    bool begin();

    // Handles the next file. Does nothing unless running.
    void step();

    // Asks the drop to stop; the next step logs "--- Cancel ---" instead of handling a file.
    void cancel() { m_cancelRequested = true; }

    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    int total() const { return int(m_files.size()); }
    int handled() const { return m_next; }
    int registered() const { return m_registered; }
    bool numbersAutomatically() const { return m_options.autoNumbering; }

    // Whether the window should fill its lists again from the files once the drop has ended.
    virtual bool refreshLists() const = 0;

protected:
    // A number and title settled for a file.
    struct Settled
    {
        qint64 number = 0;
        QByteArray rawTitle; // as the list holds it
    };

    // --- The domain ---
    // The checks and lines before the first question; false (having said why and ended the drop)
    // when the drop cannot start.
    virtual bool prepare() = 0;
    // The first-number question: its proposal (given the last refused answer, empty at first), its
    // parsing and the message for a refused answer.
    virtual QString firstNumberProposal(const QString& refused) const = 0;
    virtual std::optional<qint64> parseNumber(const QString& text) const = 0;
    virtual QString badNumberMessage(const QString& typed) const = 0;
    // After the first number was given (or at once when numbering by hand).
    virtual void begun() {}
    // The number and title of the file at index; nullopt when the drop ended (stopped or cancelled).
    virtual std::optional<Settled> settleAutomatic(const QString& path, int index) = 0;
    virtual std::optional<Settled> settleManual(const QString& path) = 0;
    // The reason given for a dropped folder.
    virtual QString folderReason() const = 0;
    // The note of this domain's copies, and a video's name in src/.
    virtual QString noteFile() const = 0;
    virtual QString videoName(qint64 number) const = 0;
    // Whether the source of a copy may be deleted (false for a video of src/, which another entry may use).
    virtual bool mayDeleteSource(const QString& path, qint64 number) = 0;
    // The list as the drop makes it: an entry added in memory, all of them written (an error text on
    // failure), and entries whose write failed taken out again.
    virtual void list(const Settled& entry) = 0;
    virtual QString writeList() = 0;
    virtual void unlist(const QSet<qint64>& numbers) = 0;
    // The message of a list that could not be written.
    virtual QString listWriteFailure(const QString& error) const = 0;
    // After the drop ended with what it copied written (not after a failed write).
    virtual void ended(State) {}

    // --- For the domain ---
    const AppPaths& paths() const { return m_paths; }
    OperatorPrompts& prompts() { return m_prompts; }
    OperatorLog& log() { return m_log; }
    const Options& options() const { return m_options; }
    qint64 firstNumber() const { return m_firstNumber; }
    // A log line, held back while copies are unwritten; number names the copy it tells of.
    void addLine(const QString& text, qint64 number = 0);
    void stop(const QString& message);
    // Cancel at a question: the "Cancel" box and line, and the end.
    void cancelAtQuestion();
    bool cancelledAtQuestion() const { return m_cancelledAtQuestion; }
    void setState(State state) { m_state = state; }
    // Writes what was copied in and not yet listed; for a domain's destructor, since whatever ends
    // the drop (also its window closing) keeps what it copied.
    void writePending();

private:
    struct Unwritten
    {
        PendingCopy copy;
        bool noted = false;
        bool deleteSource = false;
    };
    struct HeldLine
    {
        qint64 number = 0;
        QString text;
    };

    bool askFirstNumber();
    bool copyIn(int index, const QString& path, const Settled& entry);
    bool writeUnwritten();
    void undoUnwritten(const QString& error);
    void settleWritten();
    void end(State state);

    const AppPaths& m_paths;
    OperatorPrompts& m_prompts;
    OperatorLog& m_log;
    QStringList m_files;
    Options m_options;

    QList<Unwritten> m_unwritten;
    QList<HeldLine> m_heldLines; // in order, while anything is unwritten
    QElapsedTimer m_sinceWrite;

    State m_state = State::NotStarted;
    qint64 m_firstNumber = 0;
    int m_next = 0; // files handled so far
    int m_registered = 0;
    bool m_cancelRequested = false;
    bool m_cancelledAtQuestion = false;
};

} // namespace tarv
