#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvo {

// How long one picture of a display entry lasts (and how far apart strobe flashes are).
enum class DisplayCycle : std::int32_t {
    Unknown = 0,
    None = 1,  // no period of its own: the block length in force
    EachMeasure = 2,
    EachBeat = 3,
    Every2Beats = 4,
    Every3Beats = 5,
    EveryHalfBeat = 6,
    EveryQuarterBeat = 7,
    EveryEighthBeat = 8,
};

enum class MarkerEffect : std::int32_t {
    Unknown = 0,
    None = 1,
    FadeIn = 2,
    FadeOut = 3,
    Strobe = 4,
};

// The script keyword of a code; "unknown" for codes outside the table.
std::string_view CycleName(DisplayCycle cycle);
std::string_view EffectName(MarkerEffect effect);

// Unknown (0) and a logged line for a name not in the table.
DisplayCycle ParseDisplayCycle(const std::string& name);
MarkerEffect ParseEffect(const std::string& name);

}  // namespace zorvo
