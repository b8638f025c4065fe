#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/FrameBitmap.h"
#include "common/Rect.h"
#include "compose/LabelText.h"
#include "script/Input.h"
#include "script/Marker.h"
#include "script/SpanTiming.h"

namespace zorvo {

class CViewport;
struct TimelineSpan;
struct TimelineBlock;

// Values of the frame being composed.
struct FrameValues {
    const CSMarker* marker = nullptr;
    const CarriedValues* carried = nullptr;
    const SpanTiming* timing = nullptr;
    double blockLength = 0;
    double framesPerBlockExact = 0;  // Fd
    std::uint32_t spanFrames = 0;    // N
    std::uint32_t spanFrame = 0;     // the block's first frame, counted in its span
    std::uint32_t block = 0;         // b
    std::uint32_t frame = 0;         // j
    std::uint32_t frameCounter = 0;
    const std::vector<Rect>* separators = nullptr;
};

// The values of a block's frames; `frame` is left at 0.
FrameValues ValuesFor(const TimelineSpan& span, const TimelineBlock& block);

// The overlay picture of the frame being composed, with the input whose colour table it goes
// through; no picture without an overlay.
struct FrameOverlay {
    const FrameBitmap* picture = nullptr;
    CSInput* input = nullptr;
};

// Composes frame `v.frame` of a block into `output` from the pictures of the viewports'
// captures, whose rectangles were laid out for the output's size: speed and slow-motion
// blending, strobe, colour tables, overlay, fade, separators and, with `debug`, the labels.
// Gives up part way when `stop` is set (the frame is then not whole). False after a log line.
bool ComposeFrame(const FrameValues& v, const std::vector<std::unique_ptr<CViewport>>& viewports,
                  const FrameOverlay& overlay, bool debug, const LabelFont& font,
                  const std::atomic<bool>& stop, FrameBitmap& output);

}  // namespace zorvo
