#pragma once

#include <cstdint>

namespace zorvo {

// Half-open rectangle. On a frame bitmap, x counts columns from the left and y counts rows
// from the bottom, so `top` holds the lower edge.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

}  // namespace zorvo
