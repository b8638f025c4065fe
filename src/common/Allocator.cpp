#include "common/Allocator.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
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
// A storyboard's: a 720 x 576 frame and a 1280 x 720 picture fit, a full HD picture (3 MB) too;
// freed memory stays in the heap up to the run's own size.
constexpr int kStillsMmapThreshold = 4 << 20;
constexpr int kStillsTrimThreshold = 128 << 20;

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
#endif
}

}  // namespace zorvo
