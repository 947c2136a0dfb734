// A key press on the keypad to the stage strip repainted with the new text, through the X server
// (XTest), with karaoke mode idle and while a video plays.
// Run under an X server: xvfb-run -a -s "-screen 0 1280x720x24" build/bench/keypress_bench
#include "common/appstate.h"
#include "common/clock.h"
#include "common/cp932.h"
#include "common/savefile.h"
#include "control/controlwindow.h"
#include "control/karaokesession.h"
#include "launcher/karaokemode.h"
#include "player/player.h"
#include "stage/stagewindow.h"
#include "support/testmedia.h"
#include "xkeys.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <vector>

namespace {

// Notes the moment the status line is painted with the text it waits for.
class PaintWatch : public QObject
{
public:
    QString expected;
    qint64 paintedAt = -1;
    QElapsedTimer* clock = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && paintedAt < 0 && static_cast<QLabel*>(watched)->text() == expected)
            paintedAt = clock->nsecsElapsed();
        return false;
    }
};

void tap(const char* name)
{
    bench::xKey(name, true);
    bench::xKey(name, false);
}

void report(const char* what, std::vector<double> ms)
{
    if (ms.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    std::printf("%-34s median %6.1f ms (%4.1f frames at 60 Hz)  p90 %6.1f ms  max %6.1f ms  n=%zu\n", what, at(0.5),
                at(0.5) / (1000.0 / 60), at(0.9), ms.back(), ms.size());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (!bench::openXKeys()) {
        std::fprintf(stderr, "needs an X server with XTest: xvfb-run -a build/bench/keypress_bench\n");
        return 2;
    }

    QTemporaryDir dir;
    const tarv::AppPaths paths(dir.path());
    QDir().mkpath(paths.srcDir());
    QDir().mkpath(paths.dbDir());
    tarv::saveFile(paths.songList(),
                   QByteArray(" 100001 \r\n") + tarv::encodeCp932(QStringLiteral("計測の歌")) + "\r\n");
    if (tarv::test::makeTestClip(paths.srcDir(), QStringLiteral("000000"), 1.0).isEmpty() ||
        tarv::test::makeTestClip(paths.srcDir(), QStringLiteral("100001"), 120.0, QStringLiteral("計測")).isEmpty())
        return 1;

    tarv::AppState state;
    tarv::SystemClock systemClock;
    tarv::KaraokeMode karaoke(paths, systemClock, state);
    karaoke.start();
    tarv::Stage& stage = karaoke.session()->stage();
    const QString idle = QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！");
    if (!QTest::qWaitFor([&] { return stage.statusText() == idle; }, 10000)) {
        std::fprintf(stderr, "karaoke mode did not reach the idle screen\n");
        return 1;
    }
    QTest::qWait(500);

    QElapsedTimer clock;
    clock.start();
    PaintWatch watch;
    watch.clock = &clock;
    auto* title = karaoke.stageWindow()->findChild<QLabel*>(QStringLiteral("lbl_title"));
    title->installEventFilter(&watch);

    // Volume steps alternate, so that every press changes the text.
    const auto measure = [&](int samples) {
        std::vector<double> ms;
        for (int i = 0; i < samples; ++i) {
            const int level = 5 + i % 2;
            tap(level == 5 ? "5" : "6");
            bench::xKey("Return", true);
            QTest::qWait(30);
            watch.expected = QStringLiteral("音量：%1%").arg(level * 10);
            watch.paintedAt = -1;
            const qint64 start = clock.nsecsElapsed();
            bench::xKey("Return", false); // the keypad acts when Enter is released
            if (QTest::qWaitFor([&] { return watch.paintedAt >= 0; }, 2000))
                ms.push_back(double(watch.paintedAt - start) / 1e6);
            QTest::qWait(120);
        }
        return ms;
    };

    report("key to strip repaint, idle", measure(30));

    for (const char* name : {"1", "0", "0", "0", "0", "1", "Return"})
        tap(name);
    if (!QTest::qWaitFor([&] { return karaoke.controlWindow()->mainPlayer().isPlaying(); }, 5000)) {
        std::fprintf(stderr, "the song did not start\n");
        return 1;
    }
    QTest::qWait(500);
    report("key to strip repaint, video plays", measure(30));
    bench::closeXKeys();
    return 0;
}
