#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "common/LogChannel.h"
#include "ui/ThreadNotifier.h"

namespace zorvo {

// The receiving end of the log channel for a window. A message from any thread is queued and
// announced to the window thread by one posted event, so the sender never waits for it, and the
// window handles the messages in the order they were posted.
class LogEventQueue : public LogReceiver {
  public:
    // Becomes the process-wide receiver. `handle` runs on the constructing thread, once per
    // message.
    explicit LogEventQueue(std::function<void(const LogMessage&)> handle);
    // Restores the receiver it replaced. Every thread that posts must have ended.
    ~LogEventQueue() override;
    LogEventQueue(const LogEventQueue&) = delete;
    LogEventQueue& operator=(const LogEventQueue&) = delete;

    void Receive(LogMessage message) override;

  private:
    std::optional<LogMessage> Take();

    std::function<void(const LogMessage&)> m_handle;
    std::mutex m_mutex;
    std::deque<LogMessage> m_messages;
    ThreadNotifier m_notifier;
    LogReceiver* m_previous;
};

}  // namespace zorvo
