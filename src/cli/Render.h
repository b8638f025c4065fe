#pragma once

#include <string>

namespace zorvo {

// Runs one whole build job and waits for it. The first SIGINT or SIGTERM asks the job to stop
// (it still closes a valid, shorter file); a second one aborts at once. Returns the exit
// status: 0 built, 1 failed, 130 stopped by a signal.
int RunRender(const std::string& scriptPath);

}  // namespace zorvo
