#pragma once

#include "common/clock.h"
#include "common/dropengine.h"
#include "library/recovery.h"
#include "library/songlist.h"

#include <QHash>

#include <memory>
#include <optional>

namespace tarv {

struct RegistrationOptions
{
    bool autoNumbering = true; // chk_autocopy: numbers from one first number, titles from file names
    bool deleteSource = true;  // chk_srcdel: delete the dropped file once its copy is in src/
    bool backup = true;        // chk_autosave: back up the song list after each file
};

// One drop of files onto the library (see DropEngine). A number is never given to a file when src/
// already holds another file under it, listed or not: automatic numbering passes over it, manual
// numbering refuses it. The backup is taken at the end; db/dropping.txt is the note, settled by
// recoverInterruptedChanges().
class Registration : public DropEngine
{
public:
    Registration(const AppPaths& paths, Clock& clock, OperatorPrompts& prompts, OperatorLog& log, QStringList files,
                 RegistrationOptions options, VideoSizes* videoSizes = nullptr);
    ~Registration() override;

    // Not after a cancel at a per-file question, which leaves the lists as they were before the drop.
    bool refreshLists() const override
    {
        return !cancelledAtQuestion() && (registered() > 0 || state() == State::Finished);
    }

private:
    bool prepare() override;
    QString firstNumberProposal(const QString&) const override { return QStringLiteral("100001"); }
    std::optional<qint64> parseNumber(const QString& text) const override;
    QString badNumberMessage(const QString& typed) const override;
    void begun() override;
    std::optional<Settled> settleAutomatic(const QString& path, int index) override;
    std::optional<Settled> settleManual(const QString& path) override;
    QString folderReason() const override { return QStringLiteral("フォルダは登録できません"); }
    QString noteFile() const override { return pendingCopiesFile(paths()); }
    QString videoName(qint64 number) const override { return QString::number(number); }
    bool mayDeleteSource(const QString& path, qint64 number) override;
    void list(const Settled& entry) override;
    QString writeList() override;
    void unlist(const QSet<qint64>& numbers) override;
    QString listWriteFailure(const QString& error) const override;
    void ended(State state) override;

    bool loadSongs();
    bool taken(qint64 number) const { return m_nextUntaken.contains(number); }
    qint64 firstUntaken(qint64 from);
    bool videoInTheWay(qint64 number, const QString& path) const;

    Clock& m_clock;
    bool m_backup;
    std::unique_ptr<VideoSizes> m_ownVideoSizes;
    VideoSizes& m_videoSizes;

    // The song list as this drop has made it, read once at its first file.
    std::optional<SongTable> m_songs;
    // Every number in the list or registered by this drop points at a number after it that may be
    // free (shortened as runs of taken numbers are walked), so a free number is found in amortised
    // constant time.
    QHash<qint64, qint64> m_nextUntaken;
    // Listed since the list was last written: their registration day is noted once it is.
    QList<qint64> m_unnoted;
};

} // namespace tarv
