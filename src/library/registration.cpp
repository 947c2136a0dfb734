#include "library/registration.h"

#include "common/cp932.h"
#include "common/filecopy.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/entryrules.h"
#include "library/songlist.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <utility>

namespace tarv {
namespace {

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// A video the library or the time signals play: a file of src/ named by digits alone.
bool isLibraryVideo(const AppPaths& paths, const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty() || std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c < u'0' || c > u'9'; }))
        return false;
    const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return !dir.isEmpty() && dir == QFileInfo(paths.srcDir()).canonicalFilePath();
}

// Why a dropped path cannot be registered, or nullopt when it can.
std::optional<QString> unusableReason(const QString& path)
{
    return uncopyableReason(path, QStringLiteral("フォルダは登録できません"));
}

} // namespace

QStringList droppedLocalFiles(const QList<QUrl>& urls)
{
    QStringList files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

Registration::Registration(const AppPaths& paths, Clock& clock, LibraryPrompts& prompts, LibraryLog& log,
                           QStringList files, RegistrationOptions options, VideoSizes* videoSizes)
    : m_paths(paths), m_clock(clock), m_prompts(prompts), m_log(log), m_files(std::move(files)), m_options(options),
      m_ownVideoSizes(videoSizes ? nullptr : std::make_unique<VideoSizes>(paths)),
      m_videoSizes(videoSizes ? *videoSizes : *m_ownVideoSizes)
{
}

// Whatever ends the drop (also its window closing) writes what it registered.
Registration::~Registration()
{
    if (!m_unwritten.isEmpty())
        writeSongs();
}

bool Registration::begin()
{
    if (m_state != State::NotStarted || m_files.isEmpty())
        return false;
    if (!QFileInfo(m_paths.srcDir()).isDir()) {
        m_prompts.message(QStringLiteral("動画フォルダ %1 がありません。").arg(m_paths.srcDir()), {},
                          MessageIcon::Critical);
        m_state = State::Stopped;
        return false;
    }
    // A note a kill left must be settled first: this drop's own note would replace it.
    if (const Recovery recovery = recoverInterruptedChanges(m_paths); !recovery.error.isEmpty()) {
        m_prompts.message(QStringLiteral("前回中断された登録を片付けられないので、登録を始められません: ") +
                              recovery.error,
                          {}, MessageIcon::Critical);
        m_state = State::Stopped;
        return false;
    }
    if (m_options.autoNumbering) {
        for (;;) {
            const QString answer = m_prompts.input(QStringLiteral("First Name No?\r\nnnnnnn"),
                                                   QStringLiteral("InputFirstFileNo"), QStringLiteral("100001"));
            if (answer.isEmpty()) {
                m_prompts.message(QStringLiteral("Cancel"));
                m_log.addLine(CancelLine);
                m_state = State::Cancelled;
                return false;
            }
            if (const auto number = parseSongNumber(answer)) {
                m_firstNumber = *number;
                break;
            }
            m_prompts.message(badSongNumberMessage(answer), {}, MessageIcon::Exclamation);
        }
        m_log.addLine(StartProcessLine);
    }
    m_state = State::Running;
    return true;
}

void Registration::step()
{
    if (m_state != State::Running)
        return;
    if (m_cancelRequested) {
        addLine(CancelLine);
        end(State::Cancelled);
        return;
    }

    const int index = m_next;
    const QString path = m_files.at(index);
    if (const auto reason = unusableReason(path)) {
        skip(path, *reason);
    } else {
        const QString name = QFileInfo(path).fileName();
        std::optional<Settled> entry;
        if (m_options.autoNumbering) {
            if (!loadSongs())
                return;
            entry = settleAutomatic(path, name);
        } else {
            entry = settleManual(path, name);
        }
        if (!entry || !registerFile(index, path, *entry))
            return;
    }
    ++m_next;
    if (m_next == total()) {
        if (!writeSongs())
            return;
        addLine(QStringLiteral("--- Finish Process ---"));
        end(State::Finished);
    } else if (!m_unwritten.isEmpty() && m_sinceWrite.elapsed() >= 1000 && !writeSongs()) {
        return;
    }
}

bool Registration::loadSongs()
{
    if (m_songs)
        return true;
    QString error;
    m_songs = loadSongListForRewrite(m_paths.songList(), &error);
    if (!m_songs) {
        stop(error);
        return false;
    }
    m_nextUntaken.reserve(m_songs->size() + m_files.size());
    for (const SongTable::Entry& entry : m_songs->entries())
        m_nextUntaken.insert(entry.number, entry.number + 1);
    m_sinceWrite.start();
    return true;
}

qint64 Registration::firstUntaken(qint64 from)
{
    qint64 number = from;
    QVarLengthArray<qint64, 16> walked;
    for (auto it = m_nextUntaken.constFind(number); it != m_nextUntaken.constEnd();
         it = m_nextUntaken.constFind(number)) {
        walked.append(number);
        number = *it;
    }
    for (qint64 w : walked)
        m_nextUntaken[w] = number;
    return number;
}

// Registering under this number would replace a file of src/ other than the dropped one.
bool Registration::videoInTheWay(qint64 number, const QString& path) const
{
    const QString video = m_paths.video(QString::number(number));
    const QFileInfo info(video);
    return (info.exists() || info.isSymLink()) && !sameFile(path, video);
}

std::optional<Registration::Settled> Registration::settleAutomatic(const QString& path, const QString& name)
{
    // File i (from 1) tries first + (i - 1), then the numbers after it, so numbers registered
    // earlier in this drop count as taken.
    qint64 number = firstUntaken(m_firstNumber + m_next);
    while (number <= LastSongNumber && videoInTheWay(number, path))
        number = firstUntaken(number + 1);
    if (number > LastSongNumber) {
        stop(QStringLiteral("%1 までの曲番号に空きがないので、%2 は登録できません").arg(LastSongNumber).arg(name));
        return std::nullopt;
    }
    return Settled{number, listableTitle(proposedTitle(name))};
}

std::optional<Registration::Settled> Registration::settleManual(const QString& path, const QString& name)
{
    for (;;) {
        const QString numberAnswer = m_prompts.input(QStringLiteral("FileNo?\r\n") + path,
                                                     QStringLiteral("InputFileNo"), QStringLiteral("100001"));
        const QString titleAnswer = m_prompts.input(QStringLiteral("FileTitle?\r\n") + path,
                                                    QStringLiteral("InputFileTitle"), proposedTitle(name));
        if (numberAnswer.isEmpty() || titleAnswer.isEmpty()) {
            m_prompts.message(QStringLiteral("Cancel"));
            addLine(CancelLine);
            // Stops at once: no closing lines, and the lists stay as they were.
            end(State::Cancelled);
            m_refreshLists = false;
            return std::nullopt;
        }
        const auto number = parseSongNumber(numberAnswer);
        if (!number) {
            m_prompts.message(badSongNumberMessage(numberAnswer), {}, MessageIcon::Exclamation);
            continue;
        }
        const QString title = listableTitle(titleAnswer);
        if (!encodableInCp932(title)) {
            m_prompts.message(QStringLiteral("曲名「%1」には曲目リストに書けない文字があります。").arg(title), {},
                              MessageIcon::Exclamation);
            continue;
        }
        addLine(StartProcessLine);
        if (!loadSongs())
            return std::nullopt;
        if (taken(*number))
            continue;
        if (videoInTheWay(*number, path)) {
            m_prompts.message(QStringLiteral("src に %1 という名前のファイルが既にあります。").arg(*number), {},
                              MessageIcon::Exclamation);
            continue;
        }
        return Settled{*number, title};
    }
}

bool Registration::registerFile(int index, const QString& path, const Settled& entry)
{
    const QString numberText = QString::number(entry.number);
    const QString video = m_paths.video(numberText);
    const PendingCopy copy{entry.number, encodeCp932(entry.title), path};
    // A file dropped from src/ onto its own number is already in place; it must not be deleted.
    const bool inPlace = sameFile(path, video);
    if (!inPlace) {
        // Noted before the copy exists, so that a crash from here on cannot leave it unlisted.
        QList<PendingCopy> noted;
        for (const Unwritten& unwritten : std::as_const(m_unwritten))
            noted << unwritten.copy;
        noted << copy;
        if (const QString error = notePendingCopies(m_paths, noted); !error.isEmpty()) {
            stop(QStringLiteral("%1 に書き込めません: %2").arg(pendingCopiesFile(m_paths), error));
            return false;
        }
        bool sourceFault = false;
        const QString error = copyFileSafely(path, video, &sourceFault);
        if (!error.isEmpty() && sourceFault) {
            skip(path, QStringLiteral("コピーできません: ") + error);
            return true;
        }
        // src/ cannot take the copy (a full disk, say): every file after it would fail alike.
        if (!error.isEmpty()) {
            stop(QStringLiteral("動画を src にコピーできません: ") + error);
            return false;
        }
    }

    m_songs->append(entry.number, copy.rawTitle);
    m_nextUntaken.insert(entry.number, entry.number + 1);
    bool deleteSource = m_options.deleteSource && !inPlace;
    // Deleting another song's (or a time signal's) video would leave its entry without one.
    if (deleteSource && isLibraryVideo(m_paths, path)) {
        deleteSource = false;
        addLine(QStringLiteral("--- 注意: %1 は src の動画なので削除しません ---").arg(path), entry.number);
    }
    m_unwritten.append({copy, deleteSource});
    m_videoSizes.changed(entry.number);
    ++m_registered;
    addLine(numberText + u'|' + decodeCp932(copy.rawTitle), entry.number);
    addLine(QStringLiteral("--- Finish:%1/%2 (%3MB) ---")
                .arg(index + 1)
                .arg(total())
                .arg(megabytesText(QFileInfo(video).size())),
            entry.number);
    // A file of src/ that was already in place needs no undoing: write its entry at once.
    return !inPlace || writeSongs();
}

// Writes the entries registered since the last write, then deletes their sources. On failure their
// copies are removed again (their sources are all still there) and the drop stops.
bool Registration::writeSongs()
{
    if (m_unwritten.isEmpty()) {
        // A note of a copy that failed or was skipped names nothing to undo.
        QFile::remove(pendingCopiesFile(m_paths));
        return true;
    }
    m_songs->order();
    const QString error = rewriteSongTable(m_paths.songList(), *m_songs);
    if (error.isEmpty()) {
        settleWritten();
        m_sinceWrite.restart();
        return true;
    }
    QSet<qint64> unwritten;
    for (const Unwritten& u : std::as_const(m_unwritten))
        unwritten.insert(u.copy.number);
    m_songs->filter([&unwritten](const SongTable::Entry& e) { return !unwritten.contains(e.number); });
    recoverInterruptedChanges(m_paths);
    for (qint64 number : std::as_const(unwritten)) {
        m_nextUntaken.remove(number);
        m_videoSizes.changed(number);
    }
    m_registered -= int(m_unwritten.size());
    m_unwritten.clear();
    // The lines of files that are not registered after all go; the others (skips) stay.
    for (const HeldLine& line : std::exchange(m_heldLines, {})) {
        if (!unwritten.contains(line.number))
            m_log.addLine(line.text);
    }
    stop(QStringLiteral("曲目リストに書き込めません: %1\r\n登録できなかったファイルは元の場所に残っています。")
             .arg(error));
    return false;
}

// The list names every unwritten copy now: their sources may go, and their lines be shown.
void Registration::settleWritten()
{
    QHash<qint64, QString> undeleted;
    for (const Unwritten& u : std::as_const(m_unwritten)) {
        if (u.deleteSource && !QFile::remove(u.copy.source))
            undeleted.insert(u.copy.number, u.copy.source);
    }
    m_unwritten.clear();
    QFile::remove(pendingCopiesFile(m_paths));
    for (const HeldLine& line : std::exchange(m_heldLines, {})) {
        if (const QString source = undeleted.take(line.number); !source.isEmpty())
            m_log.addLine(QStringLiteral("--- Error: 元のファイルを削除できません: %1 ---").arg(source));
        m_log.addLine(line.text);
    }
}

void Registration::addLine(const QString& text, qint64 number)
{
    if (m_unwritten.isEmpty() && m_heldLines.isEmpty())
        m_log.addLine(text);
    else
        m_heldLines.append({number, text});
}

void Registration::skip(const QString& path, const QString& reason)
{
    addLine(QStringLiteral("--- Skip: %1 (%2) ---").arg(path, reason));
}

void Registration::stop(const QString& message)
{
    m_prompts.message(message, {}, MessageIcon::Exclamation);
    addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
    end(State::Stopped);
}

void Registration::end(State state)
{
    m_state = state;
    if (!writeSongs())
        return; // stopped instead, with its own lines
    if (m_options.backup && m_registered > 0)
        backUpAfterChange(m_paths, m_clock.now(), m_log, m_prompts);
    m_refreshLists = m_registered > 0 || state == State::Finished;
    if (state == State::Finished) {
        const auto list = sharedSongTable(m_paths.songList());
        m_log.addSummaryBlock(m_videoSizes.totals(list ? *list : SongTable()));
    }
}

} // namespace tarv
