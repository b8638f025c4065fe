// The studio's playback: the picker that follows the audio clock, and the feeder that composes
// ahead of it on its own thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "preview/Playback.h"

namespace zorvo {
namespace {

// The player shows the newest frame its audio clock has reached, however late: early frames
// wait, those passed over count as skipped (at a stop too), a seek starts afresh, and the
// picture is marked as behind while it trails the clock or skipped within the last second.
TEST(FramePicker, FollowsTheAudioClock) {
    struct Step {
        std::int64_t seek;  // -1: none
        double clockMs;
        std::vector<std::int64_t> ready;
        std::size_t drop;
        bool show;
        std::int64_t shown;
        std::uint64_t skipped;
        bool behind;
    };
    FramePicker picker;
    for (const Step& s : std::vector<Step>{{0, 0, {0, 1, 2}, 0, true, 0, 0, false},
                                           {-1, 39.9, {1, 2}, 0, false, 0, 0, false},
                                           {-1, 40, {1, 2}, 0, true, 1, 0, false},
                                           {-1, 125, {2, 3, 4}, 1, true, 3, 1, true},
                                           {-1, 300, {4, 5}, 1, true, 5, 2, true},
                                           {-1, 310, {8}, 0, false, 5, 2, true},
                                           {-1, 365, {8, 10}, 0, true, 8, 4, true},
                                           {-1, -5, {10}, 0, false, 8, 4, true},
                                           {-1, 1400, {}, 0, false, 8, 4, true},
                                           {100, 4000, {100}, 0, true, 100, 4, false},
                                           {-1, 4040, {101}, 0, true, 101, 4, false},
                                           {-1, 4130, {99, 103}, 1, true, 103, 5, true},
                                           {-1, 4200, {}, 0, false, 103, 5, true}}) {
        if (s.seek >= 0) {
            picker.Seek(s.seek);
        }
        const FramePicker::Pick pick = picker.Choose(s.clockMs, s.ready);
        EXPECT_EQ(pick.drop, s.drop) << s.clockMs;
        EXPECT_EQ(pick.show, s.show) << s.clockMs;
        EXPECT_EQ(picker.Shown(), s.shown) << s.clockMs;
        EXPECT_EQ(picker.SkippedCount(), s.skipped) << s.clockMs;
        EXPECT_EQ(picker.Behind(), s.behind) << s.clockMs;
    }
    // Stopped at frame 110: 104 to 109 passed unshown; counted once.
    picker.Finish(4400);
    picker.Finish(4400);
    EXPECT_EQ(picker.SkippedCount(), 11u);
    EXPECT_FALSE(picker.Behind());
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
    void ClearCancel() override {}
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

// A stand-in for the engine whose every frame takes as long as the test says: Compose waits
// until the test lets it finish (or a cancel comes), so the test steps the clock meanwhile.
class SlowSource : public FrameSource {
  public:
    std::int64_t FrameCount() const override { return 1000; }
    bool Compose(std::int64_t frame, FrameBitmap& picture, int) override {
        std::unique_lock lock(m_mutex);
        m_asked.push_back(frame);
        m_composing = frame;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_finish || m_cancel; });
        m_finish = false;
        m_composing = -1;
        ++m_done;
        m_changed.notify_all();
        return !m_cancel && (picture.Width() == 2 || picture.Allocate(2, 2));
    }
    void Cancel() override {
        std::lock_guard lock(m_mutex);
        m_cancel = true;
        m_changed.notify_all();
    }
    void ClearCancel() override {
        std::lock_guard lock(m_mutex);
        m_cancel = false;
    }
    bool Cancelled() const override {
        std::lock_guard lock(m_mutex);
        return m_cancel;
    }
    // The frame being composed, once one is (not one that is being cancelled).
    std::int64_t WaitComposing() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_composing >= 0 && !m_cancel; });
        return m_composing;
    }
    // Lets the frame being composed finish, and returns once it has.
    void Finish() {
        std::unique_lock lock(m_mutex);
        m_finish = true;
        m_changed.notify_all();
        const int done = m_done;
        m_changed.wait(lock, [&] { return m_done > done; });
    }
    std::vector<std::int64_t> Asked() {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::int64_t> m_asked;
    std::int64_t m_composing = -1;
    int m_done = 0;  // compositions ended
    bool m_finish = false;
    bool m_cancel = false;
};

// Counts the feeder's ready calls, and waits for them.
struct ReadyCount {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    void Note() {
        std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    void WaitFor(int n) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return count >= n; });
    }
};

// Every frame takes 100 ms (2.5 frames) to make: the picture still moves with the sound, never
// more than one making's time behind it, and every frame it passes over is counted. The sound
// starts once the first frame is there, as the player starts it.
TEST(PlaybackFeeder, KeepsUpWithASlowDecoderBySkipping) {
    SlowSource source;
    std::atomic<double> clock{0};
    PlaybackFeeder feeder(source, 640, 4, [&] { return clock.load(); });
    feeder.Seek(0, true);
    FedFrame frame;
    std::int64_t shown = -1;
    std::int64_t changes = 0;
    for (int made = 0; made < 40; ++made) {
        source.WaitComposing();
        for (int tick = 0; tick < 10 && made > 0; ++tick) {
            clock = clock + 10;
            if (feeder.TakeDue(clock, frame)) {
                EXPECT_GT(frame.frame, shown);
                shown = frame.frame;
                ++changes;
            }
            if (shown >= 0) {
                // One making (2.5 frames) and the frame under way.
                EXPECT_LE(DueFrame(clock) - shown, 4) << clock;
            }
        }
        source.Finish();
    }
    EXPECT_GT(changes, 30);
    EXPECT_TRUE(feeder.Behind());
    feeder.Stop(clock);
    // 3900 ms: frames 0 to 96 have passed, each shown or counted skipped.
    EXPECT_EQ(feeder.ShownCount() + feeder.SkippedCount(),
              static_cast<std::uint64_t>(std::max<std::int64_t>(97, shown + 1)));
    EXPECT_GT(feeder.SkippedCount(), 50u);
}

// A click cancels the frame of the click before it; only the last click's frame is queued.
TEST(PlaybackFeeder, ClickCancelsTheEarlierOnes) {
    SlowSource source;
    std::atomic<double> clock{0};
    ReadyCount ready;
    PlaybackFeeder feeder(source, 640, 4, [&] { return clock.load(); });
    feeder.SetReadyCallback([&] { ready.Note(); });
    for (const std::int64_t click : {10, 20, 30}) {
        feeder.Seek(click, false);
        EXPECT_EQ(feeder.Pending(), click);
    }
    // Whichever of the earlier frames had begun was cancelled; the last one is being made.
    EXPECT_EQ(source.WaitComposing(), 30);
    source.Finish();
    ready.WaitFor(1);
    FedFrame frame;
    ASSERT_TRUE(feeder.TakeLatest(frame));
    EXPECT_EQ(frame.frame, 30);
    EXPECT_EQ(feeder.Pending(), -1);
    EXPECT_FALSE(feeder.TakeLatest(frame));
    EXPECT_EQ(ready.count, 1);
    const std::vector<std::int64_t> asked = source.Asked();
    EXPECT_EQ(asked.back(), 30);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 30), 1);
}

}  // namespace
}  // namespace zorvo
