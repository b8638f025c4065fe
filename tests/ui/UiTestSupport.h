#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

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

}  // namespace zorvo::test
