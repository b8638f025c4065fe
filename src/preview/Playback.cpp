#include "preview/Playback.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "script/SpanTiming.h"

namespace zorvo {

namespace {

// A picture shown later than this many frames after its moment trails its sound.
constexpr std::int64_t kLateFrames = 1;
// How long after frames were skipped the picture still counts as falling behind: a second.
constexpr std::int64_t kBehindFrames = 25;
// The aim ahead of the clock never reckons with more than this: a block change that took long
// is no measure of the frames after it, which its captures go on decoding.
constexpr double kMaxAimMs = 400;

double SteadyMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::int64_t DueFrame(double clockMs) {
    return clockMs < 0 || !std::isfinite(clockMs) ? -1 : SongFrame(clockMs);
}

void FramePicker::Seek(std::int64_t frame) {
    m_from = frame;
    m_shown = -1;
    m_lastSkipDue = -1;
    m_behind = false;
}

FramePicker::Pick FramePicker::Choose(double clockMs, const std::vector<std::int64_t>& ready) {
    const std::int64_t due = DueFrame(clockMs);
    Pick pick;
    // Frames from before the seek, or already passed, are of no use whatever the clock says.
    const std::int64_t earliest = std::max(m_from, m_shown + 1);
    std::size_t i = 0;
    while (i < ready.size() && ready[i] < earliest) {
        ++i;
    }
    // The newest ready frame that is due, however late: an older picture held while the sound
    // goes on would be later still. Those before it are passed over.
    std::size_t show = ready.size();
    for (std::size_t k = i; k < ready.size() && ready[k] <= due; ++k) {
        show = k;
    }
    if (show == ready.size()) {
        pick.drop = i;
    } else {
        pick.drop = show;
        pick.show = true;
        if (ready[show] > earliest) {
            m_skipped += static_cast<std::uint64_t>(ready[show] - earliest);
            m_lastSkipDue = due;
        }
        m_shown = ready[show];
        ++m_shownCount;
    }
    const std::int64_t lag = due - std::max(m_shown, m_from - 1);
    m_behind = lag > kLateFrames || (m_lastSkipDue >= 0 && due - m_lastSkipDue < kBehindFrames);
    return pick;
}

void FramePicker::Finish(double clockMs) {
    const std::int64_t due = DueFrame(clockMs);
    const std::int64_t earliest = std::max(m_from, m_shown + 1);
    if (due > earliest) {
        m_skipped += static_cast<std::uint64_t>(due - earliest);
    }
    // Counted once: a later Finish starts from here.
    m_from = std::max(m_from, due);
    m_behind = false;
}

PlaybackFeeder::PlaybackFeeder(FrameSource& engine, int width, std::size_t depth, MsClock clock)
    : m_engine(engine),
      m_clock(clock ? std::move(clock) : MsClock(SteadyMs)),
      m_depth(std::max<std::size_t>(depth, 1)),
      m_width(width),
      m_nextWidth(width) {
    m_thread = std::thread([this] { Run(); });
}

PlaybackFeeder::~PlaybackFeeder() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_engine.Cancel();
    m_wake.notify_all();
    m_thread.join();
}

void PlaybackFeeder::SetReadyCallback(std::function<void()> ready) {
    std::lock_guard lock(m_mutex);
    m_ready = std::move(ready);
}

void PlaybackFeeder::SetWidth(int width) {
    std::lock_guard lock(m_mutex);
    m_nextWidth = width;
}

void PlaybackFeeder::Seek(std::int64_t frame, bool run) {
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        while (!m_queue.empty()) {
            m_spare.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        m_width = m_nextWidth;
        m_next = std::max<std::int64_t>(frame, 0);
        m_pending = m_next;
        m_due = -1;
        m_run = run;
        m_single = !run;
        m_picker.Seek(m_next);
        m_failed = false;
        // The frame being composed belongs to the old playhead. Under the lock, so that the
        // cancel cannot reach the composition of the new frame instead.
        m_engine.Cancel();
    }
    m_wake.notify_all();
}

void PlaybackFeeder::Pause() {
    std::lock_guard lock(m_mutex);
    m_run = false;
}

void PlaybackFeeder::Stop(double clockMs) {
    std::lock_guard lock(m_mutex);
    m_run = false;
    m_picker.Finish(clockMs);
}

bool PlaybackFeeder::TakeDue(double clockMs, FedFrame& out) {
    bool shown = false;
    {
        std::lock_guard lock(m_mutex);
        m_due = std::max(m_due, DueFrame(clockMs));
        std::vector<std::int64_t> ready;
        ready.reserve(m_queue.size());
        for (const FedFrame& fed : m_queue) {
            ready.push_back(fed.frame);
        }
        const FramePicker::Pick pick = m_picker.Choose(clockMs, ready);
        for (std::size_t i = 0; i < pick.drop; ++i) {
            m_spare.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        if (pick.show) {
            std::swap(out, m_queue.front());
            m_spare.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
            shown = true;
        }
    }
    m_wake.notify_all();
    return shown;
}

bool PlaybackFeeder::TakeLatest(FedFrame& out) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) {
            return false;
        }
        std::swap(out, m_queue.back());
        while (!m_queue.empty()) {
            m_spare.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
    }
    m_wake.notify_all();
    return true;
}

std::int64_t PlaybackFeeder::FirstQueued() const {
    std::lock_guard lock(m_mutex);
    return m_queue.empty() ? -1 : m_queue.front().frame;
}

std::uint64_t PlaybackFeeder::ShownCount() const {
    std::lock_guard lock(m_mutex);
    return m_picker.ShownCount();
}

std::uint64_t PlaybackFeeder::SkippedCount() const {
    std::lock_guard lock(m_mutex);
    return m_picker.SkippedCount();
}

bool PlaybackFeeder::Behind() const {
    std::lock_guard lock(m_mutex);
    return m_picker.Behind();
}

std::int64_t PlaybackFeeder::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_pending;
}

void PlaybackFeeder::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock,
                    [&] { return m_quit || m_single || (m_run && m_queue.size() < m_depth); });
        if (m_quit) {
            return;
        }
        // The frames the clock will have passed by the time this one is done would come too
        // late: aim at the one due then.
        const auto ahead = static_cast<std::int64_t>(std::min(m_composeMs, kMaxAimMs) / 40);
        if (m_run && m_due >= 0 && m_next <= m_due + ahead) {
            m_next = m_due + 1 + ahead;
        }
        m_next = std::min(m_next, m_engine.FrameCount() - 1);
        const std::int64_t frame = m_next;
        const std::uint64_t generation = m_generation;
        const int width = m_width;
        const bool playing = m_run;
        FedFrame fed;
        if (!m_spare.empty()) {
            fed = std::move(m_spare.back());
            m_spare.pop_back();
        }
        // Under the lock: a Seek from here on cancels this frame.
        m_engine.ClearCancel();
        lock.unlock();
        m_engine.SetPlaying(playing);
        const double start = m_clock();
        const bool composed = m_engine.Compose(frame, fed.picture, width);
        const double ms = m_clock() - start;
        lock.lock();
        const bool cancelled = !composed && m_engine.Cancelled();
        if (generation != m_generation || m_quit || cancelled) {
            // A seek came meanwhile (or a cancel meant for the frame before): start over.
            m_spare.push_back(std::move(fed));
            continue;
        }
        m_composeMs = ms;
        m_pending = -1;
        std::function<void()> ready = m_ready;
        if (!composed) {
            m_failed = true;
            m_run = false;
            m_single = false;
        } else {
            fed.frame = frame;
            m_queue.push_back(std::move(fed));
            m_next = frame + 1;
            m_single = false;
            if (m_next >= m_engine.FrameCount()) {
                m_run = false;  // the song has ended
            }
        }
        if (ready) {
            lock.unlock();
            ready();
            lock.lock();
        }
    }
}

}  // namespace zorvo
