#pragma once

#include <cstdint>
#include <string>

namespace zorvo {

// How a stored picture is turned to be shown upright: first its rows become its columns
// (`transpose`), then it is mirrored left to right (`mirrorX`) and upside down (`mirrorY`).
struct Orientation {
    bool transpose = false;
    bool mirrorX = false;
    bool mirrorY = false;

    bool Identity() const { return !transpose && !mirrorX && !mirrorY; }
    // The size of the upright picture of a stored one.
    int ShownWidth(int storedWidth, int storedHeight) const {
        return transpose ? storedHeight : storedWidth;
    }
    int ShownHeight(int storedWidth, int storedHeight) const {
        return transpose ? storedWidth : storedHeight;
    }
    bool operator==(const Orientation&) const = default;
};

// A clockwise turn by 0, 90, 180 or 270 degrees (other values: none).
Orientation OrientationOfTurn(int degrees);

// What a display matrix (libavutil's nine 32-bit values) does, to the nearest quarter turn:
// players show the picture that way. Null: none.
Orientation OrientationOfMatrix(const std::int32_t* matrix);

// "", "rotated 90°", "rotated 180°, mirrored", "mirrored", … (clockwise), as rotate( ) names it.
std::string DescribeOrientation(const Orientation& orientation);

}  // namespace zorvo
