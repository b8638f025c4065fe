#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture/VideoDecoder.h"

namespace zorvo {

// The open decoders of a build that no capture is using, so that the next block of an input
// goes on decoding where the last one stopped instead of opening the file and seeking again.
// Shared by the captures of one build; every member is safe to call from any thread.
class DecoderPool {
  public:
    struct Limits {
        std::size_t perFile = 3;  // several areas may show one file at different times
        std::size_t total = 8;
        // Areas that show the same input from the same moment share one capture.
        bool shareCaptures = true;
        // Pictures well before the one needed that no other picture refers to are not decoded.
        bool passOver = true;
        // A render launches the next block's captures while the current block is composed.
        bool launchEarly = true;
        // What the pictures of all the open decoders, in use and idle, may take; beyond it the
        // idle ones go (the latest one given back always stays): four full HD decoders, one for
        // each camera that takes turns with the others, or four areas at once.
        std::size_t decoderBytes = std::size_t{128} << 20;
    };

    DecoderPool() = default;
    explicit DecoderPool(Limits limits) : m_limits(limits) {}
    DecoderPool(const DecoderPool&) = delete;
    DecoderPool& operator=(const DecoderPool&) = delete;

    // An idle decoder of `path` that can reach the source frame at `startMs` (or frame
    // `firstFrame` of a segment starting there) by decoding forward a little (or by stepping
    // back one kept picture), the closest one; null when there is none. The caller owns it
    // until it gives it back.
    // Only a decoder that deinterlaces as `deinterlace` says is taken.
    std::unique_ptr<VideoDecoder> Take(const std::string& path, std::int64_t startMs,
                                       std::uint32_t firstFrame = 0,
                                       DeinterlaceMode deinterlace = DeinterlaceMode::Auto);
    // Keeps a decoder that sits on the last picture it decoded; beyond the limits the decoders
    // given back longest ago go.
    void Give(std::unique_ptr<VideoDecoder> decoder);
    // Counts a decoder a capture opened itself against `decoderBytes` while it is open (those
    // taken from the pool are counted already), and frees idle ones beyond them. The decoder
    // must not outlive the pool.
    void Track(VideoDecoder& decoder);
    // Frees the idle decoders of every file but `paths`.
    void KeepOnly(const std::set<std::string>& paths);
    std::size_t IdleCount() const;
    bool SharesCaptures() const { return m_limits.shareCaptures; }
    bool PassesOver() const { return m_limits.passOver; }
    bool LaunchesEarly() const { return m_limits.launchEarly; }

    // Turns, so that a capture launched early takes over the decoder of its file only after the
    // captures before it have given theirs back: a capture holds the file from Enter until
    // Leave; WaitTurn returns once no capture of an earlier turn holds the file (true), or
    // when `stop` is set (false; WakeWaiters makes a waiter look at it).
    void Enter(const std::string& path, std::uint64_t turn);
    void Leave(const std::string& path, std::uint64_t turn);
    bool WaitTurn(const std::string& path, std::uint64_t turn, const std::atomic<bool>& stop);
    void WakeWaiters();

    // Statistics: pictures the decoders delivered, and the distinct source frames the
    // captures used (per file).
    std::atomic<std::uint64_t> decodedPictures{0};
    void NoteUsed(const std::string& path, std::int64_t frame);
    std::uint64_t DistinctUsed() const;

  private:
    struct Idle {
        std::unique_ptr<VideoDecoder> decoder;
        std::uint64_t age = 0;
        std::size_t bytes = 0;
    };

    // Moves the idle decoders given back longest ago into `freed` while all the open decoders
    // take more than `decoderBytes`, keeping the latest one given back. Called under the lock;
    // the freed ones close (and count themselves out) after it.
    void TrimToBudget(std::vector<std::unique_ptr<VideoDecoder>>& freed);

    Limits m_limits;
    // Declared before the idle decoders, which count themselves out when they close.
    std::atomic<std::size_t> m_openBytes{0};
    mutable std::mutex m_mutex;
    std::vector<Idle> m_idle;
    std::uint64_t m_ages = 0;
    std::set<std::pair<std::string, std::int64_t>> m_used;
    std::multiset<std::pair<std::string, std::uint64_t>> m_holders;
    std::condition_variable m_turnsChanged;
};

}  // namespace zorvo
