#pragma once

namespace zorvo {

// Caps the C library's malloc arenas. Every capture and decoder thread would otherwise get an
// arena of its own, and the memory freed there stays with the arena after the thread ends, so
// the peak memory of a long render would grow with the timeline; and keeps blocks of 1 MiB and
// more out of the heap. Call at the start of main, before any thread starts. MALLOC_ARENA_MAX
// and MALLOC_MMAP_THRESHOLD_ set in the environment win.
void LimitAllocatorArenas();

}  // namespace zorvo
