#pragma once

#include <string>

namespace zorvo {

// Runs one whole build job and waits for it. The first SIGINT or SIGTERM asks the job to stop
// (it still closes a valid, shorter file); a second one aborts at once. Returns the exit
// status: 0 built, 1 failed, 130 stopped by a signal. A non-empty outputPath replaces the
// script's output path (its extension chooses the writer as the script's would).
int RunRender(const std::string& scriptPath, const std::string& outputPath = {});

struct StoryboardOptions {
    std::string output;
    bool everySpan = false;  // one still per span instead of one per block
    int thumbWidth = 240;
};

// Renders the first frame of every block (or span) as the render would and writes them as a
// captioned contact sheet in PNG. Same exit statuses as RunRender.
int RunStoryboard(const std::string& scriptPath, const StoryboardOptions& options);

}  // namespace zorvo
