#include "common/Thread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace zorvo {
namespace {

// A worker that counts its steps: it ends by itself after `limit` steps, or, with no limit,
// holds each step until a stop is requested.
class CountingThread : public CThread {
  public:
    explicit CountingThread(int limit) : m_limit(limit) {}
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

  protected:
    bool Process() override {
        const int step = ++started;
        while (m_limit == 0 && !m_bStop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ++finished;
        return step != m_limit;
    }

  private:
    const int m_limit;
};

// A worker that ends by itself runs exactly its steps; one stopped while running finishes the
// step it is in, and begins no other, also when the flag was raised beforehand without waiting.
TEST(ThreadTest, StopEndsTheRunAfterTheCurrentStep) {
    struct Case {
        int limit;
        bool requestFirst;
        int steps;
    };
    const Case cases[] = {{5, false, 5}, {0, false, 1}, {0, true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "limit " << c.limit << ", " << c.requestFirst);
        CountingThread thread(c.limit);
        ASSERT_TRUE(thread.Begin());
        EXPECT_FALSE(thread.StopFlag());
        ASSERT_TRUE(thread.WaitForSteps(c.steps));
        if (c.requestFirst) {
            thread.RequestStop();
        }
        thread.Stop();
        EXPECT_TRUE(thread.StopFlag());
        EXPECT_EQ(thread.started.load(), c.steps);
        EXPECT_EQ(thread.finished.load(), c.steps);
    }
}

}  // namespace
}  // namespace zorvo
