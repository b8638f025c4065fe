#include "capture/Thread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace zorvo {
namespace {

// A worker that counts its steps; it ends by itself after every `limit` steps (0: never), and each
// step can hold until a stop is requested.
class CountingThread : public CThread {
  public:
    explicit CountingThread(int limit = 0, bool holdUntilStop = false)
        : m_limit(limit), m_holdUntilStop(holdUntilStop) {}
    ~CountingThread() override { Stop(); }

    bool Begin() { return StartThread(); }
    bool StopFlag() const { return m_bStop.load(); }

    // Waits (bounded) until at least `count` steps have started.
    bool WaitForSteps(int count) {
        for (int i = 0; i < 10000 && started.load() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return started.load() >= count;
    }

    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> sawStopInsideStep{false};

  protected:
    bool Process() override {
        const int step = ++started;
        if (m_holdUntilStop) {
            while (!m_bStop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            sawStopInsideStep = true;
        }
        ++finished;
        return m_limit == 0 || step % m_limit != 0;  // the limit counts per run
    }

  private:
    int m_limit;
    bool m_holdUntilStop;
};

TEST(ThreadTest, FinishedByItselfRunsExactlyItsStepsAndStopsAtOnce) {
    CountingThread thread(5);
    ASSERT_TRUE(thread.Begin());
    EXPECT_FALSE(thread.StopFlag());
    ASSERT_TRUE(thread.WaitForSteps(5));
    // Ending by itself leaves the flag clear; the stop sequence finds the done signal.
    thread.Stop();
    EXPECT_TRUE(thread.StopFlag());
    EXPECT_EQ(thread.started.load(), 5);
    EXPECT_EQ(thread.finished.load(), 5);
}

// Also when the flag was raised beforehand without waiting.
TEST(ThreadTest, StopWhileRunningWaitsForTheCurrentStep) {
    for (const bool requestFirst : {false, true}) {
        SCOPED_TRACE(requestFirst);
        CountingThread thread(0, true);
        ASSERT_TRUE(thread.Begin());
        ASSERT_TRUE(thread.WaitForSteps(1));
        if (requestFirst) {
            thread.RequestStop();
        }
        thread.Stop();
        // The step that was running when the stop came has completed, and no other one began.
        EXPECT_TRUE(thread.sawStopInsideStep.load());
        EXPECT_EQ(thread.started.load(), 1);
        EXPECT_EQ(thread.finished.load(), 1);
    }
}

}  // namespace
}  // namespace zorvo
