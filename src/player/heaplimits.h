#pragma once

namespace tarv {

// The C library's allocator, kept from growing while videos play one after another.
//
// Every mpv core runs threads of its own: the core, the demuxer, the decoder's frame threads, the
// video output, and audio outputs that are probed anew with each file. By default a thread that
// allocates while another does gets an arena of its own, up to eight per processor core, and each
// arena keeps what was freed in it. Once a large block has been freed (a full-screen picture is
// 8 MB), the allocator also raises the size from which blocks are mapped on their own to that
// block's, and the free space a heap may keep at its top to twice that. Each song frees its
// decoder's frames on one thread and the next song takes new ones on another, so the arenas fill
// up one after another and hold on to what they once held.

// At most two arenas and fixed thresholds. Called once at the start of main(), before any thread
// starts; does nothing except on the GNU C library.
void limitHeapGrowth();

// Gives the system back the free pages inside the heaps: a closed file leaves holes between the
// blocks that live on. Takes about 10 ms, and 0.5 ms more for each MB it gives back; does nothing
// except on the GNU C library.
void releaseFreeHeap();

// releaseFreeHeap() on a worker thread, a moment from now, once for any number of calls in between:
// a player calls it whenever it has closed a file. Needs a running application event loop.
void releaseFreeHeapSoon();

} // namespace tarv
