#include "cli/Proxy.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "cli/ConsoleLog.h"
#include "output/Proxy.h"
#include "preview/Proxies.h"

namespace zorvo {

namespace {

// Wakes the waiting thread once the proxies are made.
constexpr int kFinishedSignal = SIGUSR1;

}  // namespace

int RunProxy(const std::string& scriptPath) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, kFinishedSignal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ConsoleLog console(stdout, stderr, isatty(STDERR_FILENO) != 0);
    console.NameBars("camera", "all");
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return 1;
    }
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    bool made = false;
    const pthread_t waiter = pthread_self();
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        made = MakeSessionProxies(script, stop, [&](size_t index, size_t count, double share) {
            const double all = (static_cast<double>(index) + share) / static_cast<double>(count);
            PostProgress(static_cast<int>(share * 100), 0);
            PostProgress(static_cast<int>(all * 100), 1);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (all > 0.01) {
                const auto left =
                    static_cast<long long>(std::lround(took.count() / all * (1 - all)));
                PostStatus(Format("%lld:%02lld", left / 60, left % 60));
            }
        });
        finished = true;
        pthread_kill(waiter, kFinishedSignal);
    });
    bool stopped = false;
    while (!finished.load()) {
        const timespec timeout{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal == SIGINT || signal == SIGTERM) {
            if (stopped) {
                _exit(130);
            }
            stopped = true;
            stop = true;
        }
    }
    worker.join();
    PostBuildFinished();  // clears the progress line
    if (stopped) {
        PostLog("Stopped: the proxy being made was not kept.\n");
        return 130;
    }
    if (!made) {
        return 1;
    }
    PostLog(Format("Proxies of %zu camera(s) in %s.\n", ProxyCameras(script).size(),
                   ProxyFolder().c_str()));
    return 0;
}

int RunProxyClean() {
    ConsoleLog console(stdout, stderr, false);
    std::size_t removed = 0;
    std::uint64_t bytes = 0;
    const bool all = RemoveProxies(removed, bytes);
    PostLog(Format("Removed %zu proxy file(s), %.1f MB, from %s.\n", removed,
                   static_cast<double>(bytes) / 1e6, ProxyFolder().c_str()));
    return all ? 0 : 1;
}

}  // namespace zorvo
