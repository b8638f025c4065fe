// The studio's playback: the picker that follows the audio clock, and the feeder that composes
// ahead of it on its own thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "preview/Playback.h"

namespace zorvo {
namespace {

// The player shows the latest frame its audio clock has reached, at most one frame late: early
// frames wait, later ones are dropped and counted as skipped, and a seek starts afresh.
TEST(FramePicker, FollowsTheAudioClock) {
    struct Step {
        std::int64_t seek;  // -1: none
        double clockMs;
        std::vector<std::int64_t> ready;
        std::size_t drop;
        bool show;
        std::int64_t shown;
        std::uint64_t skipped;
    };
    FramePicker picker;
    for (const Step& s : std::vector<Step>{{0, 0, {0, 1, 2}, 0, true, 0, 0},
                                           {-1, 39.9, {1, 2}, 0, false, 0, 0},
                                           {-1, 40, {1, 2}, 0, true, 1, 0},
                                           {-1, 125, {2, 3, 4}, 1, true, 3, 1},
                                           {-1, 300, {4, 5}, 2, false, 3, 1},
                                           {-1, 310, {8}, 0, false, 3, 1},
                                           {-1, 365, {8, 10}, 0, true, 8, 5},
                                           {-1, -5, {10}, 0, false, 8, 5},
                                           {100, 4000, {100}, 0, true, 100, 5},
                                           {-1, 4130, {99, 103}, 1, true, 103, 7},
                                           {-1, 4200, {}, 0, false, 103, 7}}) {
        if (s.seek >= 0) {
            picker.Seek(s.seek);
        }
        const FramePicker::Pick pick = picker.Choose(s.clockMs, s.ready);
        EXPECT_EQ(pick.drop, s.drop) << s.clockMs;
        EXPECT_EQ(pick.show, s.show) << s.clockMs;
        EXPECT_EQ(picker.Shown(), s.shown) << s.clockMs;
        EXPECT_EQ(picker.SkippedCount(), s.skipped) << s.clockMs;
    }
}

// Composes instantly, except that one frame waits for the test's word: it finishes then as if
// the seek that came meanwhile had been too late to cancel it.
class HeldSource : public FrameSource {
  public:
    explicit HeldSource(std::int64_t held) : m_held(held) {}
    std::int64_t FrameCount() const override { return 1000; }
    bool Compose(std::int64_t frame, FrameBitmap& picture, int) override {
        std::unique_lock lock(m_mutex);
        if (frame == m_held) {
            m_holding = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        }
        return picture.Width() == 2 || picture.Allocate(2, 2);
    }
    void Cancel() override {}
    bool Cancelled() const override { return false; }

    void WaitUntilHolding() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_holding; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

  private:
    const std::int64_t m_held;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holding = false;
    bool m_released = false;
};

// A frame that finishes after a seek belongs to the old playhead: it is never queued, and the
// feeder goes on from the frame sought, whose pictures then follow the clock.
TEST(PlaybackFeeder, FramesOfAnEarlierSeekAreDropped) {
    HeldSource source(10);
    PlaybackFeeder feeder(source, 0, 3);
    std::mutex mutex;
    std::condition_variable changed;
    int ready = 0;
    feeder.SetReadyCallback([&] {
        std::lock_guard lock(mutex);
        ++ready;
        changed.notify_all();
    });
    feeder.Seek(10, true);
    source.WaitUntilHolding();
    feeder.Seek(50, true);
    source.Release();
    {
        // The queue holds three frames once three were composed after the seek.
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return ready >= 3; });
    }
    EXPECT_EQ(feeder.FirstQueued(), 50);
    FedFrame fed;
    EXPECT_FALSE(feeder.TakeDue(49 * 40 + 39.9, fed));
    ASSERT_TRUE(feeder.TakeDue(51 * 40, fed));
    EXPECT_EQ(fed.frame, 51);
    EXPECT_EQ(feeder.SkippedCount(), 1u);
    EXPECT_FALSE(feeder.Failed());
}

}  // namespace
}  // namespace zorvo
