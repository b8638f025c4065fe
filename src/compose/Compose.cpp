#include "compose/Compose.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "capture/ImageAdjustments.h"

namespace zorvo {

std::uint8_t FadeLevel(MarkerEffect effect, std::uint32_t f, std::uint32_t n) {
    if (n < 2 || f >= n) {
        return 255;
    }
    const std::uint32_t last = n - 1;
    switch (effect) {
        case MarkerEffect::FadeIn:
            return static_cast<std::uint8_t>(static_cast<std::uint64_t>(f) * 255 / last);
        case MarkerEffect::FadeOut:
            return static_cast<std::uint8_t>(static_cast<std::uint64_t>(last - f) * 255 / last);
        default:
            return 255;
    }
}

bool StrobeFlashes(std::uint32_t i, double periodMs) {
    if (i == 0 || !(periodMs > 0) || !std::isfinite(periodMs)) {
        return true;
    }
    return std::floor(i * 40.0 / periodMs + 1e-6) > std::floor((i - 1) * 40.0 / periodMs + 1e-6);
}

void StrobeFlash(FrameBitmap& picture) {
    std::uint8_t* bits = picture.Bits();
    const size_t size = picture.SizeBytes();
    for (size_t i = 0; i < size; ++i) {
        bits[i] = bits[i] > 255 - 64 ? 255 : static_cast<std::uint8_t>(bits[i] + 64);
    }
}

void BlendFrames(const FrameBitmap& current, const FrameBitmap& next, std::uint32_t weight,
                 FrameBitmap& scratch) {
    const size_t size = std::min({current.SizeBytes(), next.SizeBytes(), scratch.SizeBytes()});
    const std::uint8_t* a = current.Bits();
    const std::uint8_t* b = next.Bits();
    std::uint8_t* out = scratch.Bits();
    const std::uint32_t rest = 255 - weight;
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>((weight * b[i] + rest * a[i]) >> 8);
    }
}

void ComposeViewport(int outputWidth, const FrameBitmap& picture, const AdjustmentSettings& adjust,
                     int rectWidth, int rectHeight, std::uint8_t* output, int left, int top,
                     std::uint8_t fade, const FrameBitmap* overlay,
                     const AdjustmentSettings* overlayAdjust) {
    const std::uint8_t* source = picture.Bits();
    const std::uint8_t* over = overlay ? overlay->Bits() : nullptr;
    if (!over && adjust.lutKind != LutKind::Full && adjust.lutKind != LutKind::Direct) {
        // Without an overlay each component goes through one table of its own: the colour
        // tables (or none) and the fade folded into 3 x 256 bytes, so a pixel costs three
        // look-ups and a row without adjustments or fade is a copy.
        const size_t rowBytes = static_cast<size_t>(rectWidth) * 3;
        const bool copy = fade == 255 && adjust.lutKind != LutKind::PerChannel;
        std::uint8_t table[3][256];
        for (int v = 0; v < 256; ++v) {
            const auto c = static_cast<std::uint8_t>(v);
            const BgrPixel pixel = LookUp(adjust, c, c, c);
            const std::uint8_t e[3] = {pixel.blue, pixel.green, pixel.red};
            for (int k = 0; k < 3; ++k) {
                table[k][v] = fade == 255 ? e[k] : static_cast<std::uint8_t>(e[k] * fade / 255);
            }
        }
        for (int y = 0; y < rectHeight; ++y) {
            const std::uint8_t* s = source + static_cast<size_t>(y) * rowBytes;
            std::uint8_t* t = output + (static_cast<size_t>(top + y) * outputWidth + left) * 3;
            if (copy) {
                std::memcpy(t, s, rowBytes);
                continue;
            }
            for (size_t i = 0; i < rowBytes; i += 3) {
                t[i] = table[0][s[i]];
                t[i + 1] = table[1][s[i + 1]];
                t[i + 2] = table[2][s[i + 2]];
            }
        }
        return;
    }
    for (int y = 0; y < rectHeight; ++y) {
        const std::uint8_t* s = source + static_cast<size_t>(y) * rectWidth * 3;
        const size_t targetRow = (static_cast<size_t>(top + y) * outputWidth + left) * 3;
        std::uint8_t* t = output + targetRow;
        const std::uint8_t* o = over ? over + targetRow : nullptr;
        for (int x = 0; x < rectWidth; ++x, s += 3, t += 3) {
            const BgrPixel pixel = LookUp(adjust, s[0], s[1], s[2]);
            const std::uint8_t e[3] = {pixel.blue, pixel.green, pixel.red};
            if (!o) {
                if (fade == 255) {
                    std::memcpy(t, e, 3);
                } else {
                    for (int k = 0; k < 3; ++k) {
                        t[k] = static_cast<std::uint8_t>(e[k] * fade / 255);
                    }
                }
                continue;
            }
            const std::uint8_t* op = o + static_cast<size_t>(x) * 3;
            const BgrPixel overPixel = LookUp(*overlayAdjust, op[0], op[1], op[2]);
            const std::uint8_t oe[3] = {overPixel.blue, overPixel.green, overPixel.red};
            for (int k = 0; k < 3; ++k) {
                t[k] = static_cast<std::uint8_t>(fade == 255 ? e[k] * oe[k] / 255
                                                             : e[k] * oe[k] * fade / 65025);
            }
        }
    }
}

void DrawSeparator(const Rect& segment, std::uint8_t* output, int width, int height, int size) {
    const bool vertical = segment.bottom - segment.top != 0;
    const int length = vertical ? segment.bottom - segment.top : segment.right - segment.left;
    // Only the lines inside the picture are drawn, however wide the separator.
    const int across = vertical ? width : height;
    const int at = vertical ? segment.left : segment.top;
    const int first = std::max(-(size / 2), -at);
    const int last = std::min(size - size / 2 - 1, across - at - 1);
    for (int i = first; i <= last; ++i) {
        const int x0 = vertical ? segment.left + i : segment.left;
        const int y0 = vertical ? segment.top : segment.top + i;
        if (x0 < 0 || x0 >= width || y0 < 0 || y0 >= height) {
            continue;
        }
        for (int k = 0; k < length; ++k) {
            const int x = vertical ? x0 : x0 + k;
            const int y = vertical ? y0 + k : y0;
            if (x >= width || y >= height) {
                break;  // a segment never leaves the picture; stay inside if one does
            }
            std::memset(output + (static_cast<size_t>(y) * width + x) * 3, 0, 3);
        }
    }
}

}  // namespace zorvo
