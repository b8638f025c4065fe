#include <cmath>
#include <cstring>

#include "capture/FFMPEGCapture.h"
#include "capture/ImageAdjustments.h"
#include "common/LogChannel.h"
#include "compose/Compose.h"
#include "compose/FrameComposition.h"
#include "timeline/TimelineWalk.h"
#include "timeline/Viewport.h"

namespace zorvo {

namespace {

bool EnsureLut(CSInput& input) {
    return input.settings.lutKind != LutKind::None || BuildLut(input.settings);
}

}  // namespace

FrameValues ValuesFor(const TimelineSpan& span, const TimelineBlock& block) {
    FrameValues values;
    values.marker = span.marker;
    values.carried = &span.carried;
    values.timing = &span.timing;
    values.blockLength = span.blockLength;
    values.framesPerBlockExact = span.blocks.framesExact;
    values.spanFrames = static_cast<std::uint32_t>(span.blocks.Frames());
    values.spanFrame = static_cast<std::uint32_t>(block.firstFrame - span.blocks.firstFrame);
    values.block = block.index;
    values.frameCounter = static_cast<std::uint32_t>(block.firstFrame);
    values.separators = &span.separators;
    return values;
}

bool ComposeFrame(const FrameValues& v, const std::vector<std::unique_ptr<CViewport>>& viewports,
                  const FrameOverlay& overlay, bool debug, const LabelFont& font,
                  const std::atomic<bool>& stop, FrameBitmap& output) {
    const CSMarker& m = *v.marker;
    const std::uint8_t fade = FadeLevel(m.effect, v.spanFrame + v.frame, v.spanFrames);
    const FrameBitmap* overlayPicture = overlay.picture;
    const int width = output.Width();
    const int height = output.Height();

    for (const auto& viewport : viewports) {
        if (stop) {
            break;
        }
        CSInput* input = viewport->Current();
        CFFMPEGCapture& capture = *viewport->m_pCapture;
        const Rect& rect = viewport->m_pRect;
        const SourcePicture source = SourcePictureFor(v.frame, m.GetSpeed(input->id));
        const std::uint32_t srcIndex = source.index;
        const std::uint32_t step = source.step;
        const FrameBitmap* picture = capture.GetBitmap(srcIndex, viewport->m_output);
        if (!picture) {
            continue;  // the capture failed meanwhile; the timeline reports it after this frame
        }

        // Output frames between two source frames of a slow input show a mix of both.
        FrameBitmap* scratch = nullptr;
        if (source.blend) {
            scratch = viewport->GetScratchBitmap(rect.Width(), rect.Height());
            if (!scratch) {
                PostLog("Error (Project): Failed to allocate a frame.\n");
                return false;
            }
            const FrameBitmap* next = nullptr;
            while (!(next = capture.GetBitmap(srcIndex + 1, viewport->m_output))) {
                if (capture.m_bFailed || stop) {
                    break;  // never wait for a frame that will not come
                }
            }
            if (next) {
                const std::uint32_t weight = (v.frame - step * srcIndex) * 255 / step;
                BlendFrames(*picture, *next, weight, *scratch);
                picture = scratch;
            }
        }

        if (m.effect == MarkerEffect::Strobe) {
            const int cycle = static_cast<int>(m.strobeCycle);
            const double period =
                cycle >= 2 && cycle <= 8 ? v.timing->CyclePeriod(m.strobeCycle) : v.blockLength;
            if (StrobeFlashes(srcIndex, period)) {
                // Flash a copy: the cached frame may be shown again by a slow input.
                if (picture != scratch) {
                    scratch = viewport->GetScratchBitmap(rect.Width(), rect.Height());
                    if (!scratch) {
                        PostLog("Error (Project): Failed to allocate a frame.\n");
                        return false;
                    }
                    std::memcpy(scratch->Bits(), picture->Bits(),
                                std::min(scratch->SizeBytes(), picture->SizeBytes()));
                }
                StrobeFlash(*scratch);
                picture = scratch;
            }
        }

        if (overlayPicture && !EnsureLut(*overlay.input)) {
            return false;
        }
        if (!EnsureLut(*input)) {
            return false;
        }
        ComposeViewport(width, *picture, input->settings, rect.Width(), rect.Height(),
                        output.Bits(), rect.left, rect.top, fade, overlayPicture,
                        overlayPicture ? &overlay.input->settings : nullptr);
        viewport->ReleaseBefore(srcIndex);
        if (debug) {
            const std::string label =
                viewport->m_id == input->id ? viewport->m_id : viewport->m_id + ": " + input->id;
            font.DrawLabel(output, {rect.left, height - rect.bottom, rect.right, height - rect.top},
                           label, LabelPlacement::Center);
        }
    }

    if (v.carried->separatorSize != 0) {
        for (const Rect& segment : *v.separators) {
            DrawSeparator(segment, output.Bits(), width, height, v.carried->separatorSize);
        }
    }

    if (debug) {
        const double t = (v.block * v.framesPerBlockExact + v.frame) * 1000 / 25;
        const auto beat = static_cast<std::int64_t>(std::trunc(t / v.timing->beat));
        const std::string label =
            Format("#%i - marker( %i ) { %i/%i @ %s } - [marker %i - beat %i]",
                   static_cast<int>(v.frameCounter + v.frame + 1), static_cast<int>(m.measure),
                   v.carried->beatCount, v.carried->beatUnit, TempoText(v.carried->tempo).c_str(),
                   static_cast<int>(m.measure + std::trunc(t / v.timing->measure)),
                   static_cast<int>(beat % v.carried->beatCount) + 1);
        font.DrawLabel(output, {0, 0, width, height}, label, LabelPlacement::Bottom);
    }
    return true;
}

}  // namespace zorvo
