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
    // Makes a running Compose, or the next one, give up soon, from any thread, until
    // ClearCancel: a cancel that comes just before a Compose starts is not lost.
    virtual void Cancel() = 0;
    // Lets the next Compose run; called while none runs.
    virtual void ClearCancel() = 0;
    // Whether a cancel has come since the last ClearCancel.
    virtual bool Cancelled() const = 0;
    // The next Compose calls follow one another through the song (playback) or not (stills);
    // called on the composing thread before each.
    virtual void SetPlaying(bool) {}
};

}  // namespace zorvo
