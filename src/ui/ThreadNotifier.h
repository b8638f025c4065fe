#pragma once

#include <QEvent>
#include <QObject>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

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

// Does each request on a thread of its own, one at a time: a request while one runs waits, and
// the newest replaces any other waiting, since what it would give is already old. `done` runs
// on the window's thread after the last request is done. What `work` writes is read after it,
// when the thread has been joined.
template <typename Request>
class NewestRequest {
  public:
    NewestRequest(std::function<void(const Request&)> work, std::function<void()> done)
        : m_work(std::move(work)), m_done(std::move(done)), m_notifier([this] { Finished(); }) {}
    // Waits for a running request.
    ~NewestRequest() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    NewestRequest(const NewestRequest&) = delete;
    NewestRequest& operator=(const NewestRequest&) = delete;

    void Ask(Request request) {
        if (Busy()) {
            m_pending = std::move(request);
            return;
        }
        Start(std::move(request));
    }
    bool Busy() const { return m_thread.joinable(); }

  private:
    void Start(Request request) {
        m_thread = std::thread([this, request = std::move(request)] {
            m_work(request);
            m_notifier.Notify();  // the last thing the thread does
        });
    }
    void Finished() {
        if (!m_thread.joinable()) {
            return;
        }
        m_thread.join();
        if (m_pending) {
            Start(*std::exchange(m_pending, std::nullopt));
            return;
        }
        m_done();
    }

    std::function<void(const Request&)> m_work;
    std::function<void()> m_done;
    std::optional<Request> m_pending;
    ThreadNotifier m_notifier;
    std::thread m_thread;
};

}  // namespace zorvo
