#pragma once

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>

namespace zorvo::test {

// Sanitizer runtimes reserve terabytes of address space and abort instead of returning null
// when memory runs out, so a limited address space cannot be tested under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressLimitWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kAddressLimitWorks = false;
#else
inline constexpr bool kAddressLimitWorks = true;
#endif
#else
inline constexpr bool kAddressLimitWorks = true;
#endif

// Every thread that allocates (decoder threads too) gets a malloc arena that reserves 64 MiB of
// address space, and an allocation the limit refuses is then served from one of those. One
// arena for the whole program, set before any thread starts, keeps the limit meaningful.
inline const bool kOneMallocArena = mallopt(M_ARENA_MAX, 1) == 1;

// Runs `body` in a child process whose address space may grow by at most `headroom` bytes
// beyond what it uses when `prepare` has run; true when the child's body returned true.
template <typename Prepare, typename Body>
bool RunWithAddressHeadroom(std::size_t headroom, Prepare prepare, Body body) {
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        auto state = prepare();
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + headroom;
        const rlimit bounds{limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &bounds) != 0) {
            _exit(2);
        }
        _exit(body(state) ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zorvo::test
