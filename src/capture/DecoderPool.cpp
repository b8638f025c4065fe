#include "capture/DecoderPool.h"

#include <algorithm>

namespace zorvo {

namespace {

// Decoding forward this many key frame intervals costs no more than a fresh capture, which
// opens the file, seeks to a key frame at or before a pre-roll of three intervals and decodes
// forward from there.
constexpr std::int64_t kForwardIntervals = 4;

}  // namespace

std::unique_ptr<VideoDecoder> DecoderPool::Take(const std::string& path, std::int64_t startMs,
                                                std::uint32_t firstFrame,
                                                DeinterlaceMode deinterlace) {
    std::lock_guard lock(m_mutex);
    auto best = m_idle.end();
    std::int64_t bestDistance = 0;
    for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
        const VideoDecoder& decoder = *it->decoder;
        if (decoder.Path() != path || decoder.Deinterlace() != deinterlace) {
            continue;
        }
        const std::int64_t start = decoder.SegmentFrame(startMs, firstFrame);
        const std::int64_t earliest = decoder.EarliestIndex();
        const std::int64_t distance = std::max<std::int64_t>(0, start - decoder.CurrentIndex());
        const std::int64_t limit = kForwardIntervals * std::max(1, decoder.MinKeyFrameInterval());
        if (earliest < 0 || start < earliest || distance > limit) {
            continue;
        }
        if (best == m_idle.end() || distance < bestDistance) {
            best = it;
            bestDistance = distance;
        }
    }
    if (best == m_idle.end()) {
        return nullptr;
    }
    std::unique_ptr<VideoDecoder> taken = std::move(best->decoder);
    m_idle.erase(best);
    return taken;
}

void DecoderPool::Give(std::unique_ptr<VideoDecoder> decoder) {
    if (!decoder) {
        return;
    }
    std::vector<std::unique_ptr<VideoDecoder>> freed;  // closed after the lock is let go
    {
        std::lock_guard lock(m_mutex);
        const std::string path = decoder->Path();
        const std::size_t bytes = decoder->PictureBytes();
        decoder->CountBytesInto(&m_openBytes);
        m_idle.push_back({std::move(decoder), ++m_ages, bytes});
        const auto oldest = [&](bool samePath) {
            auto found = m_idle.end();
            std::size_t count = 0;
            for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
                if (samePath && it->decoder->Path() != path) {
                    continue;
                }
                ++count;
                if (found == m_idle.end() || it->age < found->age) {
                    found = it;
                }
            }
            return std::make_pair(found, count);
        };
        const auto trim = [&](bool samePath, std::size_t limit) {
            for (;;) {
                const auto [it, count] = oldest(samePath);
                if (count <= limit) {
                    return;
                }
                freed.push_back(std::move(it->decoder));
                m_idle.erase(it);
            }
        };
        trim(true, m_limits.perFile);
        trim(false, m_limits.total);
        TrimToBudget(freed);
    }
}

void DecoderPool::Track(VideoDecoder& decoder) {
    std::vector<std::unique_ptr<VideoDecoder>> freed;
    decoder.CountBytesInto(&m_openBytes);
    std::lock_guard lock(m_mutex);
    TrimToBudget(freed);
}

void DecoderPool::TrimToBudget(std::vector<std::unique_ptr<VideoDecoder>>& freed) {
    // The decoders in use count too: idle ones kept beside busy areas, and beside fresh ones
    // opened where an idle one was too far behind, made a long render's memory climb.
    std::size_t freedBytes = 0;
    for (const auto& decoder : freed) {
        freedBytes += decoder->PictureBytes();  // still counted until it closes
    }
    while (m_idle.size() > 1 && m_openBytes.load() - freedBytes > m_limits.decoderBytes) {
        const auto it =
            std::min_element(m_idle.begin(), m_idle.end(),
                             [](const Idle& a, const Idle& b) { return a.age < b.age; });
        freedBytes += it->bytes;
        freed.push_back(std::move(it->decoder));
        m_idle.erase(it);
    }
}

void DecoderPool::KeepOnly(const std::set<std::string>& paths) {
    std::vector<std::unique_ptr<VideoDecoder>> freed;
    std::lock_guard lock(m_mutex);
    for (auto it = m_idle.begin(); it != m_idle.end();) {
        if (paths.count(it->decoder->Path()) == 0) {
            freed.push_back(std::move(it->decoder));
            it = m_idle.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t DecoderPool::IdleCount() const {
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

void DecoderPool::Enter(const std::string& path, std::uint64_t turn) {
    std::lock_guard lock(m_mutex);
    m_holders.emplace(path, turn);
}

void DecoderPool::Leave(const std::string& path, std::uint64_t turn) {
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_holders.find({path, turn});
        if (found != m_holders.end()) {
            m_holders.erase(found);
        }
    }
    m_turnsChanged.notify_all();
}

bool DecoderPool::WaitTurn(const std::string& path, std::uint64_t turn,
                           const std::atomic<bool>& stop) {
    std::unique_lock lock(m_mutex);
    m_turnsChanged.wait(lock, [&] {
        const auto first = m_holders.lower_bound({path, 0});
        return stop.load() || first == m_holders.end() || first->first != path ||
               first->second >= turn;
    });
    return !stop.load();
}

void DecoderPool::WakeWaiters() {
    { std::lock_guard lock(m_mutex); }
    m_turnsChanged.notify_all();
}

void DecoderPool::NoteUsed(const std::string& path, std::int64_t frame) {
    std::lock_guard lock(m_mutex);
    m_used.emplace(path, frame);
}

std::uint64_t DecoderPool::DistinctUsed() const {
    std::lock_guard lock(m_mutex);
    return m_used.size();
}

}  // namespace zorvo
