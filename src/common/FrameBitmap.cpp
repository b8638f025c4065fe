#include "common/FrameBitmap.h"

#include <limits>
#include <new>

namespace zorvo {

namespace {

// The bytes of a width x height picture, or 0 when the size is not positive or overflows.
size_t PictureBytes(int width, int height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const size_t bytes3 = static_cast<size_t>(width) * 3;
    if (static_cast<size_t>(height) > std::numeric_limits<size_t>::max() / bytes3) {
        return 0;
    }
    return bytes3 * static_cast<size_t>(height);
}

}  // namespace

bool FrameBitmap::Allocate(int width, int height) {
    const size_t bytes = PictureBytes(width, height);
    return Adopt(width, height,
                 std::unique_ptr<std::uint8_t[]>(
                     bytes > 0 ? new (std::nothrow) std::uint8_t[bytes]() : nullptr));
}

bool FrameBitmap::AllocateUnset(int width, int height) {
    const size_t bytes = PictureBytes(width, height);
    return Adopt(width, height,
                 std::unique_ptr<std::uint8_t[]>(bytes > 0 ? new (std::nothrow) std::uint8_t[bytes]
                                                           : nullptr));
}

bool FrameBitmap::Adopt(int width, int height, std::unique_ptr<std::uint8_t[]> bits) {
    Reset();
    if (!bits || PictureBytes(width, height) == 0) {
        return false;
    }
    m_bits = std::move(bits);
    m_width = width;
    m_height = height;
    return true;
}

void FrameBitmap::Reset() {
    m_bits.reset();
    m_width = 0;
    m_height = 0;
}

}  // namespace zorvo
