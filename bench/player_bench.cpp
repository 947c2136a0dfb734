// Start-up figures of the libmpv player, headless (no video output, no audio device).
// Prints the median, lowest and highest of 20 runs of each step; nothing is asserted.
#include "player/mpvplayer.h"
#include "support/testmedia.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Runs = 20;

// Runs the event loop until the condition holds; false after 5 s.
bool waitFor(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    QTimer guard; // wakes the loop now and then, so the deadline is seen
    guard.start(50);
    while (!condition()) {
        if (clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void report(const char* what, std::vector<double> ms)
{
    if (ms.empty()) {
        std::printf("%-58s  no result\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("%-58s  median %8.3f ms   min %8.3f   max %8.3f   (%zu runs)\n", what, median, ms.front(), ms.back(),
                ms.size());
}

double since(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    QTemporaryDir dir;
    const QString first = tarv::test::makeTestClip(dir.path(), QStringLiteral("100001"), 3);
    const QString second = tarv::test::makeTestClip(dir.path(), QStringLiteral("100002"), 3);
    if (first.isEmpty() || second.isEmpty())
        return 1;

    std::vector<double> create, toPlaying, toLoaded, toMoving, replace, stateRead, positionRead;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        tarv::MpvPlayer player;
        create.push_back(since(clock));

        bool loaded = false;
        QObject::connect(&player, &tarv::MpvPlayer::fileLoaded, [&] { loaded = true; });

        clock.restart();
        player.setMediaPath(first);
        player.play();
        if (player.playState() == tarv::PlayState::Playing)
            toPlaying.push_back(since(clock));
        bool ok = waitFor([&] { return loaded; });
        if (ok)
            toLoaded.push_back(since(clock));
        ok = ok && waitFor([&] { return player.position() > 0; });
        if (ok)
            toMoving.push_back(since(clock));

        // Replace the playing file the way the stage starts the next song.
        waitFor([&] { return player.position() > 0.3; });
        clock.restart();
        player.stop();
        player.setMediaPath(second);
        player.play();
        if (waitFor([&] { return player.position() > 0; }))
            replace.push_back(since(clock));

        // Reads are answered from kept state.
        constexpr int Reads = 100000;
        int sink = 0;
        clock.restart();
        for (int i = 0; i < Reads; ++i)
            sink += int(player.playState());
        stateRead.push_back(since(clock) * 1e6 / Reads);
        double sum = 0;
        clock.restart();
        for (int i = 0; i < Reads; ++i)
            sum += player.position();
        positionRead.push_back(since(clock) * 1e6 / Reads);
        if (sink == 42 && sum < 0)
            std::printf("unreachable\n");
    }

    std::printf("libmpv player, headless, 3 s H.264/AAC clips, %d runs each\n", Runs);
    report("create a player (mpv_create + initialize)", create);
    report("setMediaPath + play -> playState() == 4", toPlaying);
    report("setMediaPath + play -> file opened (fileLoaded)", toLoaded);
    report("setMediaPath + play -> first position > 0 (time-pos)", toMoving);
    report("playing: stop + setMediaPath + play -> new position > 0", replace);
    std::printf("%-58s  median %8.1f ns per call\n", "playState() read", [&] {
        std::sort(stateRead.begin(), stateRead.end());
        return stateRead[stateRead.size() / 2];
    }());
    std::printf("%-58s  median %8.1f ns per call\n", "position() read", [&] {
        std::sort(positionRead.begin(), positionRead.end());
        return positionRead[positionRead.size() / 2];
    }());
    return 0;
}
