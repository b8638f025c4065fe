#pragma once

#include <string>
#include <vector>

#include "common/LogChannel.h"
#include "media/VideoProbe.h"
#include "script/Script.h"

namespace zorvo {

// Looks, before anything is written, at every file a build of the validated `script` will read
// or write: each input that a block or the overlay captures opens and can be decoded, each
// segment lies inside its file, the WAVE file is one the writer takes, every display list fits
// its layout and the output folder takes files. Reads headers only. Posts one line per problem
// (all of them, not just the first) and nothing when all is well; false when any was found.
// Without `writesOutput` (stills only), the output folder and the WAVE file are not looked at.
// `found`, when given, receives a line for every input the check opened, by id: what its file
// holds as the capture will show it (see DescribeInput).
bool CheckMedia(const CScript& script, bool writesOutput = true,
                std::vector<Message>* found = nullptr);

// "Input 'cam1': h264, 1280x720, 25 fps, BT.709 limited (file cam1.mp4).\n": the codec, the
// size as shown (after the turn, named), the frame rate or "variable frame rate", the colour and,
// where so, "interlaced, deinterlaced" ("not deinterlaced" under deinterlace( off ), a progressive
// stream under deinterlace( on ) "deinterlaced").
std::string DescribeInput(const CSInput& input, const VideoFacts& facts);

// Whether the folder of the file `path` exists and takes new files; false after a line.
bool CheckOutputFolder(const std::string& path);

}  // namespace zorvo
