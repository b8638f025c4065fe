#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace zorvo {

// Scaler flags (libswscale values) set by the most recent `output` statement and read by
// every capture when it creates its scaler. Shared by all builds and the Adjustments preview;
// fast_bilinear (1) until the first script is read.
extern std::atomic<std::int32_t> interpolationFlags;

// The flag value of an interpolation name; unknown names give 1 and a warning line.
std::int32_t ParseInterpolation(const std::string& name);

}  // namespace zorvo
