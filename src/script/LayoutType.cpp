#include "script/LayoutType.h"

#include <array>
#include <span>
#include <string_view>

#include "common/LogChannel.h"
#include "script/ScriptLint.h"

namespace zorvo {

namespace {

// "none" last: it is looked for after the others.
constexpr std::array<std::string_view, 14> kAllNames{
    "1fullscreen",  "1left_1right", "1top_1bottom", "1left_2right", "2left_1right",
    "1top_2bottom", "2top_1bottom", "2top_2bottom", "1top_3bottom", "3top_1bottom",
    "2top_3bottom", "3top_2bottom", "3top_3bottom", "none"};
constexpr std::span<const std::string_view> kNames(kAllNames.data(), 13);

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
    PostNameHint("Error (Layout): ", name, kAllNames);
    return LayoutType::Unknown;
}

}  // namespace zorvo
