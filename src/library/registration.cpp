#include "library/registration.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "library/entryrules.h"
#include "library/songlist.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include <vector>

namespace tarv {
namespace {

// Copies a file through the save helper: the copy is written under a temporary name beside the
// destination and renamed over it only when complete and synced; a failed copy leaves nothing.
// *sourceFault tells a source that cannot be read from a destination that cannot be written.
QString copyVideo(const QString& source, const QString& destination, bool* sourceFault)
{
    *sourceFault = false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *sourceFault = true;
        return in.errorString();
    }
    QString readError;
    const QString error = saveFile(destination, [&in, &readError](QIODevice& out) {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const qint64 got = in.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                readError = in.errorString();
                return false;
            }
            if (got == 0)
                return true;
            if (out.write(buffer.data(), got) != got)
                return false;
        }
    });
    if (!readError.isEmpty()) {
        *sourceFault = true;
        return readError;
    }
    return error;
}

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
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("フォルダは登録できません");
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (!info.isFile())
        return QStringLiteral("通常のファイルではありません");
    if (!info.isReadable())
        return QStringLiteral("読み込めません");
    return std::nullopt;
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
                           QStringList files, RegistrationOptions options)
    : m_paths(paths), m_clock(clock), m_prompts(prompts), m_log(log), m_files(std::move(files)), m_options(options)
{
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
        m_state = State::Cancelled;
        m_refreshLists = m_registered > 0;
        return;
    }

    const int index = m_next;
    const QString path = m_files.at(index);
    if (const auto reason = unusableReason(path)) {
        skip(path, *reason);
    } else {
        // The list is read once per file; nothing else writes it while this step runs.
        const QString name = QFileInfo(path).fileName();
        QList<Song> songs;
        std::optional<Settled> entry;
        if (m_options.autoNumbering) {
            auto loaded = loadSongs();
            if (!loaded)
                return;
            songs = std::move(*loaded);
            entry = settleAutomatic(path, name, songs);
        } else {
            entry = settleManual(path, name, &songs);
        }
        if (!entry || !registerFile(index, path, *entry, std::move(songs)))
            return;
    }
    ++m_next;
    if (m_next == total())
        finish();
}

std::optional<QList<Song>> Registration::loadSongs()
{
    QString error;
    auto songs = loadSongListForRewrite(m_paths.songList(), &error);
    if (!songs)
        stop(error);
    return songs;
}

// Registering under this number would replace a file of src/ other than the dropped one.
bool Registration::videoInTheWay(qint64 number, const QString& path) const
{
    const QString video = m_paths.video(QString::number(number));
    const QFileInfo info(video);
    return (info.exists() || info.isSymLink()) && !sameFile(path, video);
}

std::optional<Registration::Settled> Registration::settleAutomatic(const QString& path, const QString& name,
                                                                   const QList<Song>& songs)
{
    QSet<qint64> taken;
    taken.reserve(songs.size());
    for (const Song& song : songs)
        taken.insert(song.number);
    // File i (from 1) tries first + (i - 1), then the numbers after it, so numbers registered
    // earlier in this drop count as taken.
    qint64 number = m_firstNumber + m_next;
    while (number <= LastSongNumber && (taken.contains(number) || videoInTheWay(number, path)))
        ++number;
    if (number > LastSongNumber) {
        stop(QStringLiteral("%1 までの曲番号に空きがないので、%2 は登録できません").arg(LastSongNumber).arg(name));
        return std::nullopt;
    }
    return Settled{number, listableTitle(proposedTitle(name))};
}

std::optional<Registration::Settled> Registration::settleManual(const QString& path, const QString& name,
                                                                QList<Song>* songs)
{
    for (;;) {
        const QString numberAnswer = m_prompts.input(QStringLiteral("FileNo?\r\n") + path,
                                                     QStringLiteral("InputFileNo"), QStringLiteral("100001"));
        const QString titleAnswer = m_prompts.input(QStringLiteral("FileTitle?\r\n") + path,
                                                    QStringLiteral("InputFileTitle"), proposedTitle(name));
        if (numberAnswer.isEmpty() || titleAnswer.isEmpty()) {
            m_prompts.message(QStringLiteral("Cancel"));
            m_log.addLine(CancelLine);
            m_state = State::Cancelled;
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
        auto loaded = loadSongs();
        if (!loaded)
            return std::nullopt;
        *songs = std::move(*loaded);
        if (std::any_of(songs->cbegin(), songs->cend(), [&](const Song& s) { return s.number == *number; }))
            continue;
        if (videoInTheWay(*number, path)) {
            m_prompts.message(QStringLiteral("src に %1 という名前のファイルが既にあります。").arg(*number), {},
                              MessageIcon::Exclamation);
            continue;
        }
        return Settled{*number, title};
    }
}

bool Registration::registerFile(int index, const QString& path, const Settled& entry, QList<Song> songs)
{
    const QString numberText = QString::number(entry.number);
    const QString video = m_paths.video(numberText);
    // A file dropped from src/ onto its own number is already in place; it must not be deleted.
    const bool inPlace = sameFile(path, video);
    if (!inPlace) {
        bool sourceFault = false;
        const QString error = copyVideo(path, video, &sourceFault);
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

    songs.append(Song::fromTitle(entry.number, entry.title));
    const QString error = rewriteSongList(m_paths.songList(), orderSongs(std::move(songs)));
    if (!error.isEmpty()) {
        if (!inPlace)
            QFile::remove(video);
        stop(QStringLiteral("曲目リストに書き込めません: ") + error);
        return false;
    }
    ++m_registered;

    if (m_options.deleteSource && !inPlace) {
        // Deleting another song's (or a time signal's) video would leave its entry without one.
        if (isLibraryVideo(m_paths, path))
            m_log.addLine(QStringLiteral("--- 注意: %1 は src の動画なので削除しません ---").arg(path));
        else if (!QFile::remove(path))
            m_log.addLine(QStringLiteral("--- Error: 元のファイルを削除できません: %1 ---").arg(path));
    }
    if (m_options.backup)
        backUpAfterChange(m_paths, m_clock.now(), m_log, m_prompts);

    m_log.addLine(numberText + u'|' + decodeCp932(encodeCp932(entry.title)));
    m_log.addLine(QStringLiteral("--- Finish:%1/%2 (%3MB) ---")
                      .arg(index + 1)
                      .arg(total())
                      .arg(megabytesText(QFileInfo(video).size())));
    return true;
}

void Registration::skip(const QString& path, const QString& reason)
{
    m_log.addLine(QStringLiteral("--- Skip: %1 (%2) ---").arg(path, reason));
}

void Registration::stop(const QString& message)
{
    m_prompts.message(message, {}, MessageIcon::Exclamation);
    m_log.addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
    m_state = State::Stopped;
    m_refreshLists = m_registered > 0;
}

void Registration::finish()
{
    m_log.addLine(QStringLiteral("--- Finish Process ---"));
    const SongListLoad list = loadSongList(m_paths.songList());
    m_log.addSummaryBlock(libraryTotals(m_paths, list.songs));
    m_state = State::Finished;
    m_refreshLists = true;
}

} // namespace tarv
