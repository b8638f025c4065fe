#include "cli/Render.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>

#include "cli/ConsoleLog.h"
#include "common/Allocator.h"
#include "render/Project.h"
#include "render/Storyboard.h"

namespace zorvo {

namespace {

// The signal that wakes the waiting thread once the job has finished.
constexpr int kFinishedSignal = SIGUSR1;

// Tells the console, and wakes the thread that made it, when the job has posted its finish
// message.
class FinishWatch : public LogReceiver {
  public:
    explicit FinishWatch(LogReceiver& next)
        : m_next(next), m_previous(SetLogReceiver(this)), m_waiter(pthread_self()) {}
    ~FinishWatch() override { SetLogReceiver(m_previous); }

    void Receive(LogMessage message) override {
        const bool finished = message.kind == LogKind::BuildFinished;
        m_next.Receive(std::move(message));
        if (finished) {
            m_finished = true;
            // Blocked there and taken by its sigtimedwait, so the program ends at once
            // instead of at the next poll.
            pthread_kill(m_waiter, kFinishedSignal);
        }
    }
    bool Finished() const { return m_finished.load(); }

  private:
    LogReceiver& m_next;
    LogReceiver* m_previous;
    pthread_t m_waiter;
    std::atomic<bool> m_finished{false};
};

}  // namespace

namespace {

// Runs a job made by `make` and waits for it. The signals are taken here, by this thread,
// never by the workers.
template <typename Make>
int RunJob(Make make, bool* succeeded) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, kFinishedSignal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ConsoleLog console(stdout, stderr, isatty(STDERR_FILENO) != 0);
    FinishWatch watch(console);
    std::unique_ptr<CProject> job = make();
    bool stopped = false;
    bool cancelled = false;
    while (!watch.Finished()) {
        const timespec timeout{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
            if (stopped || cancelled) {
                _exit(130);
            }
            // Ctrl-C keeps what was rendered; a stop from elsewhere (timeout, systemd, a closed
            // terminal) must not replace a good previous output with a short one.
            if (signal == SIGINT) {
                stopped = true;
                job->RequestStop();
            } else {
                cancelled = true;
                job->RequestCancel();
            }
        }
    }
    *succeeded = job->Succeeded();
    job.reset();
    if (stopped) {
        return 130;
    }
    return *succeeded ? 0 : 1;
}

}  // namespace

int RunRender(const std::string& scriptPath, const std::string& outputPath) {
    bool succeeded = false;
    return RunJob(
        [&] {
            return std::make_unique<CProject>(scriptPath, nullptr, AVIWriter::kSplitBytes,
                                              outputPath);
        },
        &succeeded);
}

int RunStoryboard(const std::string& scriptPath, const StoryboardOptions& options) {
    KeepFreedFrames();
    ContactSheet sheet(options.thumbWidth, std::max(1, 1920 / (options.thumbWidth + 8)),
                       !options.everySpan);
    bool succeeded = false;
    const int status = RunJob(
        [&] {
            return std::make_unique<CProject>(scriptPath, sheet, options.everySpan, options.output);
        },
        &succeeded);
    if (status != 0) {
        return status;
    }
    ConsoleLog console(stdout, stderr, false);
    const FrameBitmap& picture = sheet.Sheet();
    if (!WritePng(picture, options.output)) {
        std::fprintf(stderr, "zorvo: cannot write the storyboard to '%s'\n",
                     options.output.c_str());
        return 1;
    }
    PostLog(Format("Storyboard of %zu still(s) written to %s (%ix%i).\n", sheet.Stills().size(),
                   options.output.c_str(), picture.Width(), picture.Height()));
    return 0;
}

}  // namespace zorvo
