#include "library/registration.h"

#include "common/cp932.h"
#include "common/textfile.h"
#include "library/entryrules.h"
#include "library/registrationdates.h"

#include <QFileInfo>
#include <QVarLengthArray>

#include <algorithm>

namespace tarv {
namespace {

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

} // namespace

Registration::Registration(const AppPaths& paths, Clock& clock, OperatorPrompts& prompts, OperatorLog& log,
                           QStringList files, RegistrationOptions options, VideoSizes* videoSizes)
    : DropEngine(paths, prompts, log, std::move(files), {options.autoNumbering, options.deleteSource}), m_clock(clock),
      m_backup(options.backup), m_ownVideoSizes(videoSizes ? nullptr : std::make_unique<VideoSizes>(paths)),
      m_videoSizes(videoSizes ? *videoSizes : *m_ownVideoSizes)
{
}

Registration::~Registration()
{
    writePending();
}

bool Registration::prepare()
{
    if (!QFileInfo(paths().srcDir()).isDir()) {
        prompts().message(QStringLiteral("動画フォルダ %1 がありません。").arg(paths().srcDir()), {},
                          MessageIcon::Critical);
        setState(State::Stopped);
        return false;
    }
    // A note a kill left must be settled first: this drop's own note would replace it.
    if (const Recovery recovery = recoverInterruptedChanges(paths()); !recovery.error.isEmpty()) {
        prompts().message(QStringLiteral("前回中断された登録を片付けられないので、登録を始められません: ") +
                              recovery.error,
                          {}, MessageIcon::Critical);
        setState(State::Stopped);
        return false;
    }
    return true;
}

std::optional<qint64> Registration::parseNumber(const QString& text) const
{
    return parseSongNumber(text);
}

QString Registration::badNumberMessage(const QString& typed) const
{
    return badSongNumberMessage(typed);
}

void Registration::begun()
{
    if (options().autoNumbering)
        log().addLine(StartProcessLine);
}

bool Registration::loadSongs()
{
    if (m_songs)
        return true;
    QString error;
    m_songs = loadSongListForRewrite(paths().songList(), &error);
    if (!m_songs) {
        stop(error);
        return false;
    }
    m_nextUntaken.reserve(m_songs->size() + total());
    for (const SongTable::Entry& entry : m_songs->entries())
        m_nextUntaken.insert(entry.number, entry.number + 1);
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
    const QString video = paths().video(QString::number(number));
    if (!nameTaken(video))
        return false;
    const QFileInfo info(video);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() || canonical != info.canonicalFilePath();
}

std::optional<Registration::Settled> Registration::settleAutomatic(const QString& path, int index)
{
    if (!loadSongs())
        return std::nullopt;
    // File i (from 1) tries first + (i - 1), then the numbers after it, so numbers registered
    // earlier in this drop count as taken.
    qint64 number = firstUntaken(firstNumber() + index);
    while (number <= LastSongNumber && videoInTheWay(number, path))
        number = firstUntaken(number + 1);
    if (number > LastSongNumber) {
        stop(QStringLiteral("%1 までの曲番号に空きがないので、%2 は登録できません")
                 .arg(LastSongNumber)
                 .arg(QFileInfo(path).fileName()));
        return std::nullopt;
    }
    return Settled{number, encodeCp932(listableTitle(proposedTitle(QFileInfo(path).fileName())))};
}

std::optional<Registration::Settled> Registration::settleManual(const QString& path)
{
    for (;;) {
        const QString numberAnswer = prompts().input(QStringLiteral("FileNo?\r\n") + path,
                                                     QStringLiteral("InputFileNo"), QStringLiteral("100001"));
        const QString titleAnswer =
            prompts().input(QStringLiteral("FileTitle?\r\n") + path, QStringLiteral("InputFileTitle"),
                            proposedTitle(QFileInfo(path).fileName()));
        if (numberAnswer.isEmpty() || titleAnswer.isEmpty()) {
            // Stops at once: no closing lines, and the lists stay as they were.
            cancelAtQuestion();
            return std::nullopt;
        }
        const auto number = parseSongNumber(numberAnswer);
        if (!number) {
            prompts().message(badSongNumberMessage(numberAnswer), {}, MessageIcon::Exclamation);
            continue;
        }
        const QString title = listableTitle(titleAnswer);
        if (!encodableInCp932(title)) {
            prompts().message(QStringLiteral("曲名「%1」には曲目リストに書けない文字があります。").arg(title), {},
                              MessageIcon::Exclamation);
            continue;
        }
        addLine(StartProcessLine);
        if (!loadSongs())
            return std::nullopt;
        if (taken(*number))
            continue;
        if (videoInTheWay(*number, path)) {
            prompts().message(QStringLiteral("src に %1 という名前のファイルが既にあります。").arg(*number), {},
                              MessageIcon::Exclamation);
            continue;
        }
        return Settled{*number, encodeCp932(title)};
    }
}

bool Registration::mayDeleteSource(const QString& path, qint64 number)
{
    // Deleting another song's (or a time signal's) video would leave its entry without one.
    if (!isLibraryVideo(paths(), path))
        return true;
    addLine(QStringLiteral("--- 注意: %1 は src の動画なので削除しません ---").arg(path), number);
    return false;
}

void Registration::list(const Settled& entry)
{
    m_songs->append(entry.number, entry.rawTitle);
    m_unnoted.append(entry.number);
    m_nextUntaken.insert(entry.number, entry.number + 1);
    m_videoSizes.changed(entry.number);
}

QString Registration::writeList()
{
    m_songs->order();
    const QString error = rewriteSongTable(paths().songList(), *m_songs);
    if (error.isEmpty()) {
        // The day of each song listed, for the guests' new songs; without it, its video's day counts.
        if (const QString noted = noteRegistered(paths(), std::exchange(m_unnoted, {}), m_clock.now().date());
            !noted.isEmpty())
            log().addLine(QStringLiteral("--- Error: %1: %2 ---").arg(registeredFile(paths()), noted));
    }
    return error;
}

void Registration::unlist(const QSet<qint64>& numbers)
{
    m_songs->filter([&numbers](const SongTable::Entry& e) { return !numbers.contains(e.number); });
    m_unnoted.removeIf([&numbers](qint64 number) { return numbers.contains(number); });
    for (qint64 number : numbers) {
        m_nextUntaken.remove(number);
        m_videoSizes.changed(number);
    }
}

QString Registration::listWriteFailure(const QString& error) const
{
    return QStringLiteral("曲目リストに書き込めません: %1\r\n登録できなかったファイルは元の場所に残っています。")
        .arg(error);
}

void Registration::ended(State state)
{
    if (m_backup && registered() > 0)
        backUpAfterChange(paths(), m_clock.now(), log(), prompts());
    if (state == State::Finished) {
        const auto list = sharedSongTable(paths().songList());
        log().addSummaryBlock(summaryLine(m_videoSizes.totals(list ? *list : SongTable())));
    }
}

} // namespace tarv
