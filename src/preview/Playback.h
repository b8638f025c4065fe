#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/FrameBitmap.h"
#include "preview/FrameSource.h"

namespace zorvo {

// The song frame due at a point of the audio clock, in ms from the song's first frame: the
// sound of frame k plays during [40k, 40k + 40) ms, as the render writes it.
std::int64_t DueFrame(double clockMs);

// The player's choice of picture from the audio clock. The picture follows the clock, never its
// own timer: frames that come too late are dropped, early ones wait, so picture and sound never
// drift apart. Pure: no thread, no clock of its own.
class FramePicker {
  public:
    struct Pick {
        std::size_t drop = 0;  // ready frames to throw away first (late)
        bool show = false;     // then show the next ready frame
    };

    // Playback (re)starts at `frame`: frames before it are never shown; nothing counts as
    // skipped across a seek.
    void Seek(std::int64_t frame);
    // With the audio clock at `clockMs` and these frames ready in order (ascending), what to do.
    // Shows the latest ready frame that is due, unless the clock has passed it by more than a
    // frame; frames due and never shown count as skipped.
    Pick Choose(double clockMs, const std::vector<std::int64_t>& ready);

    std::int64_t Shown() const { return m_shown; }  // last frame shown, -1 for none
    std::uint64_t ShownCount() const { return m_shownCount; }
    std::uint64_t SkippedCount() const { return m_skipped; }

  private:
    std::int64_t m_from = 0;
    std::int64_t m_shown = -1;
    std::uint64_t m_shownCount = 0;
    std::uint64_t m_skipped = 0;
};

// One composed frame of the feeder's queue.
struct FedFrame {
    std::int64_t frame = -1;
    FrameBitmap picture;
};

// Runs a FrameSource (the studio's FrameEngine) ahead of the playhead on a thread of its own, into
// a bounded queue of a few frames, so the window's thread only ever picks a finished picture. A
// seek cancels the frame being composed, empties the queue and starts again from the new frame.
// While the feeder exists, nobody else may call the engine's Compose.
class PlaybackFeeder {
  public:
    // `engine` must outlive the feeder. Frames are composed `width` pixels wide (0: the
    // script's size).
    PlaybackFeeder(FrameSource& engine, int width, std::size_t depth = 4);
    // Cancels and joins the thread.
    ~PlaybackFeeder();
    PlaybackFeeder(const PlaybackFeeder&) = delete;
    PlaybackFeeder& operator=(const PlaybackFeeder&) = delete;

    // Called on the feeder's thread after each frame is queued, and after a frame failed; must
    // not block (post an event to the window).
    void SetReadyCallback(std::function<void()> ready);
    // Takes effect at the next Seek.
    void SetWidth(int width);

    // Drops the queue and composes from `frame` on: ahead of the playhead while `run`, or that
    // one frame only (a click on the timeline).
    void Seek(std::int64_t frame, bool run);
    // Stops composing ahead; the queue stays.
    void Pause();

    // The frame to show now with the audio clock at `clockMs` (see FramePicker): late frames are
    // dropped, and the feeder skips ahead past frames that would come too late. False when no
    // ready frame is due yet.
    bool TakeDue(double clockMs, FedFrame& out);
    // The newest queued frame whatever the clock says (for a still after a click); false when
    // the queue is empty.
    bool TakeLatest(FedFrame& out);
    // The earliest queued frame, -1 when the queue is empty. A player starts its sound once the
    // frame it seeks to is here, so that the first pictures are not late from the start.
    std::int64_t FirstQueued() const;
    // The composition of a frame failed (its log line has been posted); cleared by Seek.
    bool Failed() const { return m_failed.load(); }

    std::uint64_t ShownCount() const;
    std::uint64_t SkippedCount() const;

  private:
    void Run();

    FrameSource& m_engine;
    const std::size_t m_depth;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<FedFrame> m_queue;
    std::vector<FedFrame> m_spare;  // pictures given back for reuse
    std::function<void()> m_ready;
    FramePicker m_picker;
    int m_width = 0;
    int m_nextWidth = 0;
    std::int64_t m_next = 0;         // next frame to compose
    std::int64_t m_due = -1;         // latest frame the clock asked for
    std::uint64_t m_generation = 0;  // bumped by every seek
    double m_composeMs = 0;          // how long the last frame took
    bool m_run = false;
    bool m_single = false;  // compose m_next once, then idle
    bool m_quit = false;
    std::atomic<bool> m_failed{false};
    std::thread m_thread;
};

}  // namespace zorvo
