#include "common/dropengine.h"

#include "common/cp932.h"
#include "common/droprules.h"
#include "common/filecopy.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace tarv {
namespace {

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
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

DropEngine::DropEngine(const AppPaths& paths, OperatorPrompts& prompts, OperatorLog& log, QStringList files,
                       Options options)
    : m_paths(paths), m_prompts(prompts), m_log(log), m_files(std::move(files)), m_options(options)
{
}

bool DropEngine::begin()
{
    if (m_state != State::NotStarted || m_files.isEmpty())
        return false;
    if (!prepare())
        return false;
    if (m_options.autoNumbering && !askFirstNumber())
        return false;
    begun();
    m_state = State::Running;
    m_sinceWrite.start();
    return true;
}

bool DropEngine::askFirstNumber()
{
    QString refused;
    for (;;) {
        const QString answer = m_prompts.input(QStringLiteral("First Name No?\r\nnnnnnn"),
                                               QStringLiteral("InputFirstFileNo"), firstNumberProposal(refused));
        if (answer.isEmpty()) {
            m_prompts.message(QStringLiteral("Cancel"));
            m_log.addLine(CancelLine);
            m_state = State::Cancelled;
            return false;
        }
        if (const auto number = parseNumber(answer)) {
            m_firstNumber = *number;
            return true;
        }
        m_prompts.message(badNumberMessage(answer), {}, MessageIcon::Exclamation);
        refused = answer;
    }
}

void DropEngine::step()
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
    if (const auto reason = uncopyableReason(path, folderReason())) {
        addLine(QStringLiteral("--- Skip: %1 (%2) ---").arg(path, *reason));
    } else {
        const auto entry = m_options.autoNumbering ? settleAutomatic(path, index) : settleManual(path);
        if (!entry || !copyIn(index, path, *entry))
            return;
    }
    ++m_next;
    if (m_next == total()) {
        if (!writeUnwritten())
            return;
        addLine(QStringLiteral("--- Finish Process ---"));
        end(State::Finished);
    } else if (!m_unwritten.isEmpty() && m_sinceWrite.elapsed() >= 1000 && !writeUnwritten()) {
        return;
    }
}

bool DropEngine::copyIn(int index, const QString& path, const Settled& entry)
{
    const QString video = m_paths.video(videoName(entry.number));
    const PendingCopy copy{entry.number, entry.rawTitle, path};
    // A file dropped from src/ onto its own number is already in place; it must not be deleted.
    const bool inPlace = sameFile(path, video);
    if (!inPlace) {
        // Noted before the copy exists, so that a crash from here on cannot leave it unlisted.
        QList<PendingCopy> noted;
        for (const Unwritten& unwritten : std::as_const(m_unwritten)) {
            if (unwritten.noted)
                noted << unwritten.copy;
        }
        noted << copy;
        if (const QString error = notePendingCopies(noteFile(), noted); !error.isEmpty()) {
            stop(QStringLiteral("%1 に書き込めません: %2").arg(noteFile(), error));
            return false;
        }
        bool sourceFault = false;
        const QString error = copyFileSafely(path, video, &sourceFault);
        if (!error.isEmpty() && sourceFault) {
            addLine(QStringLiteral("--- Skip: %1 (コピーできません: %2) ---").arg(path, error));
            return true;
        }
        // src/ cannot take the copy (a full disk, say): every file after it would fail alike.
        if (!error.isEmpty()) {
            stop(QStringLiteral("動画を src にコピーできません: ") + error);
            return false;
        }
    }

    list(entry);
    const bool deleteSource = m_options.deleteSource && !inPlace && mayDeleteSource(path, entry.number);
    m_unwritten.append({copy, !inPlace, deleteSource});
    ++m_registered;
    addLine(videoName(entry.number) + u'|' + decodeCp932(entry.rawTitle), entry.number);
    addLine(QStringLiteral("--- Finish:%1/%2 (%3MB) ---")
                .arg(index + 1)
                .arg(total())
                .arg(megabytesText(QFileInfo(video).size())),
            entry.number);
    // A file of src/ that was already in place needs no undoing: write its entry at once.
    return !inPlace || writeUnwritten();
}

// Writes the entries copied in since the last write, then deletes their sources. On failure their
// copies are removed again (their sources are all still there) and the drop stops.
bool DropEngine::writeUnwritten()
{
    if (m_unwritten.isEmpty()) {
        // A note of a copy that failed or was skipped names nothing to undo.
        QFile::remove(noteFile());
        return true;
    }
    const QString error = writeList();
    if (!error.isEmpty()) {
        undoUnwritten(error);
        return false;
    }
    settleWritten();
    m_sinceWrite.restart();
    return true;
}

void DropEngine::undoUnwritten(const QString& error)
{
    QSet<qint64> unwritten;
    for (const Unwritten& u : std::as_const(m_unwritten))
        unwritten.insert(u.copy.number);
    // The copies this drop made go again while their sources are there; a copy whose source has gone
    // meanwhile is the only one of its video, and stays noted so that the next start lists it.
    bool sourceGone = false;
    for (const Unwritten& u : std::as_const(m_unwritten)) {
        if (!u.noted)
            continue;
        if (QFileInfo::exists(u.copy.source))
            QFile::remove(m_paths.video(videoName(u.copy.number)));
        else
            sourceGone = true;
    }
    if (!sourceGone)
        QFile::remove(noteFile());
    unlist(unwritten);
    m_registered -= int(m_unwritten.size());
    m_unwritten.clear();
    // The lines of files that are not copied in after all go; the others (skips) stay.
    for (const HeldLine& line : std::exchange(m_heldLines, {})) {
        if (!unwritten.contains(line.number))
            m_log.addLine(line.text);
    }
    stop(listWriteFailure(error));
}

// The list names every unwritten copy now: their sources may go, and their lines be shown.
void DropEngine::settleWritten()
{
    QHash<qint64, QString> undeleted;
    for (const Unwritten& u : std::as_const(m_unwritten)) {
        if (u.deleteSource && !QFile::remove(u.copy.source))
            undeleted.insert(u.copy.number, u.copy.source);
    }
    m_unwritten.clear();
    QFile::remove(noteFile());
    for (const HeldLine& line : std::exchange(m_heldLines, {})) {
        if (const QString source = undeleted.take(line.number); !source.isEmpty())
            m_log.addLine(QStringLiteral("--- Error: 元のファイルを削除できません: %1 ---").arg(source));
        m_log.addLine(line.text);
    }
}

void DropEngine::writePending()
{
    if (!m_unwritten.isEmpty())
        writeUnwritten();
}

void DropEngine::addLine(const QString& text, qint64 number)
{
    if (m_unwritten.isEmpty() && m_heldLines.isEmpty())
        m_log.addLine(text);
    else
        m_heldLines.append({number, text});
}

void DropEngine::stop(const QString& message)
{
    m_prompts.message(message, {}, MessageIcon::Exclamation);
    addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
    end(State::Stopped);
}

void DropEngine::cancelAtQuestion()
{
    m_prompts.message(QStringLiteral("Cancel"));
    addLine(CancelLine);
    m_cancelledAtQuestion = true;
    end(State::Cancelled);
}

void DropEngine::end(State state)
{
    m_state = state;
    if (!writeUnwritten())
        return; // stopped instead, with its own lines
    ended(state);
}

} // namespace tarv
