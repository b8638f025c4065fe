#pragma once

#include <string>

#include "script/Script.h"

namespace zorvo {

enum class WrittenFile { Output, Storyboard };

// Refuses, before anything is opened, to write over a file the build reads. Compares by file
// identity (device and inode, so through symbolic and hard links): `written` and, for an
// output, every file a render may write, rename or remove beside it (its numbered parts, its
// partial files, its lock; OutputFiles.h) against the script, the WAVE file, every input and
// the overlay. Posts one line per clash naming both; false when there was one.
bool CheckWrittenFile(const CScript& script, const std::string& written, WrittenFile what);

}  // namespace zorvo
