#pragma once

#include <QEvent>
#include <deque>
#include <mutex>
#include <optional>

#include "common/LogChannel.h"

class QObject;

namespace zorvo {

// The receiving end of the log channel for a window. A message from any thread is queued and
// announced to the window by one posted event, so the sender never waits for the window
// thread, and the window takes the messages in the order they were posted.
class LogEventQueue : public LogReceiver {
  public:
    // The type of the announcing events.
    static QEvent::Type EventType();

    // Becomes the process-wide receiver; `target` gets the events and must outlive the queue.
    explicit LogEventQueue(QObject* target);
    // Restores the receiver it replaced. Every thread that posts must have ended.
    ~LogEventQueue() override;
    LogEventQueue(const LogEventQueue&) = delete;
    LogEventQueue& operator=(const LogEventQueue&) = delete;

    void Receive(LogMessage message) override;

    // The oldest message not taken yet; called on the target's thread for each event.
    std::optional<LogMessage> Take();

  private:
    QObject* const m_target;
    LogReceiver* m_previous;
    std::mutex m_mutex;
    std::deque<LogMessage> m_messages;
};

}  // namespace zorvo
