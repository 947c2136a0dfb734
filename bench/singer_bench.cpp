// The cost of the singer's key on this machine, headless: the CPU time the key filter adds to a
// 48 kHz stereo song, in percent of one core at real-time playback, and how far into the song (in
// media time) a key change is first heard. Prints figures; nothing is asserted.
#include "player/mpvplayer.h"
#include "support/testsound.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <functional>
#include <utility>
#include <vector>

using namespace tarv;
using namespace tarv::test;

namespace {

constexpr double SongSeconds = 60;
constexpr int Runs = 5;

// Runs the event loop until the condition holds; false after 60 s.
bool waitFor(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    QTimer guard; // wakes the loop now and then, so the deadline is seen
    guard.start(10);
    while (!condition()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// CPU seconds to play the song through at a key (as fast as it decodes).
double cpuToPlay(const QString& song, const QString& wav, int key)
{
    const double before = processCpuSeconds();
    {
        MpvPlayer player(MpvPlayer::Video::None, MpvPlayer::Sound::WavFile, wav);
        player.setMediaPath(song);
        player.setKey(key);
        player.play();
        if (!waitFor([&] { return player.playState() == PlayState::Ended; }))
            return -1;
    }
    return processCpuSeconds() - before;
}

// Media seconds from a key change (made while paused at 5 s) to its first sound.
double changeHeardAfter(const QString& song, const QString& wav, int from, int to)
{
    double changedAt = -1;
    {
        MpvPlayer player(MpvPlayer::Video::None, MpvPlayer::Sound::WavFile, wav);
        player.setMediaPath(song);
        player.setKey(from);
        player.play();
        if (!waitFor([&] { return player.position() >= 5; }))
            return -1;
        player.pause();
        double last = -1;
        waitFor([&] { return std::exchange(last, player.position()) == player.position(); });
        changedAt = player.position();
        player.setKey(to);
        player.play();
        if (!waitFor([&] { return player.playState() == PlayState::Ended; }))
            return -1;
    }
    const double heard = firstMomentAt(readLeftChannel(wav), semitones(440, to), 1);
    return heard < 0 ? -1 : heard - changedAt;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    QTemporaryDir dir;
    const QString song = makeSoundClip(dir.path(), QStringLiteral("100001"), SongSeconds, {tone(440)});
    if (song.isEmpty()) {
        std::fprintf(stderr, "ffmpeg could not make the song\n");
        return 1;
    }
    const QString wav = QDir(dir.path()).filePath(QStringLiteral("out.wav"));

    std::vector<double> plain;
    std::vector<double> keyed;
    for (int run = 0; run < Runs; ++run) {
        plain.push_back(cpuToPlay(song, wav, 0));
        keyed.push_back(cpuToPlay(song, wav, 2));
    }
    const double cost = (median(keyed) - median(plain)) / SongSeconds * 100;
    std::printf("key filter, 48 kHz stereo (%.0f s song, median of %d runs)\n", SongSeconds, Runs);
    std::printf("  original key   %7.3f s CPU\n", median(plain));
    std::printf("  key +2         %7.3f s CPU\n", median(keyed));
    std::printf("  cost           %7.2f %% of one core\n", cost);

    std::printf("key change, media time from the change to its sound (median of %d runs)\n", Runs);
    for (const auto& [from, to] : {std::pair{0, 2}, std::pair{2, 4}}) {
        std::vector<double> latency;
        for (int run = 0; run < Runs; ++run)
            latency.push_back(changeHeardAfter(song, wav, from, to) * 1000);
        std::printf("  %+d -> %+d %s  %7.1f ms   (min %.1f, max %.1f)\n", from, to,
                    from == 0 ? "(filter added) " : "(retuned live) ", median(latency),
                    *std::min_element(latency.begin(), latency.end()),
                    *std::max_element(latency.begin(), latency.end()));
    }
    return 0;
}
