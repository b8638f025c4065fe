#pragma once

#include <cstdint>

#include "common/FrameBitmap.h"

namespace zorvo {

// What the playback feeder composes from: the studio's FrameEngine, or a stand-in that lets a
// test hold a frame half-way.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Frames of the whole song; Compose takes 0 to FrameCount() - 1.
    virtual std::int64_t FrameCount() const = 0;
    // Composes song frame `frame` into `picture` (`width` pixels wide, 0: the script's size).
    // False after a log line, or without one when cancelled.
    virtual bool Compose(std::int64_t frame, FrameBitmap& picture, int width) = 0;
    // Makes a running Compose give up soon, from any thread; the next Compose clears it.
    virtual void Cancel() = 0;
    // Whether the last Compose was cancelled (or a cancel has come since it began).
    virtual bool Cancelled() const = 0;
};

}  // namespace zorvo
