#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capture/FFMPEGCapture.h"
#include "timeline/TimelineWalk.h"
#include "timeline/Viewport.h"

namespace zorvo {

// Whom captures serve; each decodes differently.
enum class CaptureUse {
    Render,  // a render's blocks and its overlay: the library's threads, 8 frames ahead
    Still,   // one picture of a storyboard block: no look-ahead, the capture's own thread alone
    // The studio's frames: from the picture asked for, a short pre-roll, few frames ahead, the
    // capture's own thread alone unless the engine gives it the cores left over
    Preview,
};

// What every capture of one render, storyboard or preview shares.
struct CaptureSetup {
    CaptureUse use = CaptureUse::Render;
    std::int32_t interpolation = kDefaultInterpolation;  // the script's
    DecoderPool* decoders = nullptr;
    // A preview's proxies, read instead of the camera files they stand for; null: none.
    const std::map<std::string, std::string>* instead = nullptr;
    // Captures launched ahead of their block wait for the turn's decoders (render, preview).
    std::uint64_t turn = 0;
    bool beforeBlock = false;
    bool playing = false;                // a preview that plays keeps a few more pictures ahead
    AutoResetEvent* progress = nullptr;  // stills: set on every stored frame
};

// The capture of `frameCount` pictures of `input` from `startMs`, scaled to width x height:
// zoomed and focused (zoom 0: cropped to `sourceRect`), with the input's own adjustments
// (noise reduction, flip, deinterlace, rotation), the script's interpolation, the setup's
// decoder pool and file, and the use's way of decoding. A preview starts at picture `wanted`,
// unless noise reduction needs the pictures before it.
CaptureOptions PlanCapture(const CaptureSetup& setup, const CSInput* input, std::int64_t startMs,
                           std::uint32_t frameCount, std::int32_t width, std::int32_t height,
                           std::int32_t zoom, Rect sourceRect = {}, std::uint32_t wanted = 0);

// The capture of a block's area: the input the area shows, where its capture starts, the source
// pictures the block's `blockFrames` frames need at the area's speed, its size and zoom.
CaptureOptions PlanAreaCapture(const CaptureSetup& setup, const CViewport& viewport,
                               const BlockArea& area, std::uint32_t blockFrames,
                               std::uint32_t wanted = 0);

// The overlay's loop at width x height, cropped as the script says; a render converts only the
// `shown` frames (empty: all).
CaptureOptions PlanOverlayCapture(const CaptureSetup& setup, const CScript& script,
                                  const CSInput* input, std::int32_t width, std::int32_t height,
                                  std::uint32_t wanted = 0, std::vector<bool> shown = {});

}  // namespace zorvo
