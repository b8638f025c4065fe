#pragma once

namespace zorvo {

// Caps the C library's malloc arenas. Every capture and decoder thread would otherwise get an
// arena of its own, and the memory freed there stays with the arena after the thread ends, so
// the peak memory of a long render would grow with the timeline; and keeps blocks of 1 MiB and
// more out of the heap. Call at the start of main, before any thread starts. MALLOC_ARENA_MAX
// and MALLOC_MMAP_THRESHOLD_ set in the environment win.
void LimitAllocatorArenas();

// For a storyboard: its captures allocate their frames (and their decoders their pictures)
// afresh for each still and free them a still later, so the heap keeps freed blocks (and the
// sheet) for the next ones instead of handing them back to the system, which would fault them
// in anew; and the heap grows at once by what a run takes, marked for transparent huge pages,
// so that what is faulted in comes 2 MiB at a time. Call before the run starts, on one thread.
// MALLOC_MMAP_THRESHOLD_, MALLOC_TRIM_THRESHOLD_ and MALLOC_TOP_PAD_ set in the environment
// win.
void KeepFreedFrames();

}  // namespace zorvo
