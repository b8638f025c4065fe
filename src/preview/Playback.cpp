#include "preview/Playback.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "script/SpanTiming.h"

namespace zorvo {

namespace {

// A picture shown later than this many frames after its moment would trail its sound.
constexpr std::int64_t kLateFrames = 1;

}  // namespace

std::int64_t DueFrame(double clockMs) {
    return clockMs < 0 || !std::isfinite(clockMs) ? -1 : SongFrame(clockMs);
}

void FramePicker::Seek(std::int64_t frame) {
    m_from = frame;
    m_shown = -1;
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
    // The latest ready frame that is due; those before it came too late, and so has it when
    // the clock has passed it by more than a frame.
    std::size_t show = ready.size();
    for (std::size_t k = i; k < ready.size() && ready[k] <= due; ++k) {
        show = k;
    }
    if (show == ready.size() || ready[show] + kLateFrames < due) {
        pick.drop = show == ready.size() ? i : show + 1;
        return pick;
    }
    pick.drop = show;
    pick.show = true;
    m_skipped += static_cast<std::uint64_t>(ready[show] - earliest);
    m_shown = ready[show];
    ++m_shownCount;
    return pick;
}

PlaybackFeeder::PlaybackFeeder(FrameSource& engine, int width, std::size_t depth)
    : m_engine(engine),
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
        m_due = -1;
        m_run = run;
        m_single = !run;
        m_picker.Seek(m_next);
        m_failed = false;
    }
    // The frame being composed belongs to the old playhead.
    m_engine.Cancel();
    m_wake.notify_all();
}

void PlaybackFeeder::Pause() {
    std::lock_guard lock(m_mutex);
    m_run = false;
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

void PlaybackFeeder::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock,
                    [&] { return m_quit || m_single || (m_run && m_queue.size() < m_depth); });
        if (m_quit) {
            return;
        }
        if (m_run && m_due >= m_next) {
            // Whatever the clock has already passed would come too late to be shown: aim at the
            // frame that will be due when this one is done.
            m_next = m_due + 1 + static_cast<std::int64_t>(m_composeMs / 40);
        }
        const std::int64_t frame = m_next;
        const std::uint64_t generation = m_generation;
        const int width = m_width;
        FedFrame fed;
        if (!m_spare.empty()) {
            fed = std::move(m_spare.back());
            m_spare.pop_back();
        }
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        const bool composed = m_engine.Compose(frame, fed.picture, width);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        const bool cancelled = !composed && m_engine.Cancelled();
        lock.lock();
        if (generation != m_generation || m_quit || cancelled) {
            // A seek came meanwhile (or a cancel meant for the frame before): start over.
            m_spare.push_back(std::move(fed));
            continue;
        }
        m_composeMs = ms;
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
