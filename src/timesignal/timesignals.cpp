#include "timesignal/timesignals.h"

#include "common/filecopy.h"
#include "common/filetransaction.h"
#include "common/savefile.h"
#include "library/entryrules.h"
#include "library/songlist.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>

namespace tarv {

Q_LOGGING_CATEGORY(lcTimeSignal, "tarv.timesignal")

namespace {

// Answers every question "cancel" or "no"; used while no window asks.
class NoPrompts : public LibraryPrompts
{
public:
    QString input(const QString&, const QString&, const QString&) override { return {}; }
    bool confirm(const QString&, const QString&, MessageIcon) override { return false; }
    void message(const QString&, const QString&, MessageIcon) override {}
};

const QString BadTimeMessage = QStringLiteral("「%1」は時刻ではありません。\r\n時刻は 7:30 や 07:30 のように、"
                                              "00:00 から 23:59 までの時:分で入力してください。");
const QString BadFieldMessage = QStringLiteral("「%1」は使えません。\r\nsrc フォルダの動画のファイル名だけ"
                                               "（フォルダやドライブ、アドレスなし）か nofile を入力してください。");

// A file of src/ itself (not merely a file somewhere else with a numeric name).
bool inSourceFolder(const AppPaths& paths, const QString& file)
{
    const QString dir = QFileInfo(QFileInfo(file).absolutePath()).canonicalFilePath();
    return !dir.isEmpty() && dir == QFileInfo(paths.srcDir()).canonicalFilePath();
}

// Why a dropped path cannot be installed, or nullopt when it can.
std::optional<QString> unusableReason(const QString& path)
{
    return uncopyableReason(path, QStringLiteral("フォルダはインストールできません"));
}

} // namespace

TimeSignals::TimeSignals(const AppPaths& paths, AppState& state) : m_paths(paths), m_state(state) {}

LibraryPrompts& TimeSignals::prompts()
{
    static NoPrompts none;
    return m_prompts ? *m_prompts : none;
}

void TimeSignals::note(const QString& problem)
{
    if (problem.isEmpty())
        return;
    qCWarning(lcTimeSignal).noquote() << problem;
    m_log.addLine(QStringLiteral("--- 注意: %1 ---").arg(problem));
}

void TimeSignals::showError(const QString& text)
{
    note(text);
    prompts().message(text, {}, MessageIcon::Exclamation);
}

void TimeSignals::load()
{
    // A save that a kill or a failure left half done is finished first (the start did so already,
    // unless it failed there).
    QString unfinished;
    finishFileChanges(changeJournal(m_paths), &unfinished);
    note(unfinished);
    const auto installed = loadSignalEntries(installedSignalsFile(m_paths));
    const auto enabled = loadSignalEntries(enabledSignalsFile(m_paths));
    const auto times = loadTimeItems(signalTimesFile(m_paths));
    for (const QString& problem : {installed.problem, enabled.problem, times.problem})
        note(problem);
    m_installed = installed.items;
    m_enabled = enabled.items;
    m_times = times.items;
    m_savedEnabled = !m_enabled.isEmpty();
    m_loaded = true;

    QStringList missing;
    const qint64 bytes =
        signalVideoBytes(m_paths, m_installed, &missing) + signalVideoBytes(m_paths, m_enabled, &missing);
    if (!missing.isEmpty())
        note(QStringLiteral("src に動画がありません: %1").arg(missing.join(QStringLiteral(", "))));
    for (const TimeItem& item : std::as_const(m_times)) {
        if (!usableField(item.field()))
            note(QStringLiteral("%1 の動画「%2」は src の外を指すので流しません").arg(item.time(), item.field()));
    }
    m_log.addLine(signalSummary(m_enabled.size(), bytes));
}

void TimeSignals::unload()
{
    m_state.setTimeSignalsOn(false);
    m_log = LibraryLog();
    m_installed.clear();
    m_enabled.clear();
    m_times.clear();
    m_loaded = false;
}

void TimeSignals::turnOn()
{
    unload();
    load();
    m_state.setTimeSignalsOn(true);
}

void TimeSignals::enable(int row)
{
    if (row >= 0 && row < m_installed.size())
        m_enabled.append(m_installed.takeAt(row));
}

void TimeSignals::disable(int row)
{
    if (row >= 0 && row < m_enabled.size())
        m_installed.append(m_enabled.takeAt(row));
}

void TimeSignals::saveEntries()
{
    // Both files or neither: an entry moved from one list to the other is never in both or in none.
    const QString error =
        saveFilesTogether(changeJournal(m_paths), {{installedSignalsFile(m_paths), serializeSignalEntries(m_installed)},
                                                   {enabledSignalsFile(m_paths), serializeSignalEntries(m_enabled)}});
    if (!error.isEmpty()) {
        showError(error);
        return;
    }
    m_savedEnabled = !m_enabled.isEmpty();
    m_log.addLine(signalSummary(m_enabled.size(), signalVideoBytes(m_paths, m_installed)) +
                  QStringLiteral("\r\n--- Saved ---"));
}

QSet<qint64> TimeSignals::numbersInUse() const
{
    QSet<qint64> used{0};
    if (const auto songs = sharedSongTable(m_paths.songList()))
        for (const SongTable::Entry& entry : songs->entries())
            used.insert(entry.number);
    for (const QString& path : {installedSignalsFile(m_paths), enabledSignalsFile(m_paths)}) {
        for (const SignalEntry& entry : loadSignalEntries(path).items) {
            if (entry.namesVideo())
                used.insert(entry.value());
        }
    }
    return used;
}

bool TimeSignals::deleteEntry(Side side, int row)
{
    QList<SignalEntry>& list = side == Side::Installed ? m_installed : m_enabled;
    if (row < 0 || row >= list.size())
        return false;
    if (!prompts().confirm(QStringLiteral("削除しますか？\r\n削除すると復元できません"), QStringLiteral("確認"),
                           MessageIcon::Exclamation))
        return false;
    const SignalEntry chosen = list.at(row);
    const QString path = side == Side::Installed ? installedSignalsFile(m_paths) : enabledSignalsFile(m_paths);
    const auto file = loadSignalEntries(path);
    if (!file.readable) {
        showError(file.problem);
        return false;
    }
    QList<SignalEntry> kept;
    for (const SignalEntry& entry : file.items) {
        if (entry.number != chosen.number || entry.rawNumber != chosen.rawNumber)
            kept.append(entry);
    }
    const QString error = saveFile(path, serializeSignalEntries(orderSignalEntries(kept)));
    if (!error.isEmpty()) {
        showError(QStringLiteral("%1 に書き込めません: %2").arg(QFileInfo(path).fileName(), error));
        return false;
    }
    if (side == Side::Enabled)
        m_savedEnabled = !kept.isEmpty();

    // The video goes only when nothing else uses it: a song, the intro or another time-signal entry.
    const QString video = m_paths.video(chosen.number);
    const QList<SignalEntry>& other = side == Side::Installed ? m_enabled : m_installed;
    const bool listedElsewhere =
        std::any_of(other.cbegin(), other.cend(), [&](const SignalEntry& e) { return e.number == chosen.number; });
    if (!chosen.namesVideo()) {
        note(QStringLiteral("%1 は番号ではないので動画は削除しません").arg(chosen.number));
    } else if (listedElsewhere || numbersInUse().contains(chosen.value())) {
        note(QStringLiteral("src/%1 はほかで使われているので削除しません").arg(chosen.number));
    } else if (!QFileInfo(video).isFile()) {
        note(QStringLiteral("src/%1 はもうありません").arg(chosen.number));
    } else if (!QFile::remove(video)) {
        showError(QStringLiteral("src/%1 を削除できません").arg(chosen.number));
    }
    list = loadSignalEntries(path).items;
    return true;
}

std::optional<QString> TimeSignals::askTime(const QString& prompt, const QString& title, const QString& proposed)
{
    QString answer = proposed;
    for (;;) {
        answer = prompts().input(prompt + QStringLiteral("\r\nhh:mm"), title, answer);
        if (answer.isEmpty())
            return std::nullopt;
        if (const auto time = normalisedTime(answer))
            return time;
        prompts().message(BadTimeMessage.arg(answer), {}, MessageIcon::Exclamation);
    }
}

QString TimeSignals::askField(const QString& proposed)
{
    QString answer = proposed;
    for (;;) {
        answer = prompts().input(QStringLiteral("ファイルを指定できます\r\n指定なし：nofile"),
                                 QStringLiteral("新規時報時間"), answer);
        if (answer.isEmpty())
            return NoFile;
        if (usableField(answer))
            return answer;
        prompts().message(BadFieldMessage.arg(answer), {}, MessageIcon::Exclamation);
    }
}

bool TimeSignals::addTime(int selectedRow)
{
    const QString proposed =
        selectedRow >= 0 && selectedRow < m_times.size() ? m_times[selectedRow].time().left(5) : QString();
    const auto time = askTime(QStringLiteral("登録を行えます"), QStringLiteral("新規時報時間"), proposed);
    if (!time)
        return false;
    m_times.append(TimeItem::make(*time, askField(NoFile)));
    return true;
}

bool TimeSignals::changeTime(int row)
{
    if (row < 0 || row >= m_times.size())
        return false;
    const TimeItem old = m_times.at(row);
    const auto time = askTime(QStringLiteral("変更を行えます"), QStringLiteral("時報時間変更"), old.time().left(5));
    if (!time)
        return false;
    const QString field = askField(old.field());
    m_times.removeAt(row);
    m_times.append(TimeItem::make(*time, field));
    return true;
}

void TimeSignals::removeTime(int row)
{
    if (row >= 0 && row < m_times.size())
        m_times.removeAt(row);
}

void TimeSignals::saveTimes()
{
    const QString error = saveFile(signalTimesFile(m_paths), serializeTimeItems(m_times));
    if (!error.isEmpty())
        showError(QStringLiteral("zihotime.txt に書き込めません: ") + error);
}

std::unique_ptr<SignalInstallation> TimeSignals::newInstallation(const QStringList& files, InstallOptions options)
{
    return std::make_unique<SignalInstallation>(*this, files, options);
}

void TimeSignals::reloadInstalled()
{
    const auto file = loadSignalEntries(installedSignalsFile(m_paths));
    note(file.problem);
    if (file.readable)
        m_installed = file.items;
}

QList<TimeItem> TimeSignals::times() const
{
    return m_times;
}

std::optional<QString> TimeSignals::chooseVideo(const QString& field)
{
    if (!field.isEmpty() && field != NoFile) {
        if (!usableField(field)) {
            qCWarning(lcTimeSignal).noquote() << "not playing" << field << "outside src/";
            return std::nullopt;
        }
        if (QFileInfo(m_paths.video(field)).isFile())
            return field;
        qCWarning(lcTimeSignal).noquote() << "no video" << field << "in src/; playing an enabled one";
    }
    QList<QString> names;
    for (const SignalEntry& entry : std::as_const(m_enabled)) {
        if (entry.namesVideo())
            names << entry.number;
    }
    if (names.isEmpty())
        return std::nullopt;
    return names.at(QRandomGenerator::global()->bounded(int(names.size())));
}

// --- Installation -----------------------------------------------------------------------------

SignalInstallation::SignalInstallation(TimeSignals& settings, QStringList files, InstallOptions options)
    : m_signals(settings), m_log(settings.log()), m_files(std::move(files)), m_options(options)
{
}

bool SignalInstallation::begin()
{
    if (m_state != State::NotStarted || m_files.isEmpty())
        return false;
    LibraryPrompts& prompts = m_signals.prompts();
    if (!QFileInfo(m_signals.paths().srcDir()).isDir()) {
        stop(QStringLiteral("動画フォルダ %1 がありません").arg(m_signals.paths().srcDir()));
        return false;
    }
    m_log.addLine(StartProcessLine);
    if (m_options.autoNumbering) {
        QString answer = QStringLiteral("001001");
        for (;;) {
            answer =
                prompts.input(QStringLiteral("First Name No?\r\nnnnnnn"), QStringLiteral("InputFirstFileNo"), answer);
            if (answer.isEmpty()) {
                cancelled();
                return false;
            }
            if (const auto number = parseSignalNumber(answer)) {
                m_firstNumber = *number;
                break;
            }
            prompts.message(QStringLiteral("「%1」は時報の番号にできません。\r\n000001 から 999998 までの数字で"
                                           "入力してください。")
                                .arg(answer),
                            {}, MessageIcon::Exclamation);
        }
    }
    m_state = State::Running;
    return true;
}

std::optional<qint64> SignalInstallation::nextFreeNumber(qint64 from) const
{
    const QSet<qint64> used = m_signals.numbersInUse();
    for (qint64 number = from; number <= 999998; ++number) {
        if (!used.contains(number) && !QFileInfo::exists(m_signals.paths().video(sixDigits(number))))
            return number;
    }
    return std::nullopt;
}

void SignalInstallation::step()
{
    if (m_state != State::Running)
        return;
    if (m_cancelRequested) {
        m_log.addLine(CancelLine);
        m_state = State::Cancelled;
        return;
    }
    LibraryPrompts& prompts = m_signals.prompts();
    const AppPaths& paths = m_signals.paths();
    const int index = m_next;
    const QString source = m_files.at(index);
    const QString name = QFileInfo(source).fileName();

    if (const auto reason = unusableReason(source)) {
        m_log.addLine(QStringLiteral("--- Skip: %1 (%2) ---").arg(source, *reason));
    } else {
        qint64 number = 0;
        QString title = proposedTitle(name);
        if (m_options.autoNumbering) {
            // File i (from 1) takes the first number + i - 1, or the next number after it that no
            // video uses.
            const auto free = nextFreeNumber(m_firstNumber + index);
            if (!free) {
                stop(QStringLiteral("999998 までに空いている番号がないので、%1 はインストールできません").arg(name));
                return;
            }
            number = *free;
        } else {
            for (;;) {
                const QString numberAnswer = prompts.input(QStringLiteral("FileNo?\r\n") + source,
                                                           QStringLiteral("InputFileNo"), QStringLiteral("001000"));
                const QString titleAnswer = numberAnswer.isEmpty()
                                                ? QString()
                                                : prompts.input(QStringLiteral("FileTitle?\r\n") + source,
                                                                QStringLiteral("InputFileTitle"), title);
                if (numberAnswer.isEmpty() || titleAnswer.isEmpty()) {
                    cancelled();
                    return;
                }
                const auto typed = parseSignalNumber(numberAnswer);
                if (!typed) {
                    prompts.message(QStringLiteral("「%1」は時報の番号にできません。\r\n000001 から 999998 までの"
                                                   "数字で入力してください。")
                                        .arg(numberAnswer),
                                    {}, MessageIcon::Exclamation);
                    continue;
                }
                if (m_signals.numbersInUse().contains(*typed) || QFileInfo::exists(paths.video(sixDigits(*typed)))) {
                    prompts.message(QStringLiteral("src/%1 はほかの動画（曲、起動画面、時報）が使っています。\r\n"
                                                   "別の番号を入力してください。")
                                        .arg(sixDigits(*typed)),
                                    {}, MessageIcon::Exclamation);
                    continue;
                }
                number = *typed;
                title = titleAnswer;
                break;
            }
        }

        const SignalEntry entry = SignalEntry::make(number, title);
        const QString video = paths.video(entry.number);
        QString error = copyFileSafely(source, video);
        if (!error.isEmpty()) {
            m_log.addLine(QStringLiteral("--- Skip: %1 (コピーできません: %2) ---").arg(source, error));
        } else {
            const QString listPath = installedSignalsFile(paths);
            const auto list = loadSignalEntries(listPath);
            if (list.readable) {
                QList<SignalEntry> entries = list.items;
                entries.append(entry);
                error = saveFile(listPath, serializeSignalEntries(orderSignalEntries(entries)));
            } else {
                error = list.problem;
            }
            if (!error.isEmpty()) {
                QFile::remove(video);
                stop(QStringLiteral("ziholist.txt に書き込めません: ") + error);
                return;
            }
            ++m_installed;
            // A video of src/ itself may be another entry's; it stays.
            if (m_options.deleteSource && !inSourceFolder(paths, source) && !QFile::remove(source))
                m_log.addLine(QStringLiteral("--- Error: 元のファイルを削除できません: %1 ---").arg(source));
            m_log.addLine(entry.number + u'|' + entry.title());
            m_log.addLine(QStringLiteral("--- Finish:%1/%2 (%3MB) ---")
                              .arg(index + 1)
                              .arg(total())
                              .arg(megabytesText(QFileInfo(video).size())));
        }
    }
    ++m_next;
    if (m_next == total())
        finish();
}

void SignalInstallation::finish()
{
    m_log.addLine(QStringLiteral("--- Finish Process ---"));
    const auto list = loadSignalEntries(installedSignalsFile(m_signals.paths()));
    m_log.addLine(signalSummary(list.items.size(), signalVideoBytes(m_signals.paths(), list.items)));
    m_state = State::Finished;
}

void SignalInstallation::stop(const QString& message)
{
    m_signals.prompts().message(message, {}, MessageIcon::Exclamation);
    m_log.addLine(QStringLiteral("--- Stop: %1 ---").arg(message));
    m_state = State::Stopped;
}

void SignalInstallation::cancelled()
{
    m_signals.prompts().message(QStringLiteral("Cancel"));
    m_log.addLine(CancelLine);
    m_state = State::Cancelled;
}

} // namespace tarv
