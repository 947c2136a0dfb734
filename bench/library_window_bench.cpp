// Prints how a big drop runs in the library window: total time, how often the event loop got to
// run in between (the progress dialog moving), and how long opening the window takes.
//   QT_QPA_PLATFORM=offscreen library_window_bench

#include "common/apppaths.h"
#include "library/librarywindow.h"
#include "library/songlist.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QInputDialog>
#include <QMimeData>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>

using namespace tarv;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const AppPaths paths(temp.path() + QStringLiteral("/app"));
    QDir().mkpath(paths.backupDir());
    QDir().mkpath(paths.srcDir());
    QDir().mkpath(temp.path() + QStringLiteral("/drop"));

    QList<Song> library;
    for (int i = 0; i < 10000; ++i)
        library << Song::fromTitle(100001 + i, QStringLiteral("夜明けの歌 その%1").arg(i));
    writeFile(paths.songList(), serializeSongList(library));
    QList<QUrl> urls;
    for (int i = 0; i < 1000; ++i) {
        const QString file = temp.path() + QStringLiteral("/drop/新曲%1.mp4").arg(i);
        writeFile(file, QByteArray(16 * 1024, 'n'));
        urls << QUrl::fromLocalFile(file);
    }

    test::FakeClock clock;
    test::FakePlayer preview;
    QElapsedTimer t;
    t.start();
    auto* window = new LibraryWindow(paths, clock, new QWidget, preview);
    window->show();
    std::printf("opening the window on a 10000-song list: %.0f ms\n", double(t.nsecsElapsed()) / 1e6);

    // Answer the first-number question; count event-loop turns and progress dialog sightings.
    int turns = 0;
    int progressSeen = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++turns;
        if (auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            input->setTextValue(QStringLiteral("100001"));
            input->accept();
        }
        if (auto* progress = window->findChild<QProgressDialog*>(); progress && progress->isVisible())
            ++progressSeen;
    });
    ticker.start(50);

    QEventLoop loop;
    QObject::connect(window, &LibraryWindow::dropFinished, &loop, &QEventLoop::quit);
    QMimeData data;
    data.setUrls(urls);
    t.restart();
    QTimer::singleShot(0, window, [&] { window->lbl_input_dd_OLEDragDrop(&data); });
    loop.exec();
    const double elapsed = double(t.nsecsElapsed()) / 1e6;
    std::printf("drop of 1000 files through the window: %.0f ms (%.1f ms per file); the 50 ms ticker ran %d times, "
                "%d of them with the progress dialog showing\n",
                elapsed, elapsed / 1000, turns, progressSeen);
    delete window;
    return 0;
}
