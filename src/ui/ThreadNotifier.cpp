#include "ui/ThreadNotifier.h"

#include <QCoreApplication>

namespace zorvo {

QEvent::Type ThreadNotifier::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

ThreadNotifier::ThreadNotifier(std::function<void()> onNotified)
    : m_onNotified(std::move(onNotified)) {
    EventType();  // registered before any other thread can ask for it
}

ThreadNotifier::~ThreadNotifier() = default;

void ThreadNotifier::Notify() {
    QEvent* event = nullptr;
    {
        // Made under the lock that event() takes before it looks at the event.
        std::lock_guard lock(m_handOver);
        event = new QEvent(EventType());
    }
    QCoreApplication::postEvent(this, event);  // takes ownership
}

bool ThreadNotifier::event(QEvent* event) {
    { std::lock_guard lock(m_handOver); }
    if (event->type() == EventType()) {
        m_onNotified();
        return true;
    }
    return QObject::event(event);
}

}  // namespace zorvo
