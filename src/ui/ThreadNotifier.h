#pragma once

#include <QEvent>
#include <QObject>
#include <functional>
#include <mutex>

namespace zorvo {

// Runs a function on the thread that created the notifier (the window thread) whenever any
// thread calls Notify: each call posts one event, so the caller never waits. Whatever the caller
// did before Notify is visible to the function, also to thread checkers that cannot see the
// toolkit's own locks.
class ThreadNotifier : public QObject {
  public:
    explicit ThreadNotifier(std::function<void()> onNotified);
    ~ThreadNotifier() override;

    void Notify();

  protected:
    bool event(QEvent* event) override;

  private:
    static QEvent::Type EventType();

    std::mutex m_handOver;
    std::function<void()> m_onNotified;
};

}  // namespace zorvo
