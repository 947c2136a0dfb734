// The allocator's limits, on the pattern of a song: threads that take blocks, leave small ones
// behind that live on, free the rest and end.
#include "player/heaplimits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARV_OWN_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARV_OWN_ALLOCATOR 1
#endif

namespace tarv {
namespace {

double residentMb()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

void* touched(std::size_t size)
{
    void* block = std::malloc(size);
    if (block)
        std::memset(block, 1, size);
    return block;
}

// Six threads at once each take their share of `total` in blocks of blockSize with a small block
// after each, free the large ones and end; the small ones live on (kept in `survivors`). Returns
// how much the resident size grew, in MB.
double growthAfterASong(std::size_t blockSize, std::size_t total, bool release, std::vector<void*>& survivors)
{
    constexpr int Threads = 6;
    const double before = residentMb();
    std::mutex lock;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&] {
            std::vector<void*> blocks;
            std::vector<void*> small;
            for (std::size_t taken = 0; taken < total / Threads; taken += blockSize) {
                blocks.push_back(touched(blockSize));
                small.push_back(touched(64));
            }
            for (void* block : blocks)
                std::free(block);
            const std::lock_guard<std::mutex> guard(lock);
            survivors.insert(survivors.end(), small.begin(), small.end());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    if (release)
        releaseFreeHeap();
    return residentMb() - before;
}

TEST(HeapLimits, WhatASongFreedGoesBackToTheSystem)
{
#if defined(TARV_OWN_ALLOCATOR) || !defined(__GLIBC__)
    GTEST_SKIP() << "not the GNU C library's allocator";
#endif
    limitHeapGrowth();
    // A full-screen picture taken and freed, as the window does at start: left alone, the allocator
    // would from now on keep blocks up to its size inside its heaps.
    std::free(touched(8 << 20));

    struct Row
    {
        const char* what;
        std::size_t blockSize;
        bool release;
    };
    const Row rows[] = {
        // Large blocks go back as they are freed, without being asked.
        {"a decoder's frames", 3 << 20, false},
        // Small ones leave holes between the blocks that live on, given back once asked.
        {"a demuxer's packets", 48 << 10, true},
    };
    // What stays is the pages the small survivors sit on (one 64-byte block per 48 kB pins a 4 kB
    // page: up to 16 MB of the 192), and nothing of the rest; an allocator that keeps what was freed
    // keeps about all of it.
    constexpr std::size_t Taken = std::size_t(192) << 20;
    constexpr double MostKeptMb = 24;
    std::vector<void*> survivors;
    for (const Row& row : rows) {
        const double growth = growthAfterASong(row.blockSize, Taken, row.release, survivors);
        EXPECT_LT(growth, MostKeptMb) << row.what << ": 192 MB taken and freed, " << growth << " MB kept";
    }
    for (void* block : survivors)
        std::free(block);
}

} // namespace
} // namespace tarv
