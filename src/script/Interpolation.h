#pragma once

#include <cstdint>
#include <string>

namespace zorvo {

// Scaler flags (libswscale values) of fast_bilinear, the interpolation of a script that names
// none and of the Adjustments preview. Each script carries its own (CScript::interpolation) and
// hands it to its captures, so loading another script never changes a running render's scaler.
inline constexpr std::int32_t kDefaultInterpolation = 1;

// The flag value of an interpolation name; unknown names give 1 and a warning line.
std::int32_t ParseInterpolation(const std::string& name);

}  // namespace zorvo
