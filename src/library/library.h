#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "common/operatorlog.h"
#include "common/operatorprompts.h"
#include "library/exports.h"
#include "library/registration.h"
#include "library/songlist.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tarv {

class Player;

// The song list against the videos in src/: what the check expects (the idle video "000000", then
// every entry's number in file order) and the files found there, in name order.
struct ConsistencyCheck
{
    QStringList expected;
    QStringList found;
    bool countDiffers = false;
    // Every position whose texts differ, including positions that only the longer list has.
    QList<int> differing;
};

ConsistencyCheck checkConsistency(const AppPaths& paths);

inline const QString CountDiffersText = QStringLiteral("DBとデータの数が一致しません。");
QString positionDiffersText(int position);

// Writes the typed web root as the one line of db/path.txt. Returns an empty text on success,
// otherwise why it was not saved (a comma, which readers take as the end of the path, is refused).
QString saveWebRoot(const AppPaths& paths, const QString& text);

// The state of the edit frame ("DB編集/削除").
struct EditFrame
{
    bool selected = false;
    qint64 number = 0;                                   // the selected song
    qsizetype row = -1;                                  // its place in the list, which tells duplicates apart
    QByteArray rawTitle;                                 // its title as the list holds it
    QString beforeLabel = QStringLiteral("xxxxxx 　->"); // lbl_db_edit_bef_no
    QString newNumber = QStringLiteral("000000");        // txt_db_edit_aft_no
    QString newTitle = QStringLiteral("title");          // txt_db_edit_new_title
};

// The behaviour of the library window: the two song lists, the log, the edit frame, the exports,
// the consistency check and the web root. Questions go to the operator through the prompts.
class Library : public QObject
{
    Q_OBJECT

public:
    Library(const AppPaths& paths, Clock& clock, OperatorPrompts& prompts, Player& preview);

    // Loading the window: the web root, both lists and the summary block on an empty log. The
    // summary needs the size of every video, which is read on other threads while songsChanged()
    // is handled (the window fills its lists). Above SizesReadAtOnce songs the summary block
    // follows once the event loop runs again (the window is on screen by then), and
    // logChanged() tells of it.
    void load();
    static constexpr qsizetype SizesReadAtOnce = 4096;

    const AppPaths& paths() const { return m_paths; }
    OperatorLog& log() { return m_log; }
    const OperatorLog& log() const { return m_log; }
    const QString& webRootText() const { return m_webRootText; }

    // The entries both list boxes show, in file order, and the display form of one.
    const QList<Song>& songs() const;
    qsizetype songCount() const;
    QString listItem(qsizetype row) const;

    // Reads the song list again for both lists; returns its totals.
    LibraryTotals refreshSongs();

    // cmd_path: saves the web root and confirms with a message box.
    bool saveWebRoot(const QString& text);

    // lst_db_edit_allfile double-click: selects the entry at that row of the lists and loads its
    // video into the preview. False (nothing changes) for a row without an entry.
    bool select(int row);
    const EditFrame& editFrame() const { return m_edit; }

    enum class EditOutcome { Unchanged, Done };
    // cmd_db_edit_change: renumbers and retitles the selected song, renaming its video.
    EditOutcome change(const QString& newNumberText, const QString& newTitle, bool backup);
    // cmd_db_edit_del: deletes the selected song and its video.
    EditOutcome remove(bool backup);

    // cmd_errcheck: the song list against src/, once the notes a kill left are settled (they are
    // not while a drop runs).
    ConsistencyCheck check(bool dropRunning);

    // cmd_dbtohtml, cmd_dbtohtml_cgi: the export label's text after the last successful export.
    void exportSongBook(const QString& systemVersion);
    void exportWebSongFile();
    const QString& exportLabel() const { return m_exportLabel; }

    // A drop onto the log: the registration, not yet begun.
    std::unique_ptr<Registration> newRegistration(const QStringList& files, RegistrationOptions options);

signals:
    // The song list was read again: the lists show it afresh.
    void songsChanged();
    // A line was added to the log outside a call of the window's (the summary of a big library).
    void logChanged();

private:
    void setSongs(std::shared_ptr<const SongTable> table);
    void addSummary();
    bool numberFree(const SongTable& songs, qint64 number);
    // The selected entry in songs (a fresh read of the list), and how many entries have its number.
    // None, after a message, when the list no longer holds it or no longer tells which one it was.
    std::optional<qsizetype> selectedEntry(const SongTable& songs, qsizetype* sameNumber);
    bool renameVideo(qint64 oldNumber, qint64 newNumber);
    void resetEditFrame();
    void releasePreview();

    const AppPaths& m_paths;
    Clock& m_clock;
    OperatorPrompts& m_prompts;
    Player& m_preview;

    OperatorLog m_log;
    QString m_webRootText;
    std::shared_ptr<const SongTable> m_table;
    mutable std::optional<QList<Song>> m_songs; // made from the table when first asked for
    VideoSizes m_videoSizes;
    EditFrame m_edit;
    QString m_exportLabel;
};

} // namespace tarv
