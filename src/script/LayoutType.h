#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvo {

// How the picture is divided among a marker's display entries.
enum class LayoutType : std::int32_t {
    Unknown = 0,
    None = 1,  // terminal marker only
    Fullscreen1 = 2,
    Left1Right1 = 3,
    Top1Bottom1 = 4,
    Left1Right2 = 5,
    Left2Right1 = 6,
    Top1Bottom2 = 7,
    Top2Bottom1 = 8,
    Top2Bottom2 = 9,
    Top1Bottom3 = 10,
    Top3Bottom1 = 11,
    Top2Bottom3 = 12,
    Top3Bottom2 = 13,
    Top3Bottom3 = 14,
};

// The code of a layout keyword; Unknown with a logged line for anything else.
LayoutType ParseLayout(const std::string& name);
// The script keyword of a code; "unknown" for codes outside the table.
std::string_view LayoutName(LayoutType layout);

}  // namespace zorvo
