#include "script/LayoutType.h"

#include <array>
#include <string_view>

#include "common/LogChannel.h"

namespace zorvo {

namespace {

constexpr std::array<std::string_view, 13> kNames{
    "1fullscreen",  "1left_1right", "1top_1bottom", "1left_2right", "2left_1right",
    "1top_2bottom", "2top_1bottom", "2top_2bottom", "1top_3bottom", "3top_1bottom",
    "2top_3bottom", "3top_2bottom", "3top_3bottom"};

}  // namespace

std::string_view LayoutName(LayoutType layout) {
    const auto code = static_cast<std::int32_t>(layout);
    if (code >= 2 && code < 2 + static_cast<std::int32_t>(kNames.size())) {
        return kNames[static_cast<size_t>(code - 2)];
    }
    return layout == LayoutType::None ? "none" : "unknown";
}

LayoutType ParseLayout(const std::string& name) {
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<LayoutType>(i + 2);
        }
    }
    if (name == "none") {
        return LayoutType::None;
    }
    PostQuoted("Error (Layout): Unknown layout type '", name, "'.\n");
    return LayoutType::Unknown;
}

}  // namespace zorvo
