#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

#include "capture/FFMPEGCapture.h"
#include "common/LogChannel.h"
#include "render/Project.h"
#include "timeline/TimelineWalk.h"
#include "timeline/Viewport.h"

namespace zorvo {

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

std::vector<std::unique_ptr<CViewport>> CProject::NewViewports(const TimelineSpan& span,
                                                               bool freeLuts) {
    std::vector<std::unique_ptr<CViewport>> viewports;
    for (size_t d = 0; d < span.rects.size(); ++d) {
        auto viewport = std::make_unique<CViewport>(span.marker->displays[d], span.rects[d]);
        viewport->m_period = span.periods[d];
        viewport->m_inputs = span.inputs[d];
        viewport->m_freeLuts = freeLuts;
        viewports.push_back(std::move(viewport));
    }
    return viewports;
}

void CProject::MakeViewports(const TimelineSpan& span) {
    m_viewports = NewViewports(span, m_stills == nullptr);
    // Decoders of files this span does not show are of no more use.
    std::set<std::string> files;
    for (const auto& viewport : m_viewports) {
        for (const CSInput* input : viewport->m_inputs) {
            files.insert(input->file);
        }
    }
    m_decoders.KeepOnly(files);
}

CaptureSetup CProject::Captures(CaptureUse use) {
    CaptureSetup setup;
    setup.use = use;
    setup.interpolation = m_script.interpolation;
    setup.decoders = &m_decoders;
    return setup;
}

std::vector<CProject::AreaCapture> CProject::PlanCaptures(const TimelineBlock& block,
                                                          std::uint32_t frames,
                                                          const CaptureSetup& setup) {
    std::vector<AreaCapture> planned;
    for (size_t d = 0; d < m_viewports.size(); ++d) {
        const CViewport& viewport = *m_viewports[d];
        const BlockArea& area = block.areas[d];
        CaptureOptions options = PlanAreaCapture(setup, viewport, area, frames);
        // Zoom, flip, noise reduction and speed belong to the input, so an area showing the
        // same input from the same moment needs the very same source pictures: they are
        // decoded once and scaled for each area.
        const auto same = std::find_if(planned.begin(), planned.end(), [&](const auto& other) {
            const CFFMPEGCapture& capture = *other.capture;
            return m_decoders.SharesCaptures() && capture.Input() == options.input &&
                   capture.StartMs() == options.startMs &&
                   capture.FrameCount() == options.frameCount;
        });
        if (same != planned.end()) {
            const auto capture = same->capture;
            planned.push_back(
                {capture, capture->AddOutput(options.width, options.height), area.inputIndex});
            continue;
        }
        planned.push_back(
            {std::make_shared<CFFMPEGCapture>(std::move(options)), 0, area.inputIndex});
    }
    return planned;
}

void CProject::UseCaptures(std::vector<AreaCapture> captures) {
    for (size_t d = 0; d < m_viewports.size() && d < captures.size(); ++d) {
        CViewport& viewport = *m_viewports[d];
        viewport.m_current = captures[d].inputIndex;
        viewport.m_nextRelease = 0;  // a fresh capture for every block
        viewport.m_pCapture = std::move(captures[d].capture);
        viewport.m_output = captures[d].output;
    }
}

void CProject::LaunchEarly(const TimelineBlock& block) {
    // Each capture waits for its file's captures of the current block to give their decoder
    // back; one of a file this block does not use starts decoding at once.
    CaptureSetup setup = Captures(CaptureUse::Render);
    setup.turn = ++m_captureTurns;
    setup.beforeBlock = true;
    m_early =
        PlanCaptures(block, static_cast<std::uint32_t>(block.endFrame - block.firstFrame), setup);
    for (const AreaCapture& area : m_early) {
        if (area.output != 0) {
            continue;  // another area's capture, launched already
        }
        if (!area.capture->Launch()) {
            // The block's own start launches them again and reports the failure.
            m_early.clear();
            return;
        }
    }
}

bool CProject::LaunchCaptures(const std::vector<size_t>& areas) {
    // The decoders open side by side; every one is open before this returns. A capture shared
    // by several areas is started by the first of them.
    for (size_t d : areas) {
        if (m_viewports[d]->m_output == 0 && !m_viewports[d]->m_pCapture->Launch()) {
            PostLog("Error (Project): Failed to start capture.\n");
            return false;
        }
    }
    for (size_t d : areas) {
        if (m_viewports[d]->m_output == 0) {
            m_viewports[d]->m_pCapture->WaitOpened();
        }
    }
    return true;
}

bool CProject::StartCaptures(const TimelineBlock& block, std::uint32_t frames) {
    if (!m_early.empty()) {
        UseCaptures(std::move(m_early));
        m_early.clear();
        for (auto& viewport : m_viewports) {
            if (viewport->m_output == 0) {
                viewport->m_pCapture->BeginBlock();
                viewport->m_pCapture->WaitOpened();
            }
        }
        return true;
    }
    CaptureSetup setup = Captures(CaptureUse::Render);
    setup.turn = m_decoders.LaunchesEarly() ? ++m_captureTurns : 0;
    UseCaptures(PlanCaptures(block, frames, setup));
    std::vector<size_t> areas(m_viewports.size());
    for (size_t d = 0; d < areas.size(); ++d) {
        areas[d] = d;
    }
    return LaunchCaptures(areas);
}

bool CProject::RenderTimeline(FrameWriter& writer) {
    m_frameEstimate = static_cast<std::uint32_t>(SongFrame(EstimateTimelineMs(m_script.markers)));
    m_renderStart = NowSeconds();
    m_lastEstimate = 0;
    m_frameCounter = 0;
    m_overlayIndex = 0;

    return WalkTimeline(
        m_script, true,
        [&](const TimelineSpan& span) {
            if (span.skipped) {
                // Skipped frames keep their place in the numbering, so the audio stays in step.
                m_frameCounter = static_cast<std::uint32_t>(span.blocks.endFrame);
                writer.skippedFrames = m_frameCounter;
                return WalkStep::Next;
            }
            MakeViewports(span);
            bool failed = false;
            // Each block is rendered once the one after it is known, whose captures then start
            // while it is composed.
            std::optional<TimelineBlock> current;
            ForEachBlock(span, [&](const TimelineBlock& block) {
                if (current) {
                    if (m_bStop) {
                        return false;
                    }
                    failed = !RenderBlock(span, *current, &block, writer);
                }
                current = block;
                return !failed && !m_bStop;
            });
            if (current && !failed && !m_bStop) {
                failed = !RenderBlock(span, *current, nullptr, writer);
            }
            m_early.clear();
            m_viewports.clear();
            return failed ? WalkStep::Fail : WalkStep::Next;
        },
        &m_bStop);
}

bool CProject::RenderBlock(const TimelineSpan& span, const TimelineBlock& block,
                           const TimelineBlock* next, FrameWriter& writer) {
    const auto blockFrames = static_cast<std::uint32_t>(block.endFrame - block.firstFrame);
    m_frameCounter = static_cast<std::uint32_t>(block.firstFrame);
    if (!StartCaptures(block, blockFrames)) {
        return false;
    }
    PostLog(Format("[Block %i/%i]\n", static_cast<int>(block.index + 1),
                   static_cast<int>(span.blocks.count)));
    if (next && m_decoders.LaunchesEarly()) {
        LaunchEarly(*next);  // after the line, so that what they post follows it
    }
    PostProgress(0, 0);

    FrameValues values = ValuesFor(span, block);
    const CSMarker& m = *span.marker;
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
            if (!ComposeFrame(values, writer.frameBitmap)) {
                return false;
            }
            if (m_bStop) {
                break;  // composing stopped part way: the frame is not whole
            }
            if (m_pOutputDlg) {
                m_pOutputDlg->ShowFrame(writer.frameBits, m_script.width, m_script.height);
            }
            if (!writer.InsertFrame(m_frameCounter + j)) {
                PostLog("Error (Project): Failed to insert frame.\n");
                return false;
            }
            PostProgress(static_cast<int>((j + 1) * 100 / blockFrames), 0);
            const std::uint32_t done = m_frameCounter + j + 1;
            PostProgress(m_frameEstimate > 0
                             ? static_cast<int>(std::uint64_t{done} * 100 / m_frameEstimate)
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
    // A stop inside the block counts only the frames that were written.
    m_frameCounter += j;
    // A write that failed ends the render before the next block begins.
    if (!writer.Flush()) {
        PostLog("Error (Project): Failed to insert frame.\n");
        return false;
    }
    return true;
}

bool CProject::ComposeFrame(const FrameValues& v, FrameBitmap& output) {
    FrameOverlay overlay;
    if (m_overlay) {
        overlay = {m_overlay->GetBitmap(m_overlayIndex), m_overlayInput};
        if (++m_overlayIndex >= static_cast<std::uint32_t>(m_script.overlay.loopFrames)) {
            m_overlayIndex = 0;
        }
    }
    return zorvo::ComposeFrame(v, m_viewports, overlay, m_script.debug, m_font, m_bStop, output);
}

}  // namespace zorvo
