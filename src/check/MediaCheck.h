#pragma once

#include <string>

#include "script/Script.h"

namespace zorvo {

// Looks, before anything is written, at every file a build of the validated `script` will read
// or write: each input that a block or the overlay captures opens and can be decoded, each
// segment lies inside its file, the WAVE file is one the writer takes, every display list fits
// its layout and the output folder takes files. Reads headers only. Posts one line per problem
// (all of them, not just the first) and nothing when all is well; false when any was found.
// Without `writesOutput` (stills only), the output folder and the WAVE file are not looked at.
bool CheckMedia(const CScript& script, bool writesOutput = true);

// Whether the folder of the file `path` exists and takes new files; false after a line.
bool CheckOutputFolder(const std::string& path);

}  // namespace zorvo
