#pragma once

#include "common/numbers.h"
#include "common/textfile.h"
#include "stage/stage.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace tarv::test {

// The command a code slot records, as these tests write commands: a code, a volume level (one
// character or "10") or else a number reserved for the user.
inline Command commandOf(const QString& slot, const QString& user = GuestUser.toString())
{
    if (std::optional<Command> coded = commandForCode(slot))
        return *coded;
    if (slot.size() == 1 || slot == u"10")
        return Cmd::Volume{leadingNumber(slot)};
    return Cmd::Reserve{SongNumber::fromText(slot), user};
}

// A stage window and its timers stand-in: records what the stage announces and runs the hide timer
// on the fake clock.
class RecordingView
{
public:
    RecordingView(Stage& stage, FakeClock& clock) : m_clock(clock)
    {
        QObject::connect(&stage, &Stage::visibilityChanged, [this](bool showing) { visible = showing; });
        QObject::connect(&stage, &Stage::hideCountRestarted, [this] {
            ++restarts;
            hideDue = m_clock.now().addMSecs(5000);
        });
        QObject::connect(&stage, &Stage::hideCountStarted, [this] {
            if (!hideDue)
                hideDue = m_clock.now().addMSecs(5000);
        });
        QObject::connect(&stage, &Stage::fadeStarted, [this] { fading = true; });
        QObject::connect(&stage, &Stage::statusChanged, [this] { ++statusChanges; });
    }

    bool visible = false;
    bool fading = false;
    int restarts = 0;
    int statusChanges = 0;
    std::optional<QDateTime> hideDue;

private:
    FakeClock& m_clock;
};

class StageTest : public ::testing::Test
{
protected:
    StageTest()
    {
        QDir(dir.path()).mkpath(QStringLiteral("db"));
        QDir(dir.path()).mkpath(QStringLiteral("web/cgi-bin/tarv"));
        QDir(dir.path()).mkpath(QStringLiteral("src"));
        // The videos are there (the fake players never read them).
        for (const char* name : {"000000", "100001", "100002", "100003"})
            QFile(video(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
        writeLines(QStringLiteral("db/path.txt"), {dir.filePath(QStringLiteral("web"))});
        writeSongs({QStringLiteral(" 100001 "), QStringLiteral("夜明けの歌"), QStringLiteral(" 100002 "),
                    QStringLiteral("海の声"), QStringLiteral(" 100003 "), QStringLiteral("星の道")});
    }

    void writeLines(const QString& relative, const QStringList& lines)
    {
        QFile file(dir.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(encodeTextLines(lines));
    }
    void writeSongs(const QStringList& lines) { writeLines(QStringLiteral("db/musiclist.txt"), lines); }

    // Post a command and let the event loop run the activation it schedules.
    void run(Command command)
    {
        stage.post(std::move(command));
        QCoreApplication::processEvents();
    }
    void run(const QString& slot, const QString& user = GuestUser.toString()) { run(commandOf(slot, user)); }

    // Moves the fake clock on, firing the hide timer when it falls due.
    void advanceMs(qint64 ms)
    {
        clock.advanceMs(ms);
        if (view.hideDue && clock.now() >= *view.hideDue) {
            view.hideDue.reset();
            stage.tmr_visible_Timer();
        }
    }

    QString queueFile() const { return dir.filePath(QStringLiteral("web/cgi-bin/tarv/tarvlist.txt")); }
    QByteArray queueFileBytes() const { return readFileBytes(queueFile(), 64 << 20).value_or(QByteArray("<missing>")); }
    QStringList queueFileLines() const { return readTextLines(queueFile(), 64 << 20).value_or(QStringList()); }
    QString video(const QString& name) const { return AppPaths(dir.path()).video(name); }

    QTemporaryDir dir;
    FakePlayer main;
    FakePlayer second;
    FakeClock clock;
    AppState state;
    Stage stage{main, second, state, AppPaths(dir.path()), clock};
    RecordingView view{stage, clock};
};

} // namespace tarv::test
