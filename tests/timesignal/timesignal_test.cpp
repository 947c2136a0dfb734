// The time-signal files, the settings' operations and the firing guard, without windows.
#include "common/filetransaction.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "launcher/startup.h"
#include "library/libraryfixture.h"
#include "support/killtest.h"
#include "timesignal/timesignals.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

class TimeSignalTest : public ::testing::Test
{
protected:
    TimeSignalTest()
    {
        lib.writeList({{100001, u"夜明け"_s}});
        for (const QString& name : {u"000000"_s, u"100001"_s})
            lib.writeVideo(name);
        settings.setPrompts(&prompts);
    }

    void write(const QString& path, const QStringList& lines) { lib.writeBytes(path, encodeLines(lines)); }
    static QByteArray encodeLines(const QStringList& lines)
    {
        QByteArray out;
        for (const QString& line : lines)
            out += encodeCp932(line) + "\r\n";
        return out;
    }
    QString installedPath() const { return installedSignalsFile(lib.paths); }
    QString enabledPath() const { return enabledSignalsFile(lib.paths); }
    QString timesPath() const { return signalTimesFile(lib.paths); }
    QStringList display(const QList<SignalEntry>& entries) const
    {
        QStringList out;
        for (const SignalEntry& e : entries)
            out << e.displayText();
        return out;
    }
    QStringList display(const QList<TimeItem>& items) const
    {
        QStringList out;
        for (const TimeItem& i : items)
            out << i.displayText();
        return out;
    }
    void install(const QStringList& files, InstallOptions options = {})
    {
        auto installation = settings.newInstallation(files, options);
        if (installation->begin())
            while (installation->running())
                installation->step();
    }

    TempLibrary lib;
    AppState state;
    ScriptedPrompts prompts;
    TimeSignals settings{lib.paths, state};
};

TEST_F(TimeSignalTest, FilesRoundTripByteForByteWithNumbersAsSixDigits)
{
    const QByteArray enabled = encodeLines({u"001001"_s, u"時報 | 正午"_s, u"001002"_s, u"髙橋～①"_s});
    lib.writeBytes(enabledPath(), enabled);
    write(installedPath(), {u"7"_s, u"seven"_s});
    const QByteArray times = encodeLines({u"07:30"_s, u"nofile"_s, u"12:00"_s, u"001002"_s});
    lib.writeBytes(timesPath(), times);

    settings.load();
    EXPECT_EQ(display(settings.installed()), QStringList{u"000007 | seven"_s});
    EXPECT_EQ(display(settings.enabled()), (QStringList{u"001001 | 時報 | 正午"_s, u"001002 | 髙橋～①"_s}));
    EXPECT_EQ(display(settings.timeList()), (QStringList{u"07:30 | nofile"_s, u"12:00 | 001002"_s}));

    settings.saveEntries();
    settings.saveTimes();
    EXPECT_EQ(lib.readBytes(enabledPath()), enabled);
    EXPECT_EQ(lib.readBytes(installedPath()), encodeLines({u"000007"_s, u"seven"_s}));
    EXPECT_EQ(lib.readBytes(timesPath()), times);
}

TEST_F(TimeSignalTest, ANumberLineThatIsNoNumberIsWrittenBackByteForByte)
{
    // Bytes without a CP932 form, and digits too many for any number.
    const QByteArray odd = "\x80\xA0\xFD 1e5", huge = "99999999999999999999";
    lib.writeBytes(installedPath(), odd + "\r\na\r\n" + huge + "\r\nb\r\n");
    settings.load();
    settings.enable(0);
    settings.saveEntries();
    EXPECT_EQ(lib.readBytes(installedPath()), huge + "\r\nb\r\n");
    EXPECT_EQ(lib.readBytes(enabledPath()), odd + "\r\na\r\n");
}

TEST_F(TimeSignalTest, MissingFilesAndAnOddLineAreReadAndNamedInTheLog)
{
    write(enabledPath(), {u"001001"_s, u"a"_s, u"001002"_s}); // the last title is missing
    settings.load();
    EXPECT_EQ(display(settings.enabled()), (QStringList{u"001001 | a"_s, u"001002 | "_s}));
    EXPECT_TRUE(settings.installed().isEmpty());
    const QString log = settings.log().text();
    EXPECT_TRUE(log.contains(u"ziholist.txt がない"_s)) << log.toStdString();
    EXPECT_TRUE(log.contains(u"zihotrue.txt の最後の行"_s));
    EXPECT_TRUE(log.contains(u"src に動画がありません: 001001, 001002"_s));
}

// A lone time line at the end of the times file fires (an enabled video at random), and the log
// says nothing else: a path outside src/ is the one field said not to play.
TEST_F(TimeSignalTest, TheLogAndTheFiringAgreeOnEachTime)
{
    write(timesPath(), {u"11:00"_s, u"../000000"_s, u"12:00"_s});
    settings.load();
    const QString log = settings.log().text();
    EXPECT_TRUE(log.contains(u"11:00 の動画「../000000」は src の外を指すので流しません"_s)) << log.toStdString();
    EXPECT_FALSE(log.contains(u"12:00 の動画"_s)) << log.toStdString();
    FiringGuard guard;
    EXPECT_FALSE(guard.due(QDateTime(QDate(2026, 12, 9), QTime(11, 0)), settings.times()).has_value());
    EXPECT_TRUE(guard.due(QDateTime(QDate(2026, 12, 9), QTime(12, 0)), settings.times()).has_value());
}

TEST_F(TimeSignalTest, SummaryLineCountsDifferentThingsForEachWriter)
{
    write(installedPath(), {u"001001"_s, u"a"_s});
    write(enabledPath(), {u"001002"_s, u"b"_s, u"001003"_s, u"c"_s});
    lib.writeVideo(u"001001"_s, 1024 * 1024);
    lib.writeVideo(u"001002"_s, 512 * 1024);
    lib.writeVideo(u"001003"_s, 200 * 1024);

    settings.load(); // N: enabled records; M: both files' videos (1.67 MB)
    EXPECT_EQ(logLines(settings.log()).mid(0, 2),
              (QStringList{u"--- All files:2Count (1.6MB) ---"_s, u"File(s) Drop Here!"_s}));

    settings.enable(0);     // 001001 joins the enabled list
    settings.saveEntries(); // N: enabled items; M: the installed list's videos (none left)
    EXPECT_EQ(logLines(settings.log()).mid(0, 3),
              (QStringList{u"--- All files:3Count (0MB) ---"_s, u"File(s) Drop Here!"_s, u"--- Saved ---"_s}));

    prompts.answers = {u"001001"_s};
    install({lib.makeSource(u"new.mp4"_s, 300 * 1024)}); // N, M: the installed file after the drop
    EXPECT_EQ(logLines(settings.log()).mid(0, 3), (QStringList{u"--- All files:1Count (0.2MB) ---"_s,
                                                               u"File(s) Drop Here!"_s, u"--- Finish Process ---"_s}));
}

TEST_F(TimeSignalTest, InstallationNumbersFilesAndNeverReplacesAVideoInUse)
{
    write(installedPath(), {});
    lib.writeVideo(u"001002"_s); // a stray video nobody lists
    write(enabledPath(), {u"001004"_s, u"used"_s});
    prompts.answers = {u"001001"_s};
    const QStringList files = {lib.makeSource(u"a.mp4"_s), lib.makeSource(u"clip.mpeg"_s), lib.makeSource(u"c.avi"_s)};
    install(files);
    EXPECT_EQ(prompts.questions.at(0).defaultAnswer, u"001001"_s);
    EXPECT_EQ(display(loadSignalEntries(installedPath()).items),
              (QStringList{u"001001 | a"_s, u"001003 | clip."_s, u"001005 | c"_s}));
    EXPECT_EQ(lib.readBytes(lib.paths.video(u"001003"_s)).left(9), "clip.mpeg");
    EXPECT_FALSE(QFile::exists(files[0])); // SauceDelete
    EXPECT_EQ(lib.readBytes(lib.paths.video(u"001002"_s)), QByteArray(1000, 'v'));

    // Typed numbers: the intro, a song, 999999 and text are refused, and asked again.
    const QString d = lib.makeSource(u"d.mp4"_s);
    prompts.answers = {u"000000"_s, u"d"_s,   u"100001"_s, u"d"_s,    u"999999"_s,
                       u"d"_s,      u"abc"_s, u"d"_s,      u"2001"_s, u"d"_s};
    install({d}, {false, false});
    EXPECT_EQ(prompts.messages.size(), 4);
    EXPECT_TRUE(prompts.messages.at(0).contains(u"時報の番号にできません"_s));
    EXPECT_TRUE(prompts.messages.at(1).contains(u"src/100001 はほかの動画"_s));
    EXPECT_EQ(lib.readBytes(lib.paths.video(u"100001"_s)), QByteArray(1000, 'v'));
    EXPECT_EQ(display(loadSignalEntries(installedPath()).items).last(), u"002001 | d"_s);
    EXPECT_TRUE(QFile::exists(d));

    // An unreadable drop is skipped and said in the log; a cancel keeps what was installed.
    prompts.answers = {u"003001"_s, u"e"_s};
    install({lib.dropDir() + u"/gone.mp4"_s, lib.makeSource(u"e.mp4"_s), lib.makeSource(u"f.mp4"_s)}, {false, true});
    EXPECT_EQ(logLines(settings.log()).at(0), u"--- Cancel ---"_s);
    EXPECT_TRUE(settings.log().text().contains(u"gone.mp4 (ファイルがありません)"_s));
    EXPECT_EQ(display(loadSignalEntries(installedPath()).items).last(), u"003001 | e"_s);
}

TEST_F(TimeSignalTest, DeletionRemovesTheRecordAndOnlyAnUnusedVideo)
{
    write(installedPath(), {u"001001"_s, u"a"_s, u"100001"_s, u"a song's video"_s, u"001003"_s, u"gone"_s});
    write(enabledPath(), {u"001002"_s, u"b"_s});
    lib.writeVideo(u"001001"_s);
    lib.writeVideo(u"001002"_s);
    settings.load();

    prompts.confirmations = {false, true, true, true, true};
    EXPECT_FALSE(settings.deleteEntry(TimeSignals::Side::Installed, 0)); // No
    EXPECT_TRUE(QFile::exists(lib.paths.video(u"001001"_s)));
    EXPECT_TRUE(settings.deleteEntry(TimeSignals::Side::Installed, 0));
    EXPECT_FALSE(QFile::exists(lib.paths.video(u"001001"_s)));
    EXPECT_TRUE(settings.deleteEntry(TimeSignals::Side::Installed, 0)); // 100001: a song plays it
    EXPECT_TRUE(QFile::exists(lib.paths.video(u"100001"_s)));
    EXPECT_TRUE(settings.deleteEntry(TimeSignals::Side::Installed, 0)); // its video was missing already
    EXPECT_TRUE(settings.installed().isEmpty());
    EXPECT_EQ(lib.readBytes(installedPath()), QByteArray());
    EXPECT_TRUE(settings.log().text().contains(u"src/001003 はもうありません"_s));

    EXPECT_TRUE(settings.deleteEntry(TimeSignals::Side::Enabled, 0));
    EXPECT_FALSE(QFile::exists(lib.paths.video(u"001002"_s)));
    EXPECT_FALSE(settings.savedEnabled());
}

TEST_F(TimeSignalTest, TimesAreAskedUntilTheyAreATimeOfDayAndFieldsStayInSrc)
{
    prompts.answers = {u"7:30"_s,      u""_s,                  // 07:30, nofile
                       u"24:00"_s,     u"12:5"_s,  u"12:05"_s, // two refusals, then a time
                       u"../secret"_s, u"C:\\x"_s, u"http://h/v"_s, u"001001"_s};
    EXPECT_TRUE(settings.addTime(-1));
    EXPECT_TRUE(settings.addTime(0));
    EXPECT_EQ(prompts.questions.at(2).defaultAnswer, u"07:30"_s);
    EXPECT_EQ(display(settings.timeList()), (QStringList{u"07:30 | nofile"_s, u"12:05 | 001001"_s}));
    EXPECT_EQ(prompts.messages.size(), 5);

    prompts.answers = {u"8:00"_s, u""_s};
    EXPECT_TRUE(settings.changeTime(0));
    EXPECT_EQ(display(settings.timeList()), (QStringList{u"12:05 | 001001"_s, u"08:00 | nofile"_s}));
    EXPECT_FALSE(settings.changeTime(0)); // cancelled: no change
    settings.saveTimes();
    EXPECT_EQ(lib.readBytes(timesPath()), encodeLines({u"12:05"_s, u"001001"_s, u"08:00"_s, u"nofile"_s}));
}

// The fired items' moments and fields over two days, ticking every 500 ms from 11:59:50 to 12:02.
QStringList firedOverTwoDays(const QList<TimeItem>& items)
{
    FiringGuard guard;
    QStringList fired;
    for (const QDate day : {QDate(2026, 3, 14), QDate(2026, 3, 15)}) {
        for (QDateTime t(day, QTime(11, 59, 50)); t < QDateTime(day, QTime(12, 2)); t = t.addMSecs(500)) {
            if (const auto item = guard.due(t, items))
                fired << t.toString(u"d HH:mm:ss.zzz"_s) + u' ' + item->field();
        }
    }
    return fired;
}

TEST(FiringGuard, EachConfiguredMinuteFiresOnceADay)
{
    // A path field is passed over, the same minute twice fires once, a time of another form never.
    const QList<TimeItem> items = {TimeItem::make(u"12:00"_s, u"../x"_s), TimeItem::make(u"12:00"_s, u"001001"_s),
                                   TimeItem::make(u"12:00"_s, u"nofile"_s), TimeItem::make(u"12:01"_s, u"nofile"_s),
                                   TimeItem::make(u"7:30 "_s, u"ofile"_s)};
    EXPECT_EQ(firedOverTwoDays(items), (QStringList{u"14 12:00:00.000 001001"_s, u"14 12:01:00.000 nofile"_s,
                                                    u"15 12:00:00.000 001001"_s, u"15 12:01:00.000 nofile"_s}));
    // One time alone fires again the next day.
    EXPECT_EQ(firedOverTwoDays({TimeItem::make(u"12:00"_s, u"nofile"_s)}),
              (QStringList{u"14 12:00:00.000 nofile"_s, u"15 12:00:00.000 nofile"_s}));
}

TEST(FiringGuard, TheItemsAheadAreThoseThatWillFire)
{
    const QList<TimeItem> items = {TimeItem::make(u"12:01"_s, u"nofile"_s), TimeItem::make(u"12:00"_s, u"../x"_s),
                                   TimeItem::make(u"12:00"_s, u"001001"_s), TimeItem::make(u"12:00"_s, u"nofile"_s),
                                   TimeItem::make(u"7:30 "_s, u"ofile"_s),  TimeItem::make(u"11:00"_s, u"001002"_s)};
    const auto ahead = [&](const FiringGuard& guard, QTime at) {
        QStringList out;
        for (const Firing& firing : guard.ahead(QDateTime(QDate(2026, 3, 14), at), items))
            out << QString::number(firing.in) + u' ' + firing.item.field();
        return out;
    };
    FiringGuard guard;
    EXPECT_EQ(ahead(guard, QTime(11, 59, 30)), (QStringList{u"30 001001"_s, u"90 nofile"_s, u"82830 001002"_s}));
    // The minute now fires at once until it has fired, then tomorrow.
    EXPECT_EQ(ahead(guard, QTime(12, 0, 10)), (QStringList{u"0 001001"_s, u"50 nofile"_s, u"82790 001002"_s}));
    ASSERT_TRUE(guard.due(QDateTime(QDate(2026, 3, 14), QTime(12, 0, 10)), items));
    EXPECT_EQ(ahead(guard, QTime(12, 0, 10)), (QStringList{u"50 nofile"_s, u"82790 001002"_s, u"86390 001001"_s}));
}

TEST_F(TimeSignalTest, ChoosingTheVideo)
{
    // Only enabled entries whose video is in src/ are chosen: not names or paths, not a missing video.
    write(enabledPath(), {u"001001"_s, u"a"_s, u"001002"_s, u"b"_s, u"001003"_s, u"c"_s, u"abc"_s, u"d"_s,
                          u"../000000"_s, u"e"_s, u"nofile"_s, u"f"_s});
    for (const QString& video : {u"001001"_s, u"001002"_s, u"001009"_s, u"000000"_s})
        lib.writeVideo(video);
    settings.load();
    QSet<QString> chosen;
    for (int i = 0; i < 200; ++i)
        chosen.insert(settings.chooseVideo(NoFile).value_or(u"none"_s));
    EXPECT_EQ(chosen, (QSet<QString>{u"001001"_s, u"001002"_s}));
    EXPECT_EQ(settings.chooseVideo(u"001009"_s), u"001009"_s);
    EXPECT_EQ(settings.videosFor(NoFile), (QStringList{u"001001"_s, u"001002"_s}));
    EXPECT_EQ(settings.videosFor(u"001009"_s), QStringList{u"001009"_s});
    EXPECT_TRUE(settings.chooseVideo(u"001099"_s).has_value()); // missing: an enabled one instead
    EXPECT_NE(settings.chooseVideo(u"001099"_s), u"001099"_s);
    EXPECT_EQ(settings.chooseVideo(u"../000000"_s), std::nullopt);
    EXPECT_EQ(settings.chooseVideo(u"/etc/passwd"_s), std::nullopt);
    // With no enabled video left in src/, nothing fires.
    for (const QString& video : {u"001001"_s, u"001002"_s})
        QFile::remove(lib.paths.video(video));
    EXPECT_EQ(settings.chooseVideo(NoFile), std::nullopt);
}

} // namespace

// A save killed at a random moment (before, between or inside the writes of the two lists): after the
// start's recovery every entry is in exactly one list, and both lists read cleanly.
TEST(TimeSignalCrashTest, AKilledSaveLeavesEveryEntryInExactlyOneList)
{
    TempLibrary lib;
    QStringList numbers, lines;
    for (int i = 1; i <= 30; ++i) {
        numbers << sixDigits(1000 + i);
        lines << numbers.constLast() << u"時報%1"_s.arg(i);
        lib.writeVideo(numbers.constLast());
    }
    TempLibrary::writeBytes(installedSignalsFile(lib.paths), encodeTextLines(lines));
    TempLibrary::writeBytes(enabledSignalsFile(lib.paths), {});
    TempLibrary::writeBytes(signalTimesFile(lib.paths), {});

    QRandomGenerator random(QRandomGenerator::global()->generate());
    int unfinished = 0;
    for (int round = 0; round < 30; ++round) {
        const quint32 seed = random.generate();
        runAndKill(
            [&] {
                AppState state;
                TimeSignals moving(lib.paths, state);
                moving.load();
                QRandomGenerator moves(seed);
                for (;;) {
                    if (moves.bounded(2) == 0)
                        moving.enable(int(moves.bounded(std::max<qsizetype>(1, moving.installed().size()))));
                    else
                        moving.disable(int(moves.bounded(std::max<qsizetype>(1, moving.enabled().size()))));
                    moving.saveEntries();
                }
            },
            1000, 150000);

        unfinished += QFileInfo::exists(changeJournal(lib.paths));
        EXPECT_EQ(finishInterruptedSaves(lib.paths), QString());
        QStringList listed;
        for (const QString& path : {installedSignalsFile(lib.paths), enabledSignalsFile(lib.paths)}) {
            const auto file = loadSignalEntries(path);
            EXPECT_EQ(file.problem, QString());
            for (const SignalEntry& entry : file.items)
                listed << entry.number;
        }
        listed.sort();
        EXPECT_EQ(listed, numbers) << "round " << round;
    }
    RecordProperty("unfinishedSaves", unfinished);
}

// An installation killed at a random moment (inside copies, list writes, notes and source
// deletions): after the start's recovery every video of src/ but the intro and the song is listed
// in ziholist.txt, every entry has its video, and every dropped video is in the drop folder or listed.
TEST(TimeSignalCrashTest, AKilledInstallationLosesNoVideoAndListsEveryCopy)
{
    for (int round = 0; round < 4; ++round) {
        TempLibrary lib;
        lib.writeList({{100001, u"曲"_s}});
        lib.writeVideo(u"000000"_s);
        lib.writeVideo(u"100001"_s);
        TempLibrary::writeBytes(installedSignalsFile(lib.paths), {});
        QStringList files;
        for (int i = 0; i < 150; ++i)
            files << lib.makeSource(u"時報%1.mp4"_s.arg(i), 64 * 1024);

        runAndKill(
            [&] {
                AppState state;
                ScriptedPrompts prompts;
                prompts.answers = {u"001001"_s};
                TimeSignals settings(lib.paths, state);
                settings.setPrompts(&prompts);
                auto installation = settings.newInstallation(files, {});
                if (installation->begin())
                    while (installation->running())
                        installation->step();
            },
            20000, 1500000);

        EXPECT_TRUE(recoverInterruptedInstallation(lib.paths).error.isEmpty());
        QStringList listed;
        QSet<QByteArray> listedVideos;
        for (const SignalEntry& entry : loadSignalEntries(installedSignalsFile(lib.paths)).items) {
            listed << entry.number;
            listedVideos << TempLibrary::readBytes(lib.paths.video(entry.number));
        }
        QStringList videos = QDir(lib.paths.srcDir()).entryList(QDir::Files, QDir::Name);
        videos.removeIf(isSaveTemporaryName);
        EXPECT_EQ(videos, QStringList{u"000000"_s} + listed + QStringList{u"100001"_s}) << "round " << round;
        EXPECT_FALSE(QFileInfo::exists(pendingSignalCopiesFile(lib.paths)));
        for (int i = 0; i < files.size(); ++i) {
            QByteArray content = u"時報%1.mp4"_s.arg(i).toUtf8(); // as makeSource() writes it
            content += QByteArray(64 * 1024 - content.size(), 'x');
            EXPECT_TRUE(QFileInfo::exists(files.at(i)) || listedVideos.contains(content))
                << "round " << round << ": video " << i << " lost";
        }
    }
}
