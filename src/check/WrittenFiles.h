#pragma once

#include <string>
#include <utility>
#include <vector>

#include "script/Script.h"

namespace zorvo {

enum class WrittenFile { Output, Storyboard };

// The files a build of a script reads: what each is ("the input 'camA'") and its path.
using ReadFiles = std::vector<std::pair<std::string, std::string>>;
// The script, the WAVE file, every input and the overlay.
ReadFiles FilesRead(const CScript& script);

// Refuses, before anything is opened, to write over a file the build reads. Compares by file
// identity (device and inode, so through symbolic and hard links): `written` and, for an
// output, every file a render may write, rename or remove beside it (its numbered parts, its
// partial files, its lock; OutputFiles.h) against the files read, and refuses any of them that
// is there but not a regular file (CheckReplaceable). Posts one line per clash naming both;
// false when there was one.
bool CheckWrittenFile(const ReadFiles& reads, const std::string& written, WrittenFile what);
inline bool CheckWrittenFile(const CScript& script, const std::string& written, WrittenFile what) {
    return CheckWrittenFile(FilesRead(script), written, what);
}

}  // namespace zorvo
