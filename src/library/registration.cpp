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

QString pendingCopiesFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/dropping.txt"));
}

QStringList removeUnlistedCopies(const AppPaths& paths)
{
    const QString file = pendingCopiesFile(paths);
    const auto lines = readTextLines(file);
    if (!lines)
        return {};
    const auto list = sharedSongTable(paths.songList());
    if (!list) // the list cannot tell which copies are listed; try again next time
        return {};
    QSet<qint64> listed;
    listed.reserve(list->size());
    for (const SongTable::Entry& entry : list->entries())
        listed.insert(entry.number);
    QStringList removed;
    for (const QString& line : *lines) {
        const auto number = parseSongNumber(line);
        if (!number || listed.contains(*number))
            continue;
        const QString video = paths.video(QString::number(*number));
        if (QFile::remove(video)) {
            removed << video;
            qCInfo(lcLibrary) << "removed a video copied by an interrupted drop and not listed:" << video;
        }
    }
    QFile::remove(file);
    return removed;
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
    removeUnlistedCopies(m_paths);
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
        m_log.addLine(CancelLine);
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
        m_log.addLine(QStringLiteral("--- Finish Process ---"));
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
            m_log.addLine(CancelLine);
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
        m_log.addLine(StartProcessLine);
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
    // A file dropped from src/ onto its own number is already in place; it must not be deleted.
    const bool inPlace = sameFile(path, video);
    if (!inPlace) {
        // Noted before the copy exists, so that a crash from here on cannot leave it unlisted.
        QByteArray pending;
        for (qint64 number : std::as_const(m_unwritten))
            pending += QByteArray::number(number) + "\r\n";
        pending += numberText.toLatin1() + "\r\n";
        if (const QString error = saveFile(pendingCopiesFile(m_paths), pending); !error.isEmpty()) {
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

    m_songs->append(entry.number, encodeCp932(entry.title));
    m_nextUntaken.insert(entry.number, entry.number + 1);
    m_unwritten.append(entry.number);
    m_videoSizes.changed(entry.number);
    ++m_registered;
    // A file of src/ that was already in place needs no undoing: write its entry at once.
    if (inPlace && !writeSongs())
        return false;

    if (m_options.deleteSource && !inPlace) {
        // Deleting another song's (or a time signal's) video would leave its entry without one.
        if (isLibraryVideo(m_paths, path))
            m_log.addLine(QStringLiteral("--- 注意: %1 は src の動画なので削除しません ---").arg(path));
        else if (!QFile::remove(path))
            m_log.addLine(QStringLiteral("--- Error: 元のファイルを削除できません: %1 ---").arg(path));
    }

    m_log.addLine(numberText + u'|' + decodeCp932(encodeCp932(entry.title)));
    m_log.addLine(QStringLiteral("--- Finish:%1/%2 (%3MB) ---")
                      .arg(index + 1)
                      .arg(total())
                      .arg(megabytesText(QFileInfo(video).size())));
    return true;
}

// Writes the entries registered since the last write. On failure their copies are removed again
// and the drop stops.
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
        m_unwritten.clear();
        QFile::remove(pendingCopiesFile(m_paths));
        m_sinceWrite.restart();
        return true;
    }
    const QSet<qint64> unwritten(m_unwritten.cbegin(), m_unwritten.cend());
    m_songs->filter([&unwritten](const SongTable::Entry& e) { return !unwritten.contains(e.number); });
    removeUnlistedCopies(m_paths);
    for (qint64 number : std::as_const(m_unwritten)) {
        m_nextUntaken.remove(number);
        m_videoSizes.changed(number);
    }
    m_registered -= int(m_unwritten.size());
    m_unwritten.clear();
    stop(QStringLiteral("曲目リストに書き込めません: ") + error);
    return false;
}

void Registration::skip(const QString& path, const QString& reason)
{
    m_log.addLine(QStringLiteral("--- Skip: %1 (%2) ---").arg(path, reason));
}

void Registration::stop(const QString& message)
{
    m_prompts.message(message, {}, MessageIcon::Exclamation);
    m_log.addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
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
