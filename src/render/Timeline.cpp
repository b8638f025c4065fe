#include <algorithm>
#include <cmath>
#include <set>

#include "capture/FFMPEGCapture.h"
#include "common/LogChannel.h"
#include "render/Layout.h"
#include "render/Project.h"
#include "render/Viewport.h"

namespace zorvo {

namespace {

// Validation keeps counts far below 2^32; saturate rather than cast out of range regardless.
std::uint32_t ToFrames(double frames) {
    if (!(frames > 0)) {
        return 0;
    }
    return frames < 4294967295.0 ? static_cast<std::uint32_t>(frames) : 4294967295u;
}

}  // namespace

void CProject::PostRemainingTime(std::uint32_t framesDone) {
    const double now = NowSeconds();
    if (now - m_lastEstimate <= 1.0) {
        return;
    }
    m_lastEstimate = now;
    const double elapsed = now - m_renderStart;
    const double remaining = m_frameEstimate * elapsed / framesDone - elapsed;
    const int r = static_cast<int>(remaining);
    PostStatus(Format("%i min(s) %.2i", r / 60, r - 60 * (r / 60)));
}

bool CProject::RenderTimeline(FrameWriter& writer) {
    const auto& markers = m_script.markers;
    m_frameEstimate = static_cast<std::uint32_t>(SongFrame(EstimateTimelineMs(markers)));
    m_renderStart = NowSeconds();
    m_lastEstimate = 0;
    m_frameCounter = 0;
    m_overlayIndex = 0;

    CarriedValues carried;
    double timelinePosition = 0;
    std::vector<Rect> rects;
    std::vector<Rect> separators;
    const int endMeasure =
        m_script.rangeEnd != 0 ? m_script.rangeEnd : static_cast<int>(markers.back()->measure);

    for (size_t mi = 0; mi + 1 < markers.size(); ++mi) {
        const CSMarker& m = *markers[mi];
        const CSMarker& n = *markers[mi + 1];
        if (m_bStop) {
            return true;
        }
        carried.Carry(m);
        if (m_script.rangeEnd != 0 && m.measure == static_cast<std::uint32_t>(m_script.rangeEnd)) {
            return true;
        }
        PostLog(Format("* Building timeline markers %i to %i (end@%i) - %i/%i @ %ibpm\n",
                       static_cast<int>(m.measure), static_cast<int>(n.measure), endMeasure,
                       carried.beatCount, carried.beatUnit, carried.tempo));
        if (!GetLayoutRects(static_cast<std::uint32_t>(m_script.width),
                            static_cast<std::uint32_t>(m_script.height), m.layout, rects,
                            separators)) {
            PostLog("Error (Project): Failed to get layout.\n");
            return false;
        }
        if (m.displays.size() != rects.size()) {
            PostLog(
                "Error (Project): Display list count does not correspound to the layout rectangles "
                "count.\n");
            return false;
        }

        const SpanTiming timing = SpanTiming::Compute(carried, m.measure, n.measure);
        std::vector<double> periods;
        const double blockLength = BlockLength(timing, m.displays, &periods);
        m_viewports.clear();
        for (size_t d = 0; d < m.displays.size(); ++d) {
            auto viewport = std::make_unique<CViewport>(m.displays[d], rects[d]);
            viewport->m_period = periods[d];
            const bool resolved = m_script.BuildInputList(m.displays[d].refId, viewport->m_inputs);
            m_viewports.push_back(std::move(viewport));
            if (!resolved) {
                PostLog("Error (Project): Failed to build input list.\n");
                return false;
            }
        }

        // Decoders of files this span does not show are of no more use.
        std::set<std::string> files;
        for (const auto& viewport : m_viewports) {
            for (const CSInput* input : viewport->m_inputs) {
                files.insert(input->file);
            }
        }
        m_decoders.KeepOnly(files);

        const SpanBlocks blocks(timelinePosition, timing, blockLength);
        const std::uint32_t framesPerBlock = ToFrames(blocks.framesExact);
        PostLog(Format("%i block(s) of %ims (%i frames) to compute\n",
                       static_cast<int>(blocks.count), static_cast<int>(blockLength),
                       static_cast<int>(framesPerBlock)));
        if (blocks.count > 0 && framesPerBlock == 0) {
            // Validation refuses such scripts; never render blocks without frames.
            PostLog("Error (Project): Blocks shorter than one frame cannot be rendered.\n");
            return false;
        }

        if (m_script.rangeStart != 0 &&
            m.measure < static_cast<std::uint32_t>(m_script.rangeStart)) {
            // Skipped frames keep their place in the numbering, so the audio stays in step.
            m_frameCounter = static_cast<std::uint32_t>(blocks.endFrame);
            writer.skippedFrames = m_frameCounter;
        } else {
            double blockStart = 0;
            for (std::uint32_t b = 0; b < blocks.count && !m_bStop;
                 ++b, blockStart += blockLength) {
                const std::int64_t blockFirst = blocks.BlockFirst(blockStart);
                const auto blockFrames =
                    static_cast<std::uint32_t>(blocks.BlockEnd(b, blockStart) - blockFirst);
                m_frameCounter = static_cast<std::uint32_t>(blockFirst);
                std::vector<std::shared_ptr<CFFMPEGCapture>> captures;
                for (auto& viewport : m_viewports) {
                    viewport->SelectInput(blockStart);
                    const CSInput* input = viewport->Current();
                    const double speed = m.GetSpeed(input->id);
                    const auto start = static_cast<std::int64_t>(
                        std::trunc(static_cast<double>(std::int64_t{input->videoSyncMs} -
                                                       input->timelineSyncMs) +
                                   timelinePosition + blockStart));
                    const std::uint32_t frames = CaptureFrameCount(blockFrames, speed);
                    viewport->m_nextRelease = 0;  // a fresh capture for every block
                    // Zoom, flip, noise reduction and speed belong to the input, so an area
                    // showing the same input from the same moment needs the very same source
                    // pictures: they are decoded once and scaled for each area.
                    const auto same =
                        std::find_if(captures.begin(), captures.end(), [&](const auto& capture) {
                            return m_decoders.SharesCaptures() && capture->Input() == input &&
                                   capture->StartMs() == start && capture->FrameCount() == frames;
                        });
                    if (same != captures.end()) {
                        viewport->m_pCapture = *same;
                        viewport->m_output = (*same)->AddOutput(viewport->m_pRect.Width(),
                                                                viewport->m_pRect.Height());
                        continue;
                    }
                    viewport->m_pCapture = std::make_shared<CFFMPEGCapture>(
                        input, start, frames, viewport->m_pRect.Width(), viewport->m_pRect.Height(),
                        static_cast<std::int32_t>(m.GetResize(input->id)),
                        input->settings.noiseReduction, input->settings.verticalFlip);
                    viewport->m_pCapture->m_pDecoders = &m_decoders;
                    viewport->m_output = 0;
                    captures.push_back(viewport->m_pCapture);
                }
                // The decoders open side by side; every one is open before the block begins.
                for (const auto& capture : captures) {
                    if (!capture->Launch()) {
                        PostLog("Error (Project): Failed to start capture.\n");
                        return false;
                    }
                }
                for (const auto& capture : captures) {
                    capture->WaitOpened();
                }
                PostLog(Format("[Block %i/%i]\n", static_cast<int>(b + 1),
                               static_cast<int>(blocks.count)));
                PostProgress(0, 0);

                FrameValues values;
                values.marker = &m;
                values.carried = &carried;
                values.timing = &timing;
                values.blockLength = blockLength;
                values.framesPerBlockExact = blocks.framesExact;
                values.spanFrames = static_cast<std::uint32_t>(blocks.Frames());
                values.spanFrame = static_cast<std::uint32_t>(blockFirst - blocks.firstFrame);
                values.block = b;
                values.frameCounter = m_frameCounter;
                values.separators = &separators;

                std::uint32_t j = 0;
                while (j < blockFrames && !m_bStop) {
                    bool ready = true;
                    for (auto& viewport : m_viewports) {
                        const double speed = m.GetSpeed(viewport->Current()->id);
                        if (!viewport->m_pCapture->GetBitmap(SourcePictureFor(j, speed).index,
                                                             viewport->m_output)) {
                            ready = false;
                            break;
                        }
                    }
                    if (ready) {
                        values.frame = j;
                        if (!ComposeFrame(values, writer)) {
                            return false;
                        }
                        if (m_bStop) {
                            break;  // composing stopped part way: the frame is not whole
                        }
                        if (m_pOutputDlg) {
                            m_pOutputDlg->ShowFrame(writer.frameBits, m_script.width,
                                                    m_script.height);
                        }
                        if (!writer.InsertFrame(m_frameCounter + j)) {
                            PostLog("Error (Project): Failed to insert frame.\n");
                            return false;
                        }
                        PostProgress(static_cast<int>((j + 1) * 100 / blockFrames), 0);
                        const std::uint32_t done = m_frameCounter + j + 1;
                        PostProgress(m_frameEstimate > 0 ? static_cast<int>(std::uint64_t{done} *
                                                                            100 / m_frameEstimate)
                                                         : 100,
                                     1);
                        PostRemainingTime(done);
                        ++j;
                    }
                    for (auto& viewport : m_viewports) {
                        if (viewport->m_pCapture->m_bFailed) {
                            PostLog("Error (Project): Failed to capture source video frames.\n");
                            return false;
                        }
                    }
                }
                PostProgress(0, 0);
                for (auto& viewport : m_viewports) {
                    viewport->m_pCapture.reset();
                }
                captures.clear();
                // A stop inside the block counts only the frames that were written.
                m_frameCounter += j;
            }
        }
        m_viewports.clear();
        timelinePosition += timing.span;
        if (n.isLast) {
            return true;
        }
    }
    return true;
}

}  // namespace zorvo
