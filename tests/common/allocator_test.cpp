#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Allocator.h"

namespace zorvo {
namespace {

// Whether the kernel may back the mapping that holds `address` with huge pages (THPeligible in
// /proc/self/smaps); false when no mapping holds it.
bool HugePagesAllowed(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::istringstream range(line);
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        if (range >> std::hex >> begin >> dash >> end && dash == '-') {
            inside = begin <= at && at < end;
        } else if (inside && line.starts_with("THPeligible:")) {
            return std::stoi(line.substr(12)) == 1;
        }
    }
    return false;
}

// A storyboard's pictures, frames and sheet come from memory the kernel may back with 2 MiB
// pages, also beyond what the heap held before, so that the run faults them in a few at a
// time. In a child process: the heap's options stay changed.
TEST(AllocatorDeathTest, StoryboardBlocksMayUseHugePages) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers bring their own allocator";
#endif
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (!std::getline(mode, modes) || modes.find("[never]") != std::string::npos) {
        GTEST_SKIP() << "no transparent huge pages on this system";
    }
    const auto allowed = [] {
        KeepFreedFrames();
        // A full HD frame, the demo's sheet, a 720p picture, kept as a run keeps them: each
        // ends in such memory (the first may begin below the heap's first 2 MiB boundary).
        std::vector<char*> blocks;
        int result = 0;
        for (const std::size_t bytes : {6220800u, 13833408u, 1382400u}) {
            blocks.push_back(static_cast<char*>(std::malloc(bytes)));
            if (!blocks.back() || !HugePagesAllowed(blocks.back() + bytes - 1)) {
                result = 1;
            }
        }
        for (char* block : blocks) {
            std::free(block);
        }
        return result;
    };
    EXPECT_EXIT(std::_Exit(allowed()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zorvo
