#include "common/Allocator.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zorvo {

namespace {

// One arena holds at most the memory the program uses at once. The threads allocate little
// (FFmpeg pools its pictures, a capture reuses its frames, small blocks come from per-thread
// caches), so they hardly wait for it; two arenas let the peak grow by a tenth over a long
// render (see bench/README.md).
constexpr int kArenas = 1;
// Blocks of this size and more (pictures, frames) come from mmap and go back to the system when
// freed. By default the threshold rises to the largest block freed so far, after which full HD
// frames of 6 MB come from the heap, whose free gaps the render's peak kept (about 16 MiB of the
// 60 s full HD render's, for 0.5 % more CPU time: see bench/README.md).
constexpr int kMmapThreshold = 1 << 20;
// A storyboard's: its frames and pictures fit, and the sheet too (the most glibc allows); freed
// memory stays in the heap up to the run's own size.
constexpr int kStillsMmapThreshold = 32 << 20;
constexpr int kStillsTrimThreshold = 512 << 20;
// What the heap grows by at once in a storyboard, marked for transparent huge pages: a page
// fault costs about as much for 4 KiB as for 2 MiB, and a run faults in over 100 MiB of fresh
// frames and pictures. Address space only until the run touches it.
constexpr std::size_t kStillsHeapBytes = std::size_t{256} << 20;
constexpr std::uintptr_t kHugePageBytes = std::uintptr_t{2} << 20;

#if defined(__GLIBC__)
// A setting the user gave in the environment wins over the program's own.
void SetUnlessGiven(const char* variable, int parameter, int value) {
    if (std::getenv(variable) == nullptr) {
        mallopt(parameter, value);
    }
}
#endif

}  // namespace

void LimitAllocatorArenas() {
#if defined(__GLIBC__)
    SetUnlessGiven("MALLOC_ARENA_MAX", M_ARENA_MAX, kArenas);
    SetUnlessGiven("MALLOC_MMAP_THRESHOLD_", M_MMAP_THRESHOLD, kMmapThreshold);
#endif
}

void KeepFreedFrames() {
#if defined(__GLIBC__)
    SetUnlessGiven("MALLOC_MMAP_THRESHOLD_", M_MMAP_THRESHOLD, kStillsMmapThreshold);
    SetUnlessGiven("MALLOC_TRIM_THRESHOLD_", M_TRIM_THRESHOLD, kStillsTrimThreshold);
#if defined(MADV_HUGEPAGE) && __GLIBC_PREREQ(2, 33)
    if (std::getenv("MALLOC_TOP_PAD_") != nullptr) {
        return;
    }
    mallopt(M_TOP_PAD, static_cast<int>(kStillsHeapBytes));
    // A block larger than the free top of the heap makes it grow, by the block and the pad.
    const std::size_t top = mallinfo2().keepcost;
    if (top < kStillsHeapBytes) {
        // Volatile, or the compiler drops a block that is freed unused.
        void* volatile block = std::malloc(std::min(
            top + (std::size_t{1} << 20), static_cast<std::size_t>(kStillsMmapThreshold) / 2));
        std::free(block);
    }
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t begin =
        (end - mallinfo2().arena + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    if (begin < end) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
#endif
}

}  // namespace zorvo
