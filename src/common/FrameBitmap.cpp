#include "common/FrameBitmap.h"

#include <limits>
#include <new>

namespace zorvo {

bool FrameBitmap::Allocate(int width, int height) {
    Reset();
    if (width <= 0 || height <= 0) {
        return false;
    }
    const size_t bytes3 = static_cast<size_t>(width) * 3;
    if (static_cast<size_t>(height) > std::numeric_limits<size_t>::max() / bytes3) {
        return false;
    }
    std::unique_ptr<std::uint8_t[]> bits(new (std::nothrow)
                                             std::uint8_t[bytes3 * static_cast<size_t>(height)]());
    if (!bits) {
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
