#include "timesignal/signalinstallation.h"

#include "common/cp932.h"
#include "common/droprules.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "library/recovery.h"
#include "timesignal/timesignals.h"

#include <QFile>
#include <QFileInfo>

namespace tarv {
namespace {

// A file of src/ itself (not merely a file somewhere else with a numeric name).
bool inSourceFolder(const AppPaths& paths, const QString& file)
{
    const QString dir = QFileInfo(QFileInfo(file).absolutePath()).canonicalFilePath();
    return !dir.isEmpty() && dir == QFileInfo(paths.srcDir()).canonicalFilePath();
}

// The installed list with entries added, written in number order.
QString addToInstalled(const AppPaths& paths, const QList<SignalEntry>& added)
{
    const QString path = installedSignalsFile(paths);
    const auto list = loadSignalEntries(path);
    if (!list.readable)
        return list.problem;
    return saveFile(path, serializeSignalEntries(orderSignalEntries(list.items + added)));
}

} // namespace

QString pendingSignalCopiesFile(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/zihodropping.txt"));
}

Recovery recoverInterruptedInstallation(const AppPaths& paths)
{
    Recovery recovery;
    const QString note = pendingSignalCopiesFile(paths);
    if (!nameTaken(note))
        return recovery;
    const auto file = loadSignalEntries(installedSignalsFile(paths));
    QString error = file.problem;
    const auto named = file.readable ? videosNamedByLists(paths, &error) : std::nullopt;
    if (!named) { // the lists cannot tell what was done or what is in use; try again next time
        recovery.error = error;
        return recovery;
    }
    DropList list;
    list.noteFile = note;
    list.listName = QStringLiteral("ziholist.txt");
    list.operation = QStringLiteral("時報のインストール");
    for (const SignalEntry& entry : file.items) {
        if (entry.namesVideo())
            list.listed.insert(entry.value());
    }
    list.namedVideos = *named;
    list.videoName = &sixDigits;
    list.takesNumber = [](qint64 number) { return number >= 1 && number <= LastSignalNumber; };
    list.add = [&paths](const QList<PendingCopy>& copies) {
        QList<SignalEntry> added;
        for (const PendingCopy& copy : copies)
            added << SignalEntry{sixDigits(copy.number), copy.rawTitle, {}};
        return addToInstalled(paths, added);
    };
    return settleDropNote(paths, list);
}

SignalInstallation::SignalInstallation(TimeSignals& settings, QStringList files, InstallOptions options)
    : DropEngine(settings.paths(), settings.prompts(), settings.log(), std::move(files), options), m_signals(settings)
{
}

SignalInstallation::~SignalInstallation()
{
    writePending();
}

bool SignalInstallation::prepare()
{
    if (!QFileInfo(paths().srcDir()).isDir()) {
        stop(QStringLiteral("動画フォルダ %1 がありません").arg(paths().srcDir()));
        return false;
    }
    // A note a kill left must be settled first: this drop's own note would replace it.
    if (const Recovery recovery = recoverInterruptedInstallation(paths()); !recovery.error.isEmpty()) {
        const QString message =
            QStringLiteral("前回中断されたインストールを片付けられないので、インストールを始められません: ") +
            recovery.error;
        prompts().message(message, {}, MessageIcon::Exclamation);
        addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
        setState(State::Stopped);
        return false;
    }
    addLine(StartProcessLine);
    return true;
}

QString SignalInstallation::firstNumberProposal(const QString& refused) const
{
    return refused.isEmpty() ? QStringLiteral("001001") : refused;
}

QString SignalInstallation::badNumberMessage(const QString& typed) const
{
    return QStringLiteral("「%1」は時報の番号にできません。\r\n000001 から 999998 までの数字で入力してください。")
        .arg(typed);
}

// A number whose video must not be replaced: one in use, or a file of src/ nobody lists (this
// drop's unlisted copies among them).
bool SignalInstallation::inUse(qint64 number) const
{
    return m_signals.numbersInUse().contains(number) || QFileInfo::exists(paths().video(sixDigits(number)));
}

std::optional<SignalInstallation::Settled> SignalInstallation::settleAutomatic(const QString& path, int index)
{
    const QString name = QFileInfo(path).fileName();
    // File i (from 1) takes the first number + i - 1, or the next number after it that no video uses.
    const QSet<qint64> used = m_signals.numbersInUse();
    for (qint64 number = firstNumber() + index; number <= LastSignalNumber; ++number) {
        if (!used.contains(number) && !QFileInfo::exists(paths().video(sixDigits(number))))
            return Settled{number, SignalEntry::make(number, proposedTitle(name)).rawTitle};
    }
    stop(QStringLiteral("%1 までに空いている番号がないので、%2 はインストールできません")
             .arg(LastSignalNumber)
             .arg(name));
    return std::nullopt;
}

std::optional<SignalInstallation::Settled> SignalInstallation::settleManual(const QString& path)
{
    const QString proposed = proposedTitle(QFileInfo(path).fileName());
    for (;;) {
        const QString numberAnswer = prompts().input(QStringLiteral("FileNo?\r\n") + path,
                                                     QStringLiteral("InputFileNo"), QStringLiteral("001000"));
        const QString titleAnswer =
            numberAnswer.isEmpty()
                ? QString()
                : prompts().input(QStringLiteral("FileTitle?\r\n") + path, QStringLiteral("InputFileTitle"), proposed);
        if (numberAnswer.isEmpty() || titleAnswer.isEmpty()) {
            cancelAtQuestion();
            return std::nullopt;
        }
        const auto typed = parseSignalNumber(numberAnswer);
        if (!typed) {
            prompts().message(badNumberMessage(numberAnswer), {}, MessageIcon::Exclamation);
            continue;
        }
        if (inUse(*typed)) {
            prompts().message(QStringLiteral("src/%1 はほかの動画（曲、起動画面、時報）が使っています。\r\n"
                                             "別の番号を入力してください。")
                                  .arg(sixDigits(*typed)),
                              {}, MessageIcon::Exclamation);
            continue;
        }
        return Settled{*typed, SignalEntry::make(*typed, titleAnswer).rawTitle};
    }
}

bool SignalInstallation::mayDeleteSource(const QString& path, qint64)
{
    // A video of src/ itself may be another entry's; it stays.
    return !inSourceFolder(paths(), path);
}

void SignalInstallation::list(const Settled& entry)
{
    m_unlisted << SignalEntry{sixDigits(entry.number), entry.rawTitle, {}};
}

QString SignalInstallation::writeList()
{
    const QString error = addToInstalled(paths(), m_unlisted);
    if (error.isEmpty())
        m_unlisted.clear();
    return error;
}

void SignalInstallation::unlist(const QSet<qint64>& numbers)
{
    m_unlisted.removeIf([&numbers](const SignalEntry& e) { return numbers.contains(e.value()); });
}

QString SignalInstallation::listWriteFailure(const QString& error) const
{
    return QStringLiteral("ziholist.txt に書き込めません: ") + error;
}

void SignalInstallation::ended(State state)
{
    if (state != State::Finished)
        return;
    const auto list = loadSignalEntries(installedSignalsFile(paths()));
    log().addLine(signalSummary(list.items.size(), signalVideoBytes(paths(), list.items)));
}

} // namespace tarv
