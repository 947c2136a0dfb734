// Break music through real headless players whose sound is written out as PCM: what the room hears.
#include "common/clock.h"
#include "common/cp932.h"
#include "common/savefile.h"
#include "control/breakmusic.h"
#include "control/karaokesession.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "support/testmedia.h"
#include "support/wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace tarv;
using namespace Qt::StringLiterals;

namespace {

class IdleView : public KaraokeView
{
public:
    void focusCommandBox() override {}
    void setMainPlayerVisible(bool) override {}
    void setSecondPlayerVisible(bool) override {}
    void setGuestInviteVisible(bool) override {}
    void setIdlePictureVisible(bool visible) override { picture = visible; }
    bool picture = false;
};

// Whether the 16-bit samples of file from byte `from` on hold anything louder than a whisper;
// `from` moves on to the end of what was read. (The PCM output is written as fast as the player
// decodes, not at the pace of playback: a player that sounds fills it by megabytes.)
bool soundAfter(const QString& file, qint64& from)
{
    QFile pcm(file);
    if (!pcm.open(QIODevice::ReadOnly) || !pcm.seek(from & ~qint64(1)))
        return false;
    const QByteArray bytes = pcm.readAll();
    from = (from & ~qint64(1)) + bytes.size();
    const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
    return std::any_of(samples, samples + bytes.size() / 2, [](qint16 s) { return std::abs(s) > 300; });
}

} // namespace

// A library without an intro video and with bgm/: its idle screen shows the built-in picture, the
// music comes in within 3 s, and leaves the output within 300 ms of a song starting.
TEST(BreakMusicTest, FillsTheIdleScreenAndGivesWayToASong)
{
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    ASSERT_TRUE(QDir().mkpath(paths.srcDir()) && QDir().mkpath(paths.dbDir()) && QDir().mkpath(paths.file(u"bgm"_s)));
    ASSERT_FALSE(test::makeTestClip(paths.srcDir(), QStringLiteral("100001"), 3).isEmpty());
    ASSERT_TRUE(saveFile(paths.songList(), " 100001 \r\n" + encodeCp932(QStringLiteral("桜")) + "\r\n").isEmpty());
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"),
                                {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                 u"aevalsrc=0.9*sin(2*PI*660*t):d=30"_s, u"-y"_s, paths.file(u"bgm/tone.wav"_s)}),
              0);

    const auto player = [&](const char* name) {
        return std::make_unique<MpvPlayer>(MpvPlayer::Video::None, MpvPlayer::Sound::File,
                                           dir.filePath(QString::fromLatin1(name)));
    };
    SystemClock clock;
    AppState state;
    IdleView view;
    KaraokeSession session({player("main.pcm"), player("second.pcm"), player("music.pcm")}, state, paths, clock);
    session.setView(&view);
    session.start();

    ASSERT_TRUE(test::waitFor([&] { return session.stage().pendingCount() == -1; }, 5000));
    QElapsedTimer idle;
    idle.start();
    EXPECT_TRUE(view.picture);
    const QString music = dir.filePath(u"music.pcm"_s);
    qint64 musicRead = 0;
    ASSERT_TRUE(test::waitFor([&] { return soundAfter(music, musicRead); }, 4000));
    EXPECT_LT(idle.elapsed(), 3000);
    qint64 mainRead = 0;
    EXPECT_FALSE(soundAfter(dir.filePath(u"main.pcm"_s), mainRead)) << "the idle screen itself is silent";

    session.stage().post(Cmd::Reserve{SongNumber(100001), QStringLiteral("Guest")});
    ASSERT_TRUE(test::waitFor([&] { return session.players().main->isPlaying(); }, 3000));
    test::waitFor([] { return false; }, 300);
    EXPECT_FALSE(view.picture);
    musicRead = QFileInfo(music).size();
    test::waitFor([] { return false; }, 1000);
    EXPECT_FALSE(soundAfter(music, musicRead)) << "music still heard 300 ms into the song";
}

// At the room's volume 80 the music fades in to 48 over 2 s, however late the steps come; a cut
// pauses it at once and silences it; a fade-out ends paused.
TEST(BreakMusicTest, PlaysAtSixtyPercentOfTheRoomAndACutStopsIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(saveFile(dir.filePath(u"tone.wav"_s), "RIFF").isEmpty());
    test::FakePlayer player;
    test::FakeClock clock;
    clock.holdElapsed();
    BreakMusic music(player, dir.path(), clock);
    ASSERT_TRUE(music.hasMusic());

    music.setIdle(true, 80);
    EXPECT_TRUE(player.isPlaying());
    clock.advanceMs(1000);
    EXPECT_TRUE(test::waitFor([&] { return player.volume() == 24; }, 1000)) << player.volume();
    clock.advanceMs(5000);
    EXPECT_TRUE(test::waitFor([&] { return player.volume() == 48; }, 1000)) << player.volume();

    music.cut();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.volume(), 0);

    music.setIdle(true, 80);
    clock.advanceMs(2000);
    ASSERT_TRUE(test::waitFor([&] { return player.volume() == 48; }, 1000)) << player.volume();
    music.setIdle(false, 80);
    clock.advanceMs(500);
    EXPECT_TRUE(test::waitFor([&] { return player.volume() == 24; }, 1000)) << player.volume();
    clock.advanceMs(500);
    EXPECT_TRUE(test::waitFor([&] { return !player.isPlaying() && player.volume() == 0; }, 1000));
}
