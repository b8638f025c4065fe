#pragma once

namespace zorvo {

// Caps the C library's malloc arenas. Every capture and decoder thread would otherwise get an
// arena of its own, and the memory freed there stays with the arena after the thread ends, so
// the peak memory of a long render would grow with the timeline; and keeps blocks of 1 MiB and
// more out of the heap. Call at the start of main, before any thread starts. MALLOC_ARENA_MAX
// and MALLOC_MMAP_THRESHOLD_ set in the environment win.
void LimitAllocatorArenas();

// For a storyboard: its captures allocate their frames (and their decoders their pictures)
// afresh for each still and free them a still later, so the heap keeps freed blocks of up to 4
// MiB for the next ones instead of handing them back to the system, which would fault them in
// anew. Call before the run starts. MALLOC_MMAP_THRESHOLD_ and MALLOC_TRIM_THRESHOLD_ set in
// the environment win.
void KeepFreedFrames();

}  // namespace zorvo
