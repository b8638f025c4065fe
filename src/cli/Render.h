#pragma once

#include <string>

namespace zorvo {

// Runs one whole build job and waits for it. The first SIGINT or SIGTERM asks the job to stop
// (it still closes a valid, shorter file); a second one aborts at once. Returns the exit
// status: 0 built, 1 failed, 130 stopped by a signal. A non-empty outputPath replaces the
// script's output path (its extension chooses the writer as the script's would).
int RunRender(const std::string& scriptPath, const std::string& outputPath = {});

}  // namespace zorvo
