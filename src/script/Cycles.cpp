#include "script/Cycles.h"

#include <array>
#include <string_view>

#include "common/LogChannel.h"
#include "script/ScriptLint.h"

namespace zorvo {

namespace {

constexpr std::array<std::string_view, 8> kCycleNames{
    "none",          "each_measure",    "each_beat",          "every_2_beats",
    "every_3_beats", "every_half_beat", "every_quarter_beat", "every_eighth_beat"};
constexpr std::array<std::string_view, 4> kEffectNames{"none", "fade_in", "fade_out", "strobe"};

template <typename Code, size_t N>
std::string_view NameOf(Code code, const std::array<std::string_view, N>& names) {
    const auto i = static_cast<std::int32_t>(code);
    return i >= 1 && i <= static_cast<std::int32_t>(N) ? names[static_cast<size_t>(i - 1)]
                                                       : "unknown";
}

}  // namespace

std::string_view CycleName(DisplayCycle cycle) {
    return NameOf(cycle, kCycleNames);
}

std::string_view EffectName(MarkerEffect effect) {
    return NameOf(effect, kEffectNames);
}

DisplayCycle ParseDisplayCycle(const std::string& name) {
    const auto& kNames = kCycleNames;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<DisplayCycle>(i + 1);
        }
    }
    PostQuoted("Error (SMDisplay): Unknown display cycle type '", name, "'.\n");
    PostNameHint("Error (SMDisplay): ", name, kCycleNames);
    return DisplayCycle::Unknown;
}

MarkerEffect ParseEffect(const std::string& name) {
    const auto& kNames = kEffectNames;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<MarkerEffect>(i + 1);
        }
    }
    PostQuoted("Error (SMEffect): Unknown effect type '", name, "'.\n");
    PostNameHint("Error (SMEffect): ", name, kEffectNames);
    return MarkerEffect::Unknown;
}

}  // namespace zorvo
