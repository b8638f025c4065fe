#pragma once

namespace zorvo {

// Caps the C library's malloc arenas. Every capture and decoder thread would otherwise get an
// arena of its own, and the memory freed there stays with the arena after the thread ends, so
// the peak memory of a long render would grow with the timeline. Call at the start of main,
// before any thread starts. A MALLOC_ARENA_MAX set in the environment wins.
void LimitAllocatorArenas();

}  // namespace zorvo
