#include "script/Interpolation.h"

#include <array>
#include <string_view>
#include <utility>

#include "common/LogChannel.h"
#include "script/ScriptLint.h"

namespace zorvo {

std::int32_t ParseInterpolation(const std::string& name) {
    static constexpr std::array<std::pair<std::string_view, std::int32_t>, 11> kNames{{
        {"fast_bilinear", 1},
        {"bilinear", 2},
        {"bicubic", 4},
        {"x", 8},
        {"point", 16},
        {"area", 32},
        {"bicublin", 64},
        {"gauss", 128},
        {"sinc", 256},
        {"lanczos", 512},
        {"spline", 1024},
    }};
    for (const auto& [known, value] : kNames) {
        if (name == known) {
            return value;
        }
    }
    PostQuoted("Warning (Script): Unknown interpolation type '", name,
               "'. defaulting on 'fast_bilinear'\n");
    std::array<std::string_view, kNames.size()> names;
    for (size_t i = 0; i < names.size(); ++i) {
        names[i] = kNames[i].first;
    }
    PostNameHint("Warning (Script): ", name, names);
    return kDefaultInterpolation;
}

}  // namespace zorvo
