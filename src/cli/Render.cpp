#include "cli/Render.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "cli/ConsoleLog.h"
#include "render/Project.h"

namespace zorvo {

namespace {

// Tells the console when the job has posted its finish message.
class FinishWatch : public LogReceiver {
  public:
    explicit FinishWatch(LogReceiver& next) : m_next(next), m_previous(SetLogReceiver(this)) {}
    ~FinishWatch() override { SetLogReceiver(m_previous); }

    void Receive(LogMessage message) override {
        const bool finished = message.kind == LogKind::BuildFinished;
        m_next.Receive(std::move(message));
        if (finished) {
            m_finished = true;
        }
    }
    bool Finished() const { return m_finished.load(); }

  private:
    LogReceiver& m_next;
    LogReceiver* m_previous;
    std::atomic<bool> m_finished{false};
};

}  // namespace

int RunRender(const std::string& scriptPath, const std::string& outputPath) {
    // The signals are taken here, by this thread, never by the workers.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ConsoleLog console(stdout, stderr, isatty(STDERR_FILENO) != 0);
    FinishWatch watch(console);
    auto job = std::make_unique<CProject>(scriptPath, nullptr, AVIWriter::kSplitBytes, outputPath);
    bool stopped = false;
    while (!watch.Finished()) {
        const timespec timeout{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal == SIGINT || signal == SIGTERM) {
            if (stopped) {
                _exit(130);
            }
            stopped = true;
            job->RequestStop();
        }
    }
    const bool succeeded = job->Succeeded();
    job.reset();
    if (stopped) {
        return 130;
    }
    return succeeded ? 0 : 1;
}

}  // namespace zorvo
