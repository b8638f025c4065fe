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

}  // namespace

void LimitAllocatorArenas() {
#if defined(__GLIBC__)
    if (std::getenv("MALLOC_ARENA_MAX") == nullptr) {
        mallopt(M_ARENA_MAX, kArenas);
    }
#endif
}

}  // namespace zorvo
