#include "script/Cycles.h"

#include <array>
#include <string_view>

#include "common/LogChannel.h"

namespace zorvo {

DisplayCycle ParseDisplayCycle(const std::string& name) {
    static constexpr std::array<std::string_view, 8> kNames{
        "none",          "each_measure",    "each_beat",          "every_2_beats",
        "every_3_beats", "every_half_beat", "every_quarter_beat", "every_eighth_beat"};
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<DisplayCycle>(i + 1);
        }
    }
    PostQuoted("Error (SMDisplay): Unknown display cycle type '", name, "'.\n");
    return DisplayCycle::Unknown;
}

MarkerEffect ParseEffect(const std::string& name) {
    static constexpr std::array<std::string_view, 4> kNames{"none", "fade_in", "fade_out",
                                                            "strobe"};
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<MarkerEffect>(i + 1);
        }
    }
    PostQuoted("Error (SMEffect): Unknown effect type '", name, "'.\n");
    return MarkerEffect::Unknown;
}

}  // namespace zorvo
