#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>

namespace zorvo::test {

// Runs the event loop until `done` holds or `timeoutMs` passes; the result of `done` then.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for a while, for things that must not happen.
inline void RunEventsFor(int milliseconds) {
    WaitUntil([] { return false; }, milliseconds);
}

// Calls `step` every few milliseconds from whatever event loop runs (a modal dialog's, say)
// until it returns true. Nothing waits inside a call, so messages posted meanwhile are
// delivered between the calls.
inline std::unique_ptr<QTimer> PollFromEventLoop(std::function<bool()> step) {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(5);
    QTimer* self = timer.get();
    QObject::connect(self, &QTimer::timeout, self, [self, step = std::move(step)] {
        if (step()) {
            self->stop();
        }
    });
    timer->start();
    return timer;
}

}  // namespace zorvo::test
