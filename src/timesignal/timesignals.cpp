#include "timesignal/timesignals.h"

#include "common/filetransaction.h"
#include "common/savefile.h"
#include "library/songlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>

namespace tarv {

Q_LOGGING_CATEGORY(lcTimeSignal, "tarv.timesignal")

namespace {

// Answers every question "cancel" or "no"; used while no window asks.
class NoPrompts : public OperatorPrompts
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

} // namespace

TimeSignals::TimeSignals(const AppPaths& paths, AppState& state) : m_paths(paths), m_state(state) {}

OperatorPrompts& TimeSignals::prompts()
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
    finishFileChanges(m_paths, &unfinished);
    note(unfinished);
    const Recovery recovery = recoverInterruptedInstallation(m_paths);
    for (const QString& line : recovery.done + recovery.refused)
        note(line);
    if (!recovery.error.isEmpty())
        note(QStringLiteral("中断されたインストールを片付けられません: %1").arg(recovery.error));
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
        // The same rule as the firing, so the log never says a time is silent when it plays.
        if (!usableField(item.playedField()))
            note(QStringLiteral("%1 の動画「%2」は src の外を指すので流しません").arg(item.time(), item.field()));
    }
    m_log.addLine(signalSummary(m_enabled.size(), bytes));
}

void TimeSignals::unload()
{
    m_state.setTimeSignalsOn(false);
    m_log = OperatorLog();
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
        saveFilesTogether(m_paths, {{JournalFile::InstalledSignals, serializeSignalEntries(m_installed)},
                                    {JournalFile::EnabledSignals, serializeSignalEntries(m_enabled)}});
    if (!error.isEmpty()) {
        showError(error);
        return;
    }
    m_savedEnabled = !m_enabled.isEmpty();
    m_log.addLine(signalSummary(m_enabled.size(), signalVideoBytes(m_paths, m_installed)) +
                  QStringLiteral("\r\n--- Saved ---"));
}

QStringList TimeSignals::sourceFiles() const
{
    return QDir(m_paths.srcDir()).entryList(QDir::Files, QDir::Name);
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
        if (!QFileInfo(m_paths.video(field)).isFile())
            qCWarning(lcTimeSignal).noquote() << "no video" << field << "in src/; playing an enabled one";
    }
    const QStringList names = videosFor(field);
    if (names.isEmpty()) {
        qCWarning(lcTimeSignal) << "no enabled time signal has its video in src/; none plays";
        return std::nullopt;
    }
    return names.at(QRandomGenerator::global()->bounded(int(names.size())));
}

QStringList TimeSignals::videosFor(const QString& field) const
{
    if (!field.isEmpty() && field != NoFile) {
        if (!usableField(field))
            return {};
        if (QFileInfo(m_paths.video(field)).isFile())
            return {field};
    }
    // Only an enabled entry with its video in src/: announcing a time signal and playing nothing
    // would only pause the song.
    QStringList names;
    for (const SignalEntry& entry : std::as_const(m_enabled)) {
        if (entry.namesVideo() && QFileInfo(m_paths.video(entry.number)).isFile())
            names << entry.number;
    }
    return names;
}

} // namespace tarv
