#pragma once

#include <string>

namespace zorvo {

struct StillOptions {
    std::string at;      // WHEN: mm:ss.mmm, seconds, or MEASURE.BEAT
    std::string output;  // empty: beside the script, named after it and the song frame
    int width = 0;       // 0: the script's size
};

// Composes the frame the render writes at one moment of the song and writes it as PNG.
// Returns the exit status: 0 written, 1 failed (the log says why), 2 a WHEN that is no moment.
int RunStill(const std::string& scriptPath, const StillOptions& options);

// The default output of a still: SCRIPT's name without its extension, ".still-", the song
// frame, ".png".
std::string DefaultStillPath(const std::string& scriptPath, long long frame);

}  // namespace zorvo
