#include "common/Thread.h"

#include <chrono>
#include <exception>
#include <system_error>

namespace zorvo {

namespace {

void SleepOneMillisecond() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

CThread::CThread() = default;

CThread::~CThread() {
    Stop();
}

bool CThread::StartThread() {
    if (m_thread.joinable()) {
        Stop();
    }
    m_bStop.store(false);
    m_eventDone.Reset();
    if (!LaunchThread([this] { Run(); }, m_thread)) {
        // No worker will ever signal the event or see the flag: back to idle.
        m_bStop.store(true);
        m_eventDone.Set();
        return false;
    }
    return true;
}

bool CThread::LaunchThread(std::function<void()> body, std::thread& thread) {
    try {
        thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CThread::Stop() {
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) {
        // A worker cannot wait for its own end; the run loop sees the flag after this step.
        m_bStop.store(true);
        return;
    }
    const bool wasRunning = !m_bStop.exchange(true);
    WakeWorker();
    if (wasRunning) {
        m_eventDone.Wait();
    }
    // The flag may have been raised without waiting (RequestStop); the thread still ends.
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CThread::Run() {
    if (!m_bStop.load()) {
        for (;;) {
            bool again = false;
            try {
                again = Process();
            } catch (const std::exception&) {
                // A work step must not take the process down; end the run as if it had finished.
                again = false;
            }
            if (!again) {
                break;
            }
            SleepOneMillisecond();
            if (m_bStop.load()) {
                break;
            }
        }
    }
    m_eventDone.Set();
}

}  // namespace zorvo
