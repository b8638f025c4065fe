#pragma once

#include <cstdint>
#include <vector>

#include "common/Rect.h"
#include "script/LayoutType.h"

namespace zorvo {

// Display rectangles in display order and the separator segments (zero-width or zero-height
// rectangles) for a width x height picture, rows counted from the bottom. False, with both
// lists empty, for None and unknown codes.
bool GetLayoutRects(std::uint32_t width, std::uint32_t height, LayoutType layout,
                    std::vector<Rect>& displays, std::vector<Rect>& separators);

}  // namespace zorvo
