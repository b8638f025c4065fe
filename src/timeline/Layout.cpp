#include "timeline/Layout.h"

#include <array>

namespace zorvo {

bool GetLayoutRects(std::uint32_t width, std::uint32_t height, LayoutType layout,
                    std::vector<Rect>& displays, std::vector<Rect>& separators) {
    displays.clear();
    separators.clear();
    const auto W = static_cast<std::int32_t>(width);
    const auto H = static_cast<std::int32_t>(height);
    const auto hw = static_cast<std::int32_t>(width / 2);
    const auto hh = static_cast<std::int32_t>(height / 2);
    const auto t1 = static_cast<std::int32_t>(width / 3);
    const auto t2 = static_cast<std::int32_t>((2 * width) / 3);

    // Thirds overlap by one column; the later display owns it.
    const std::vector<Rect> upperThirds{{0, hh, t1 + 1, H}, {t1, hh, t2 + 1, H}, {t2, hh, W, H}};
    const std::vector<Rect> lowerThirds{{0, 0, t1 + 1, hh}, {t1, 0, t2 + 1, hh}, {t2, 0, W, hh}};
    auto append = [](std::vector<Rect>& to, const std::vector<Rect>& from) {
        to.insert(to.end(), from.begin(), from.end());
    };

    switch (layout) {
        case LayoutType::Fullscreen1:
            displays = {{0, 0, W, H}};
            break;
        case LayoutType::Left1Right1:
            displays = {{0, 0, hw, H}, {hw, 0, W, H}};
            separators = {{hw, 0, hw, H}};
            break;
        case LayoutType::Top1Bottom1:
            displays = {{0, hh, W, H}, {0, 0, W, hh}};
            separators = {{0, hh, W, hh}};
            break;
        case LayoutType::Left1Right2:
            displays = {{0, 0, hw, H}, {hw, hh, W, H}, {hw, 0, W, hh}};
            separators = {{hw, 0, hw, H}, {hw, hh, W, hh}};
            break;
        case LayoutType::Left2Right1:
            displays = {{0, hh, hw, H}, {0, 0, hw, hh}, {hw, 0, W, H}};
            separators = {{hw, 0, hw, H}, {0, hh, hw, hh}};
            break;
        case LayoutType::Top1Bottom2:
            displays = {{0, hh, W, H}, {0, 0, hw, hh}, {hw, 0, W, hh}};
            separators = {{0, hh, W, hh}, {hw, 0, hw, hh}};
            break;
        case LayoutType::Top2Bottom1:
            displays = {{0, hh, hw, H}, {hw, hh, W, H}, {0, 0, W, hh}};
            separators = {{hw, hh, hw, H}, {0, hh, W, hh}};
            break;
        case LayoutType::Top2Bottom2:
            displays = {{0, hh, hw, H}, {hw, hh, W, H}, {0, 0, hw, hh}, {hw, 0, W, hh}};
            separators = {{hw, 0, hw, H}, {0, hh, W, hh}};
            break;
        case LayoutType::Top1Bottom3:
            displays = {{0, hh, W, H}};
            append(displays, lowerThirds);
            separators = {{t1, 0, t1, hh}, {t2, 0, t2, hh}, {0, hh, W, hh}};
            break;
        case LayoutType::Top3Bottom1:
            displays = upperThirds;
            displays.push_back({0, 0, W, hh});
            separators = {{0, hh, W, hh}, {t1, hh, t1, H}, {t2, hh, t2, H}};
            break;
        case LayoutType::Top2Bottom3:
            displays = {{0, hh, hw, H}, {hw, hh, W, H}};
            append(displays, lowerThirds);
            separators = {{hw, hh, hw, H}, {t1, 0, t1, hh}, {t2, 0, t2, hh}, {0, hh, W, hh}};
            break;
        case LayoutType::Top3Bottom2:
            displays = upperThirds;
            append(displays, {{0, 0, hw, hh}, {hw, 0, W, hh}});
            separators = {{t1, hh, t1, H}, {t2, hh, t2, H}, {hw, 0, hw, hh}, {0, hh, W, hh}};
            break;
        case LayoutType::Top3Bottom3:
            displays = upperThirds;
            append(displays, lowerThirds);
            separators = {{t1, 0, t1, H}, {t2, 0, t2, H}, {0, hh, W, hh}};
            break;
        default:
            return false;
    }
    return true;
}

}  // namespace zorvo
