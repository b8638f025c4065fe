#include "ui/LogEventQueue.h"

namespace zorvo {

LogEventQueue::LogEventQueue(std::function<void(const LogMessage&)> handle)
    : m_handle(std::move(handle)),
      m_notifier([this] {
          if (auto message = Take()) {
              m_handle(*message);
          }
      }),
      m_previous(SetLogReceiver(this)) {}

LogEventQueue::~LogEventQueue() {
    SetLogReceiver(m_previous);
}

void LogEventQueue::Receive(LogMessage message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    m_notifier.Notify();
}

std::optional<LogMessage> LogEventQueue::Take() {
    std::lock_guard lock(m_mutex);
    if (m_messages.empty()) {
        return std::nullopt;
    }
    LogMessage message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

}  // namespace zorvo
