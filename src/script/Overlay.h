#pragma once

#include <cstdint>
#include <string>

#include "script/Extract.h"

namespace zorvo {

// A short clip of one input laid over every output frame, looping for the whole video.
class CSOverlay : public CExtract {
  public:
    bool Parse(const std::string& body);
    bool Validate() const;

    std::string inputId;  // empty: no overlay
    std::int32_t loopFrames = 0;
    // Source rectangle; left == right selects the whole picture.
    std::int32_t captureLeft = 0;
    std::int32_t captureTop = 0;
    std::int32_t captureRight = 0;
    std::int32_t captureBottom = 0;
};

}  // namespace zorvo
