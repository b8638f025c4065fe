#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "common/Event.h"

namespace zorvo {

// Base of every worker: a thread that calls the work step `Process` until it returns false or
// a stop is requested. The owner starts it once (`StartThread`, from the subclass's own start
// operation) and ends it by destroying the object; every subclass destructor calls `Stop()`
// first, so the worker has ended before the subclass's members go away.
class CThread {
  public:
    CThread();
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // The stop sequence: asks the worker to stop and waits, without time-out, until its run
    // loop has ended. Returns at once for a thread that never ran or that finished by itself.
    // Safe to call more than once.
    void Stop();

    // Only raises the stop flag; never waits (usable from a signal handler).
    void RequestStop() { m_bStop.store(true); }

  protected:
    // The start sequence. False when the system refuses the thread; the object is then idle
    // again (stop flag set, done event signalled), so nothing waits for a thread that does not
    // exist. Starting again after a run first stops the previous one.
    bool StartThread();

    // One work step on the worker thread: true to be called again, false to end the run loop.
    // Long steps poll `m_bStop`.
    virtual bool Process() = 0;

    // Called by Stop after raising the flag: wakes a worker that waits on a condition of its own.
    virtual void WakeWorker() {}

    // Creates the thread that runs `body`. Overridden only to simulate a refused thread.
    virtual bool LaunchThread(std::function<void()> body, std::thread& thread);

    // Stop requested, or no thread running.
    std::atomic<bool> m_bStop{true};
    // Signalled when the run loop has ended; signalled from the start so that stopping an
    // object that never ran does not block.
    AutoResetEvent m_eventDone{true};

  private:
    void Run();

    std::thread m_thread;
};

}  // namespace zorvo
