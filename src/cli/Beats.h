#pragma once

#include <string>

namespace zorvo {

struct BeatsOptions {
    bool json = false;   // one JSON document on standard output instead of the report
    bool write = false;  // write the tempos (and song_start) the song asks for into the script
};

// Finds the song's beats and holds each span of the script against them. Returns the exit
// status: 0 every span within a frame of its beats, 1 not (or the script or song failed).
int RunBeats(const std::string& scriptPath, const BeatsOptions& options);

}  // namespace zorvo
