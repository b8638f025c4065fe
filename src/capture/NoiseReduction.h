#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorvo {

// Temporal noise reduction of one capture: a running picture that every new picture is
// filtered into, component by component. Small changes are frozen, medium ones damped two
// thirds towards the new value, large ones pass at once. One object per capture; the running
// picture carries over from frame to frame. Not shared between threads.
class NoiseReduction {
  public:
    // Filters `picture` (3 x width x height bytes, packed rows) into the running picture and
    // copies the running picture to `out` (same size). The running picture starts black; a
    // call with another size than the previous one starts a fresh, black running picture of
    // the new size. A level of 0 or less copies the picture unchanged and leaves the running
    // picture alone; levels above 100 act as 100. An empty size (width or height 0 or less)
    // does nothing. False, with a log line, only when the running picture cannot be
    // allocated; `out` is then left untouched.
    bool Apply(int level, const std::uint8_t* picture, std::uint8_t* out, int width, int height);

  private:
    bool Allocate(int width, int height);

    std::unique_ptr<std::uint8_t[]> m_pNoiseBuffer;
    std::size_t m_noiseBytes = 0;
    int m_width = 0;
    int m_height = 0;
    // (old + 2 x new) / 3 for every sum 0 ... 765, so no byte needs a division.
    std::array<std::uint8_t, 766> m_noiseAverage{};
};

}  // namespace zorvo
