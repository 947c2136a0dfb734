#include "library/library.h"

#include "common/cp932.h"
#include "common/savefile.h"
#include "common/webroot.h"
#include "library/entryrules.h"
#include "library/recovery.h"
#include "player/player.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>

namespace tarv {
namespace {

const QString ConfirmTitle = QStringLiteral("確認");
const QString ErrorTitle = QStringLiteral("エラー");

} // namespace

ConsistencyCheck checkConsistency(const AppPaths& paths)
{
    ConsistencyCheck check;
    const auto songs = sharedSongTable(paths.songList());
    check.expected.reserve((songs ? songs->size() : 0) + 1);
    check.expected << QStringLiteral("000000");
    if (songs)
        for (const SongTable::Entry& entry : songs->entries())
            check.expected << QString::number(entry.number);
    check.found = QDir(paths.srcDir()).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    // A copy in progress (or one a crash left before the next start cleared it) is not a video.
    check.found.removeIf(isSaveTemporaryName);
    check.countDiffers = check.expected.size() != check.found.size();
    const qsizetype positions = std::max(check.expected.size(), check.found.size());
    for (qsizetype i = 0; i < positions; ++i) {
        if (i >= check.expected.size() || i >= check.found.size() || check.expected.at(i) != check.found.at(i))
            check.differing << int(i);
    }
    return check;
}

QString positionDiffersText(int position)
{
    return QStringLiteral("ここあたりおかしい：") + QString::number(position);
}

QString saveWebRoot(const AppPaths& paths, const QString& text)
{
    if (text.contains(u','))
        return QStringLiteral("Pathにカンマ(,)は使えません。\r\n%1").arg(text);
    if (!encodableInCp932(text))
        return QStringLiteral("Pathに保存できない文字があります。\r\n%1").arg(text);
    if (!QFileInfo(paths.dbDir()).isDir())
        return QStringLiteral("フォルダ %1 がありません。").arg(paths.dbDir());
    return saveFile(paths.webRootFile(), encodeCp932(text) + "\r\n");
}

Library::Library(const AppPaths& paths, Clock& clock, OperatorPrompts& prompts, Player& preview)
    : m_paths(paths), m_clock(clock), m_prompts(prompts), m_preview(preview), m_videoSizes(paths)
{
    setSongs(nullptr);
}

void Library::load()
{
    const Recovery recovery = recoverInterruptedChanges(m_paths);
    for (const QString& line : recovery.done + recovery.refused)
        m_log.addLine(QStringLiteral("--- 注意: %1 ---").arg(line));
    if (!recovery.error.isEmpty())
        m_log.addLine(QStringLiteral("--- Error: 中断された変更を片付けられません: %1 ---").arg(recovery.error));
    m_webRootText = readWebRoot(m_paths).value_or(QString());
    QString error;
    const auto list = sharedSongTable(m_paths.songList(), &error);
    if (!list)
        m_log.addLine(QStringLiteral("--- Error: 曲目リストを読み込めません: %1 ---").arg(error));
    else
        for (const QString& warning : list->warnings() + list->oddNumberLines())
            m_log.addLine(QStringLiteral("--- 注意: %1 ---").arg(warning));
    m_videoSizes.forgetAll();
    if (list)
        m_videoSizes.prefetch(*list);
    setSongs(list);
    if (m_table->size() <= SizesReadAtOnce) {
        addSummary();
        return;
    }
    // A big library: its videos' sizes are read on other threads while the window comes on screen.
    QMetaObject::invokeMethod(
        this,
        [this] {
            addSummary();
            emit logChanged();
        },
        Qt::QueuedConnection);
}

void Library::addSummary()
{
    m_log.addSummaryBlock(summaryLine(m_videoSizes.totals(*m_table)));
}

const QList<Song>& Library::songs() const
{
    if (!m_songs)
        m_songs = m_table->songs();
    return *m_songs;
}

qsizetype Library::songCount() const
{
    return m_table->size();
}

QString Library::listItem(qsizetype row) const
{
    // displayForm() built in place: a hundred thousand items are worth the care.
    const SongTable::Entry& entry = m_table->entries()[row];
    QString item;
    item.reserve(16 + entry.titleSize);
    item += QString::number(entry.number);
    item += QLatin1StringView(" | ");
    appendCp932(item, m_table->rawTitle(entry));
    return item;
}

LibraryTotals Library::refreshSongs()
{
    setSongs(sharedSongTable(m_paths.songList()));
    return m_videoSizes.totals(*m_table);
}

void Library::setSongs(std::shared_ptr<const SongTable> table)
{
    static const auto empty = std::make_shared<const SongTable>();
    m_table = table ? std::move(table) : empty;
    m_songs.reset();
    emit songsChanged();
}

bool Library::saveWebRoot(const QString& text)
{
    const QString error = tarv::saveWebRoot(m_paths, text);
    if (!error.isEmpty()) {
        m_prompts.message(error, ErrorTitle, MessageIcon::Critical);
        return false;
    }
    m_webRootText = text;
    m_prompts.message(QStringLiteral("変更しました。\r\n") + text);
    return true;
}

bool Library::select(int row)
{
    if (row < 0 || row >= m_table->size())
        return false;
    const Song song = m_table->song(row);
    const QString number = song.numberText();
    m_preview.setMediaPath(m_paths.video(number));
    m_preview.play();
    m_edit.selected = true;
    m_edit.number = song.number;
    m_edit.row = row;
    m_edit.rawTitle = song.rawTitle;
    m_edit.beforeLabel = number + QStringLiteral("　->");
    m_edit.newNumber = number;
    m_edit.newTitle = song.title();
    return true;
}

Library::EditOutcome Library::change(const QString& newNumberText, const QString& newTitle, bool backup)
{
    if (!m_edit.selected)
        return EditOutcome::Unchanged;
    const auto newNumber = parseSongNumber(newNumberText);
    if (!newNumber) {
        m_prompts.message(badSongNumberMessage(newNumberText), {}, MessageIcon::Exclamation);
        return EditOutcome::Unchanged;
    }
    const QString title = listableTitle(newTitle);
    QString loadError;
    auto loaded = loadSongListForRewrite(m_paths.songList(), &loadError);
    if (!loaded) {
        m_prompts.message(loadError, ErrorTitle, MessageIcon::Critical);
        return EditOutcome::Unchanged;
    }
    const qint64 oldNumber = m_edit.number;
    const QString oldText = QString::number(oldNumber);
    const QString newText = QString::number(*newNumber);
    SongTable& songs = *loaded;
    qsizetype sameNumber = 0;
    const auto chosen = selectedEntry(songs, &sameNumber);
    if (!chosen)
        return EditOutcome::Unchanged;
    // Entries listed under one number share its one video: none of them can take it to another number.
    if (*newNumber != oldNumber && sameNumber > 1) {
        m_prompts.message(QStringLiteral("曲番号 %1 は曲目リストに %2 件あり、動画は一つなので番号を変えられません。"
                                         "題名だけを変えるか、余分な曲を削除してください。")
                              .arg(oldText)
                              .arg(sameNumber),
                          {}, MessageIcon::Exclamation);
        return EditOutcome::Unchanged;
    }
    // A title left as it was keeps its bytes, even those that do not decode.
    const QString oldTitle = decodeCp932(songs.rawTitle(*chosen));
    if (title != oldTitle && !encodableInCp932(title)) {
        m_prompts.message(QStringLiteral("曲名「%1」には曲目リストに書けない文字があります。").arg(title), {},
                          MessageIcon::Exclamation);
        return EditOutcome::Unchanged;
    }
    const QString oldVideo = m_paths.video(oldText);
    if (*newNumber != oldNumber && !numberFree(songs, *newNumber))
        return EditOutcome::Unchanged;
    if (!m_prompts.confirm(QStringLiteral("変更しますか？"), ConfirmTitle, MessageIcon::Question))
        return EditOutcome::Unchanged;

    m_log.addLine(StartProcessLine);
    songs.setNumber(*chosen, *newNumber);
    if (title != oldTitle)
        songs.setRawTitle(*chosen, encodeCp932(title));

    const bool renaming = *newNumber != oldNumber && QFileInfo::exists(oldVideo);
    if (renaming && !renameVideo(oldNumber, *newNumber))
        return EditOutcome::Unchanged;
    songs.order();
    const QString error = rewriteSongTable(m_paths.songList(), std::move(songs));
    // The list is the point of no return; settling the note puts the video back when it was not written.
    if (renaming)
        recoverInterruptedChanges(m_paths);
    if (!error.isEmpty()) {
        m_prompts.message(QStringLiteral("曲目リストに書き込めません: ") + error, ErrorTitle, MessageIcon::Critical);
        m_log.addLine(QStringLiteral("--- Error: 曲目リストに書き込めません ---"));
        return EditOutcome::Unchanged;
    }
    m_videoSizes.changed(oldNumber);
    m_videoSizes.changed(*newNumber);

    const LibraryTotals totals = refreshSongs();
    if (backup)
        backUpAfterChange(m_paths, m_clock.now(), m_log, m_prompts);
    m_log.addLine(QStringLiteral("--- Edit:") + oldText + QStringLiteral(" -> ") + newText + QStringLiteral(" ** ") +
                  oldTitle + QStringLiteral(" ->") + title + QStringLiteral(" ---"));
    m_log.addLine(QStringLiteral("--- Finish Edit ---"));
    m_log.addSummaryBlock(summaryLine(totals));
    resetEditFrame();
    return EditOutcome::Done;
}

// Two entries under one number, or a video that replaces another, would put the list and src/ out
// of step.
bool Library::numberFree(const SongTable& songs, qint64 number)
{
    const QString text = QString::number(number);
    const auto& entries = songs.entries();
    if (std::any_of(entries.cbegin(), entries.cend(), [&](const SongTable::Entry& e) { return e.number == number; })) {
        m_prompts.message(QStringLiteral("曲番号 %1 は既に登録されています。").arg(text), {}, MessageIcon::Exclamation);
        return false;
    }
    if (QFileInfo::exists(m_paths.video(text))) {
        m_prompts.message(QStringLiteral("src に %1 という名前のファイルが既にあります。").arg(text), {},
                          MessageIcon::Exclamation);
        return false;
    }
    return true;
}

std::optional<qsizetype> Library::selectedEntry(const SongTable& songs, qsizetype* sameNumber)
{
    const qint64 number = m_edit.number;
    qsizetype count = 0;
    qsizetype last = -1;
    qsizetype sameTitles = 0;
    qsizetype lastSameTitle = -1;
    for (qsizetype i = 0; i < songs.size(); ++i) {
        if (songs.number(i) != number)
            continue;
        ++count;
        last = i;
        if (songs.rawTitle(i) == m_edit.rawTitle) {
            ++sameTitles;
            lastSameTitle = i;
        }
    }
    *sameNumber = count;
    if (count == 0) {
        m_prompts.message(QStringLiteral("曲番号 %1 は曲目リストにありません。").arg(number), {},
                          MessageIcon::Exclamation);
        return std::nullopt;
    }
    if (count == 1)
        return last;
    const qsizetype row = m_edit.row;
    if (row >= 0 && row < songs.size() && songs.number(row) == number && songs.rawTitle(row) == m_edit.rawTitle)
        return row;
    if (sameTitles == 1)
        return lastSameTitle;
    m_prompts.message(
        QStringLiteral("曲目リストが変わり、曲番号 %1 のどの曲を選んだのか分かりません。選び直してください。")
            .arg(number),
        {}, MessageIcon::Exclamation);
    return std::nullopt;
}

bool Library::renameVideo(qint64 oldNumber, qint64 newNumber)
{
    const QString oldVideo = m_paths.video(QString::number(oldNumber));
    releasePreview();
    // Noted first: a kill between the rename and the list's rewrite is settled at the next start.
    const QString noteError = notePendingEdit(m_paths, {PendingEdit::Kind::Renumber, oldNumber, newNumber});
    QString error;
    if (!noteError.isEmpty())
        error = QStringLiteral("変更を始められません: ") + noteError;
    else if (!QFile::rename(oldVideo, m_paths.video(QString::number(newNumber))))
        error = QStringLiteral("動画 %1 の名前を変更できません。").arg(oldVideo);
    if (error.isEmpty())
        return true;
    QFile::remove(pendingEditFile(m_paths));
    m_prompts.message(error, ErrorTitle, MessageIcon::Critical);
    m_log.addLine(QStringLiteral("--- Error: %1 ---").arg(error));
    return false;
}

ConsistencyCheck Library::check(bool dropRunning)
{
    // A note a kill left is settled first (not under a running drop, whose own note it is), so that
    // the check shows what the list and src/ really hold.
    if (!dropRunning)
        recoverInterruptedChanges(m_paths);
    return checkConsistency(m_paths);
}

Library::EditOutcome Library::remove(bool backup)
{
    if (!m_edit.selected)
        return EditOutcome::Unchanged;
    const qint64 number = m_edit.number;
    const QString numberText = QString::number(number);
    QString loadError;
    auto songs = loadSongListForRewrite(m_paths.songList(), &loadError);
    if (!songs) {
        m_prompts.message(loadError, ErrorTitle, MessageIcon::Critical);
        return EditOutcome::Unchanged;
    }
    qsizetype sameNumber = 0;
    const auto chosen = selectedEntry(*songs, &sameNumber);
    if (!chosen)
        return EditOutcome::Unchanged;
    const QString title = decodeCp932(songs->rawTitle(*chosen));
    if (!m_prompts.confirm(QStringLiteral("削除しますか？\r\n削除すると復元できません"), ConfirmTitle,
                           MessageIcon::Exclamation))
        return EditOutcome::Unchanged;

    // The other entries under this number still show its video: only the chosen entry goes.
    const bool videoShared = sameNumber > 1;
    // Noted first: a kill between the list's rewrite and the video's removal is settled at the next start.
    if (const QString noteError =
            videoShared ? QString() : notePendingEdit(m_paths, {PendingEdit::Kind::Delete, number, 0});
        !noteError.isEmpty()) {
        m_prompts.message(QStringLiteral("削除を始められません: ") + noteError, ErrorTitle, MessageIcon::Critical);
        return EditOutcome::Unchanged;
    }
    songs->removeAt(*chosen);
    songs->order();
    const QString error = rewriteSongTable(m_paths.songList(), std::move(*songs));
    if (!error.isEmpty()) {
        if (!videoShared)
            QFile::remove(pendingEditFile(m_paths));
        m_prompts.message(QStringLiteral("曲目リストに書き込めません: ") + error, ErrorTitle, MessageIcon::Critical);
        m_log.addLine(QStringLiteral("--- Error: 曲目リストに書き込めません ---"));
        return EditOutcome::Unchanged;
    }
    const QString video = m_paths.video(numberText);
    if (videoShared) {
        m_log.addLine(QStringLiteral("--- 動画 %1 は同じ曲番号の曲が残るので削除しません ---").arg(numberText));
    } else {
        releasePreview();
        if (QFileInfo::exists(video) && !QFile::remove(video))
            m_log.addLine(QStringLiteral("--- Error: 動画 %1 を削除できません ---").arg(video)); // the note retries it
        else
            QFile::remove(pendingEditFile(m_paths));
        m_videoSizes.changed(number);
    }

    const LibraryTotals totals = refreshSongs();
    if (backup)
        backUpAfterChange(m_paths, m_clock.now(), m_log, m_prompts);
    m_log.addLine(QStringLiteral("--- Delete:") + numberText + QStringLiteral(" ** ") + title + QStringLiteral(" ---"));
    m_log.addLine(QStringLiteral("--- Finish Delete ---"));
    m_log.addSummaryBlock(summaryLine(totals));
    resetEditFrame();
    return EditOutcome::Done;
}

void Library::exportSongBook(const QString& systemVersion)
{
    const ExportResult result = tarv::exportSongBook(m_paths, systemVersion);
    if (!result.ok()) {
        m_prompts.message(QStringLiteral("db.html を書き出せません。\r\n") + result.error, ErrorTitle,
                          MessageIcon::Critical);
        return;
    }
    m_exportLabel = SongBookDoneText;
}

void Library::exportWebSongFile()
{
    const ExportResult result = tarv::exportWebSongFile(m_paths);
    if (!result.ok()) {
        m_prompts.message(result.error, ErrorTitle, MessageIcon::Critical);
        return;
    }
    m_exportLabel = WebSongFileDoneText;
}

std::unique_ptr<Registration> Library::newRegistration(const QStringList& files, RegistrationOptions options)
{
    return std::make_unique<Registration>(m_paths, m_clock, m_prompts, m_log, files, options, &m_videoSizes);
}

void Library::resetEditFrame()
{
    m_edit = EditFrame{};
    m_edit.newTitle.clear();
}

void Library::releasePreview()
{
    // The preview may hold the video open; let go of it before it is renamed or deleted.
    m_preview.stop();
    m_preview.setMediaPath(QString());
}

} // namespace tarv
