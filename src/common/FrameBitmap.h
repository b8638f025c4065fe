#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorvo {

// A 24-bit picture: tightly packed rows of 3 x width bytes, blue, green, red, bottom-up
// (row 0 is the bottom line of the picture). Every part of the program addresses pixels
// this way.
class FrameBitmap {
  public:
    FrameBitmap() = default;

    // Allocates width x height pixels, all black. False (and an empty bitmap) when the size
    // is not positive, overflows, or the memory cannot be had.
    bool Allocate(int width, int height);
    // As Allocate, with the pixels left as they come: for a picture written whole next.
    bool AllocateUnset(int width, int height);
    // Takes `bits`, a picture of at least 3 x width x height bytes laid out as above. False (and
    // an empty bitmap) when the size is not positive or there are no bits.
    bool Adopt(int width, int height, std::unique_ptr<std::uint8_t[]> bits);
    void Reset();

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    bool Empty() const { return !m_bits; }
    size_t Stride() const { return static_cast<size_t>(m_width) * 3; }
    size_t SizeBytes() const { return Stride() * static_cast<size_t>(m_height); }

    std::uint8_t* Bits() { return m_bits.get(); }
    const std::uint8_t* Bits() const { return m_bits.get(); }
    // Row y counted from the bottom of the picture.
    std::uint8_t* Row(int y) { return m_bits.get() + Stride() * static_cast<size_t>(y); }
    const std::uint8_t* Row(int y) const {
        return m_bits.get() + Stride() * static_cast<size_t>(y);
    }

  private:
    int m_width = 0;
    int m_height = 0;
    std::unique_ptr<std::uint8_t[]> m_bits;
};

}  // namespace zorvo
