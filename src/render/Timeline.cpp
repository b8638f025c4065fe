#include <algorithm>
#include <cmath>
#include <set>

#include "capture/FFMPEGCapture.h"
#include "common/LogChannel.h"
#include "render/Project.h"
#include "render/TimelineWalk.h"
#include "render/Viewport.h"

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

void CProject::MakeCaptures(const TimelineBlock& block, std::uint32_t frames) {
    for (size_t d = 0; d < m_viewports.size(); ++d) {
        CViewport& viewport = *m_viewports[d];
        const BlockArea& area = block.areas[d];
        viewport.m_current = area.inputIndex;
        viewport.m_nextRelease = 0;  // a fresh capture for every block
        const CSInput* input = viewport.Current();
        const std::uint32_t count = CaptureFrameCount(frames, area.speed);
        // Zoom, flip, noise reduction and speed belong to the input, so an area showing the
        // same input from the same moment needs the very same source pictures: they are
        // decoded once and scaled for each area.
        const auto same = std::find_if(
            m_viewports.begin(), m_viewports.begin() + static_cast<std::ptrdiff_t>(d),
            [&](const auto& other) {
                const CFFMPEGCapture& capture = *other->m_pCapture;
                return m_decoders.SharesCaptures() && capture.Input() == input &&
                       capture.StartMs() == area.captureStartMs && capture.FrameCount() == count;
            });
        if (same != m_viewports.begin() + static_cast<std::ptrdiff_t>(d)) {
            viewport.m_pCapture = (*same)->m_pCapture;
            viewport.m_output =
                viewport.m_pCapture->AddOutput(viewport.m_pRect.Width(), viewport.m_pRect.Height());
            continue;
        }
        viewport.m_pCapture = std::make_shared<CFFMPEGCapture>(
            input, area.captureStartMs, count, viewport.m_pRect.Width(), viewport.m_pRect.Height(),
            static_cast<std::int32_t>(area.zoom), input->settings.noiseReduction,
            input->settings.verticalFlip);
        viewport.m_pCapture->m_pDecoders = &m_decoders;
        viewport.m_output = 0;
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
    MakeCaptures(block, frames);
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
            ForEachBlock(span, [&](const TimelineBlock& block) {
                if (m_bStop) {
                    return false;
                }
                failed = !RenderBlock(span, block, writer);
                return !failed;
            });
            m_viewports.clear();
            return failed ? WalkStep::Fail : WalkStep::Next;
        },
        &m_bStop);
}

bool CProject::RenderBlock(const TimelineSpan& span, const TimelineBlock& block,
                           FrameWriter& writer) {
    const auto blockFrames = static_cast<std::uint32_t>(block.endFrame - block.firstFrame);
    m_frameCounter = static_cast<std::uint32_t>(block.firstFrame);
    if (!StartCaptures(block, blockFrames)) {
        return false;
    }
    PostLog(Format("[Block %i/%i]\n", static_cast<int>(block.index + 1),
                   static_cast<int>(span.blocks.count)));
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
    return true;
}

}  // namespace zorvo
