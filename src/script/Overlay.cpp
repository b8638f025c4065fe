#include "script/Overlay.h"

#include "common/LogChannel.h"

namespace zorvo {

bool CSOverlay::Parse(const std::string& body) {
    size_t cursor = 0;
    std::string arguments;
    if (!ExtractCall(body, "capture", cursor, arguments)) {
        return true;
    }
    static constexpr const char* kFailures[4] = {
        "Error (SOverlay): Failed to extract 'left'.\n",
        "Error (SOverlay): Failed to extract 'top'.\n",
        "Error (SOverlay): Failed to extract 'right'.\n",
        "Error (SOverlay): Failed to extract 'bottom'.\n",
    };
    std::int32_t values[4] = {};
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        std::string value;
        if (!NextArgument(arguments, at, value)) {
            PostLog(kFailures[i]);
            return false;
        }
        values[i] = ToInt(value);
    }
    captureLeft = values[0];
    captureTop = values[1];
    captureRight = values[2];
    captureBottom = values[3];
    return true;
}

bool CSOverlay::Validate() const {
    // A negative loop length is refused as well: it would capture nothing and loop on nothing.
    if (inputId.empty() || loopFrames > 0) {
        return true;
    }
    PostLog(
        "Error (SOverlay): Failed to validate script: overlay was set but loop count is "
        "incorrect.\n");
    return false;
}

}  // namespace zorvo
