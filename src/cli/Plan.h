#pragma once

#include <string>

namespace zorvo {

struct PlanOptions {
    bool blocks = false;  // every block with the input of every area
    bool json = false;
};

// Prints the timeline the render of the script would follow, span by span, without decoding
// anything. Returns the exit status: 0 valid, 1 not (as `check`).
int RunPlan(const std::string& scriptPath, const PlanOptions& options);

// A duration in ms as [-]mm:ss.mmm, rounded to the millisecond.
std::string SongTime(double ms);

}  // namespace zorvo
