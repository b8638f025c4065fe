#include "ui/LogEventQueue.h"

#include <QCoreApplication>

namespace zorvo {

QEvent::Type LogEventQueue::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

LogEventQueue::LogEventQueue(QObject* target) : m_target(target), m_previous(nullptr) {
    EventType();  // registered before any worker can ask for it
    m_previous = SetLogReceiver(this);
}

LogEventQueue::~LogEventQueue() {
    SetLogReceiver(m_previous);
}

void LogEventQueue::Receive(LogMessage message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    // The event carries nothing itself: the hand-over goes through the mutex above.
    QCoreApplication::postEvent(m_target, new QEvent(EventType()));
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
