#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/FrameBitmap.h"

namespace zorvo {

// The picture as a PNG file's bytes (libspng): 8-bit RGB, each row predicted from the one above,
// at a light deflate level (the stills hardly pack at any level). False after a log line.
bool EncodePng(const FrameBitmap& picture, std::vector<std::uint8_t>& out);

// Writes the picture as a PNG file, under a partial name renamed into place, so an earlier file
// is replaced whole or not at all (and a link at the path is replaced, not written through).
// False after a log line.
bool WritePng(const FrameBitmap& picture, const std::string& path);

}  // namespace zorvo
