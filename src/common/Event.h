#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zorvo {

// Auto-reset event: Set wakes one waiter, which consumes the signal.
class AutoResetEvent {
  public:
    explicit AutoResetEvent(bool signalled = false) : m_signalled(signalled) {}

    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_condition.notify_one();
    }

    void Reset() {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    void Wait() {
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }

    // True when signalled within the timeout (the signal is consumed).
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock lock(m_mutex);
        if (!m_condition.wait_for(lock, timeout, [this] { return m_signalled; })) {
            return false;
        }
        m_signalled = false;
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_signalled;
};

}  // namespace zorvo
