#pragma once

#include <cstdint>

namespace zorvo {

// Receives every finished output frame (the desktop preview, or nothing on the command line).
// Called on the build thread; the implementation copies what it needs before returning.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // bits: bottom-up rows of 3 x width bytes, blue, green, red.
    virtual void ShowFrame(const std::uint8_t* bits, int width, int height) = 0;
};

}  // namespace zorvo
