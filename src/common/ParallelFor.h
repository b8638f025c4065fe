#pragma once

#include <cstddef>
#include <functional>

namespace zorvo {

// Calls body(i) for every i in [0, count), on this thread and up to `threads` - 1 more, each
// taking the next index when it is done with one; returns when all are done. Threads the system
// will not give only make it slower. `body` must be safe to run side by side.
void ParallelFor(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t)>& body);

}  // namespace zorvo
