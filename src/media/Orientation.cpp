#include "media/Orientation.h"

#include <cstdlib>

namespace zorvo {

Orientation OrientationOfTurn(int degrees) {
    switch (degrees) {
        case 90:
            return {true, true, false};
        case 180:
            return {false, true, true};
        case 270:
            return {true, false, true};
        default:
            return {};
    }
}

Orientation OrientationOfMatrix(const std::int32_t* matrix) {
    if (!matrix) {
        return {};
    }
    // A point (x, y) of the stored picture is shown at (a x + c y, b x + d y), rows counted
    // downwards: with a and d zero the rows become columns.
    const std::int64_t a = matrix[0];
    const std::int64_t b = matrix[1];
    const std::int64_t c = matrix[3];
    const std::int64_t d = matrix[4];
    if (std::llabs(a) + std::llabs(d) >= std::llabs(b) + std::llabs(c)) {
        return {false, a < 0, d < 0};
    }
    return {true, c < 0, b < 0};
}

std::string DescribeOrientation(const Orientation& orientation) {
    // The quarter turns are those without a mirror, or those of its mirror image.
    Orientation turn = orientation;
    bool mirrored = false;
    int degrees = 0;
    for (;; mirrored = true, turn.mirrorX = !turn.mirrorX) {
        for (degrees = 0; degrees < 360 && OrientationOfTurn(degrees) != turn; degrees += 90) {
        }
        if (degrees < 360 || mirrored) {
            break;
        }
    }
    std::string text = degrees > 0 && degrees < 360
                           ? "rotated " + std::to_string(degrees) + "\u00b0"
                           : std::string();
    if (mirrored) {
        text += text.empty() ? "mirrored" : ", mirrored";
    }
    return text;
}

}  // namespace zorvo
