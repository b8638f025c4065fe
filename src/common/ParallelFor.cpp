#include "common/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace zorvo {

void ParallelFor(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t)>& body) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            body(i);
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (std::size_t t = 1; t < std::min(threads, count); ++t) {
            helpers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // This thread works through whatever is left.
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

}  // namespace zorvo
