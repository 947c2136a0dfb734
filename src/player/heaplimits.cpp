#include "player/heaplimits.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarv {

namespace {
// Blocks from this size up (a decoder's frames, the demuxer's larger packets, pictures) are mapped
// on their own and unmapped when freed, so they go back to the system with the file that used
// them; what is freed at the top of a heap beyond TrimThreshold goes back at once.
constexpr int MmapThreshold = 128 * 1024;
constexpr int TrimThreshold = 1024 * 1024;
constexpr int MaxArenas = 2;
constexpr int ReleaseDelayMs = 1500; // the next file has taken its frames by then

std::atomic<bool> s_releaseQueued{false};
} // namespace

void limitHeapGrowth()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, MaxArenas);
    mallopt(M_MMAP_THRESHOLD, MmapThreshold);
    mallopt(M_TRIM_THRESHOLD, TrimThreshold);
#endif
}

void releaseFreeHeap()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void releaseFreeHeapSoon()
{
    if (!QCoreApplication::instance() || s_releaseQueued.exchange(true))
        return;
    QTimer::singleShot(ReleaseDelayMs, QCoreApplication::instance(), [] {
        s_releaseQueued = false;
        // Off the interface thread: giving back a song's worth of holes takes tens of milliseconds.
        QThreadPool::globalInstance()->start([] { releaseFreeHeap(); });
    });
}

} // namespace tarv
