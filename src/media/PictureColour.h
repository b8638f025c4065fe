#pragma once

#include <string>

namespace zorvo {

// The matrix a stream's YUV samples were made with.
enum class ColourMatrix { Bt601, Bt709, Bt2020, Smpte240m, Fcc };
// Its transfer: SDR (BT.709, BT.601, sRGB, gamma, unknown), or one of the two HDR curves,
// which are tone-mapped to BT.709 SDR.
enum class ColourTransfer { Sdr, Hlg, Pq };

// How a stream's pictures are turned into RGB.
struct PictureColour {
    ColourMatrix matrix = ColourMatrix::Bt601;
    bool fullRange = false;
    ColourTransfer transfer = ColourTransfer::Sdr;
    bool rgb = false;  // the samples are RGB already: no matrix, no range
    bool operator==(const PictureColour&) const = default;
};

// From the library's codes (AVColorSpace, AVColorRange, AVColorTransferCharacteristic,
// AVPixelFormat) and the stored picture's size. An untagged matrix is BT.601 below 1280x720
// and BT.709 from there on, as players take it; the full-range YUV formats (yuvj) are full
// range whatever the tag says.
PictureColour ColourOf(int colorspace, int range, int transfer, int pixelFormat, int width,
                       int height);

// "BT.709 limited", "BT.601 full", "BT.2020 HLG → SDR", "RGB".
std::string DescribeColour(const PictureColour& colour);

}  // namespace zorvo
