#pragma once

#include <cstdint>

#include "common/FrameBitmap.h"

namespace zorvo {

// Fixed-point factors (16 fraction bits) from gamma-corrected R, G, B to limited-range Y, Cb, Cr.
struct YuvFactors {
    std::int32_t y[3], cb[3], cr[3];  // red, green, blue
};

// BT.709 for HD pictures, BT.601 otherwise.
YuvFactors YuvFactorsFor(bool hd);

// The encoder's picture: three planes of 8-bit samples and their row strides.
struct Yuv420Planes {
    std::uint8_t* data[3];
    int stride[3];
};

// The bottom-up BGR picture as YUV 4:2:0 in one pass: each chroma sample is the mean of its
// two by two pixels. Width and height are even. Uses the processor's vector instructions
// where it has them; the result is the same to the bit either way.
void BgrToYuv420(const FrameBitmap& picture, const YuvFactors& f, const Yuv420Planes& out);
// The same without vector instructions.
void BgrToYuv420Plain(const FrameBitmap& picture, const YuvFactors& f, const Yuv420Planes& out);

}  // namespace zorvo
