#include "timeline/CapturePlan.h"

namespace zorvo {

namespace {

// A preview wants its frame soon: its captures seek close to it, and decode each on its own
// thread alone, the areas side by side (library threads would allocate pictures for each).
constexpr std::int32_t kPreviewPreRollIntervals = 1;
// Pictures decoded beyond the one asked for: few for a still; while playing, a few more per
// camera, so that a camera whose thread got less of the cores for a moment catches up.
constexpr std::uint32_t kPreviewFramesAhead = 2;
constexpr std::uint32_t kPlayingFramesAhead = 4;

}  // namespace

CaptureOptions PlanCapture(const CaptureSetup& setup, const CSInput* input, std::int64_t startMs,
                           std::uint32_t frameCount, std::int32_t width, std::int32_t height,
                           std::int32_t zoom, Rect sourceRect, std::uint32_t wanted) {
    CaptureOptions options = InputCaptureOptions(input);
    options.startMs = startMs;
    options.frameCount = frameCount;
    options.width = width;
    options.height = height;
    options.zoom = zoom;
    options.sourceRect = sourceRect;
    options.interpolation = setup.interpolation;
    options.decoders = setup.decoders;
    if (input && setup.instead) {
        if (const auto proxy = setup.instead->find(input->file); proxy != setup.instead->end()) {
            options.file = proxy->second;
        }
    }
    switch (setup.use) {
        case CaptureUse::Render:
            options.turn = setup.turn;
            options.beforeBlock = setup.beforeBlock;
            break;
        case CaptureUse::Still:
            options.lookAhead = false;
            options.libraryThreads = false;
            options.progress = setup.progress;
            break;
        case CaptureUse::Preview:
            // The noise filter's running picture starts with the capture's first picture.
            options.firstFrame = options.noiseReduction != 0 ? 0 : wanted;
            options.preRollIntervals = kPreviewPreRollIntervals;
            options.libraryThreads = false;
            options.framesAhead = setup.playing ? kPlayingFramesAhead : kPreviewFramesAhead;
            options.turn = setup.turn;
            options.beforeBlock = setup.beforeBlock;
            break;
    }
    return options;
}

CaptureOptions PlanAreaCapture(const CaptureSetup& setup, const CViewport& viewport,
                               const BlockArea& area, std::uint32_t blockFrames,
                               std::uint32_t wanted) {
    const CSInput* input =
        area.inputIndex < viewport.m_inputs.size() ? viewport.m_inputs[area.inputIndex] : nullptr;
    return PlanCapture(setup, input, area.captureStartMs,
                       CaptureFrameCount(blockFrames, area.speed), viewport.m_pRect.Width(),
                       viewport.m_pRect.Height(), static_cast<std::int32_t>(area.zoom), {}, wanted);
}

CaptureOptions PlanOverlayCapture(const CaptureSetup& setup, const CScript& script,
                                  const CSInput* input, std::int32_t width, std::int32_t height,
                                  std::uint32_t wanted, std::vector<bool> shown) {
    const CSOverlay& overlay = script.overlay;
    CaptureOptions options = PlanCapture(
        setup, input, 0, static_cast<std::uint32_t>(overlay.loopFrames), width, height, 0,
        {overlay.captureLeft, overlay.captureTop, overlay.captureRight, overlay.captureBottom},
        wanted);
    options.shownFrames = std::move(shown);
    return options;
}

}  // namespace zorvo
