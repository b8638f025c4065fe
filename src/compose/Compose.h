#pragma once

#include <cstdint>

#include "common/FrameBitmap.h"
#include "common/Rect.h"
#include "script/Cycles.h"
#include "script/Input.h"

namespace zorvo {

// The brightness of frame f of a span of n frames: 255 without a fade. A span too short to
// fade (fewer than two frames) stays at 255.
std::uint8_t FadeLevel(MarkerEffect effect, std::uint32_t f, std::uint32_t n);

// Whether source picture i of a block (counted from 0 in each block) flashes under a strobe of
// `periodMs`: on the first picture at or after every multiple of the period, so the flashes
// stay on the beat when a beat is not a whole number of frames. A period shorter than one
// frame flashes every picture.
bool StrobeFlashes(std::uint32_t i, double periodMs);

// Every byte of the picture up by 64, saturating at 255.
void StrobeFlash(FrameBitmap& picture);

// The slow-motion mix of two neighbouring source pictures: (w x next + (255 - w) x current) / 256.
void BlendFrames(const FrameBitmap& current, const FrameBitmap& next, std::uint32_t weight,
                 FrameBitmap& scratch);

// Writes a rectangle-sized source picture into the output at (left, top) through the colour
// table BuildLut made for the input, multiplied by the overlay picture (through the overlay
// input's table) and the fade level.
void ComposeViewport(int outputWidth, const FrameBitmap& picture, const AdjustmentSettings& adjust,
                     int rectWidth, int rectHeight, std::uint8_t* output, int left, int top,
                     std::uint8_t fade, const FrameBitmap* overlay,
                     const AdjustmentSettings* overlayAdjust);

// Blackens `size` parallel lines centred on a separator segment; lines starting outside the
// picture are skipped.
void DrawSeparator(const Rect& segment, std::uint8_t* output, int width, int height, int size);

}  // namespace zorvo
