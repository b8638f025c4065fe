#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "capture/FFMPEGCapture.h"
#include "capture/ImageAdjustments.h"
#include "capture/VideoDecoder.h"
#include "common/LogChannel.h"
#include "render/Project.h"
#include "timeline/TimelineWalk.h"
#include "timeline/Viewport.h"

namespace zorvo {

// One block of a storyboard run: its viewports and the captures of their first picture, made
// a few blocks ahead of the still being composed.
struct StillJob {
    TimelineSpan span;
    TimelineBlock block;
    std::int64_t skipped = 0;  // the song frames of the skipped spans before it
    std::vector<std::unique_ptr<CViewport>> viewports;
    // The distinct captures, in the order they are launched, and which of them are.
    std::vector<CFFMPEGCapture*> captures;
    std::vector<bool> launched;
    // Per capture, once looked up: the source frame it shows and the key frame at or before it
    // (-1 when the file's index does not tell).
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> frames;
};

// Where the key frames of each file of a storyboard lie, read from the files' indexes.
class StillKeyFrames {
  public:
    // The source frame that `capture` shows first, and the key frame at or before it; -1 for
    // both when its file cannot tell.
    std::pair<std::int64_t, std::int64_t> Of(const CFFMPEGCapture& capture) {
        if (!capture.Input() || capture.StartMs() < 0) {
            return {-1, -1};
        }
        std::unique_ptr<VideoDecoder>& index = m_files[capture.Input()->file];
        if (!index) {
            index = std::make_unique<VideoDecoder>();
            // A file that does not open here fails its capture, which says so.
            if (!index->Open(capture.Input()->file, false, true)) {
                m_unknown.insert(capture.Input()->file);
            }
        }
        if (m_unknown.count(capture.Input()->file) > 0) {
            return {-1, -1};
        }
        const std::int64_t target = index->SegmentFrame(capture.StartMs(), 0);
        return {target, index->KeyFrameAtOrBefore(target)};
    }

  private:
    std::map<std::string, std::unique_ptr<VideoDecoder>> m_files;
    std::set<std::string> m_unknown;
};

namespace {

// Blocks whose stills' captures are made ahead of the one being composed: captures of other
// files run while a still is composed or waits for a slower file, and a file shown in every
// block reaches its next key frame within them (two key frame intervals at two blocks a second
// and 2 s between key frames), where a second decoder takes over.
constexpr std::size_t kStillsAhead = 8;
// A stop raised meanwhile is seen this often while the stills are awaited.
constexpr std::chrono::milliseconds kStillPoll{20};

// Gives the inputs whose stills cover fewer pixels than a whole colour table has entries their
// adjustments pixel by pixel instead (the same bytes either way): the 2^24 entries of a table
// cost far more than a few dozen areas.
void AdjustFewPixelsDirectly(const std::vector<StillJob>& jobs, CSInput* overlay,
                             std::uint64_t framePixels) {
    std::map<CSInput*, std::uint64_t> pixels;
    for (const StillJob& job : jobs) {
        for (std::size_t d = 0; d < job.block.areas.size() && d < job.span.rects.size(); ++d) {
            const Rect& rect = job.span.rects[d];
            pixels[job.block.areas[d].input] += static_cast<std::uint64_t>(rect.Width()) *
                                                static_cast<std::uint64_t>(rect.Height());
        }
    }
    if (overlay) {
        pixels[overlay] += framePixels * jobs.size();
    }
    for (const auto& [input, count] : pixels) {
        if (input && input->settings.lutKind == LutKind::None && count < kLutBytes / 3) {
            BuildLut(input->settings, false);
        }
    }
}

bool Stored(const CFFMPEGCapture& capture) {
    return capture.Produced() > 0 || capture.m_bFailed.load();
}

}  // namespace

bool CProject::RenderStills() {
    FrameBitmap frame;
    if (!frame.Allocate(m_script.width, m_script.height)) {
        PostLog("Error (Project): Failed to allocate a frame.\n");
        return false;
    }
    AutoResetEvent progress;  // outlives every capture below
    std::vector<StillJob> jobs;
    // Whatever ends the run, the captures go before the event they signal.
    struct CapturesFirst {
        std::vector<std::unique_ptr<CViewport>>& viewports;
        std::vector<StillJob>& jobs;
        ~CapturesFirst() {
            viewports.clear();
            jobs.clear();
        }
    } capturesFirst{m_viewports, jobs};
    std::int64_t skipped = 0;
    const bool walked = WalkTimeline(m_script, false, [&](const TimelineSpan& span) {
        if (span.skipped) {
            skipped = span.blocks.endFrame;
            return WalkStep::Next;
        }
        ForEachBlock(span, [&](const TimelineBlock& block) {
            if (m_firstBlockOnly && block.index > 0) {
                return false;
            }
            jobs.push_back({span, block, skipped, {}, {}, {}, {}});
            return true;
        });
        return WalkStep::Next;
    });
    if (!walked) {
        return false;
    }
    std::vector<const TimelineSpan*> spans;
    for (const StillJob& each : jobs) {
        spans.push_back(&each.span);
    }
    // A sheet too large to be had is refused before any picture is decoded.
    if (!m_stills->Fits(m_script.width, m_script.height, spans)) {
        return false;
    }
    const auto loopFrames = static_cast<std::int64_t>(m_script.overlay.loopFrames);
    const auto overlayIndex = [&](const StillJob& job) {
        return loopFrames > 0
                   ? static_cast<std::uint32_t>((job.block.firstFrame - job.skipped) % loopFrames)
                   : 0u;
    };
    // The overlay converts only the frames of its loop that the stills show; the stills wait
    // each for its own, so their captures start meanwhile.
    std::vector<bool> overlayShown(static_cast<std::size_t>(std::max<std::int64_t>(loopFrames, 0)));
    for (std::size_t i = 0; !overlayShown.empty() && i < jobs.size(); ++i) {
        overlayShown[overlayIndex(jobs[i])] = true;
    }
    if (!StartOverlay(false, std::move(overlayShown))) {
        return false;
    }
    AdjustFewPixelsDirectly(jobs, m_overlay ? m_overlayInput : nullptr,
                            static_cast<std::uint64_t>(m_script.width) * m_script.height);
    // The last still that shows each overlay frame (none: -1): a frame no later still shows is
    // let go, so the loop does not hold all its frames to the end.
    std::vector<std::int64_t> lastShown(
        static_cast<std::size_t>(std::max<std::int64_t>(loopFrames, 0)), -1);
    for (std::size_t i = 0; m_overlay && !lastShown.empty() && i < jobs.size(); ++i) {
        lastShown[overlayIndex(jobs[i])] = static_cast<std::int64_t>(i);
    }
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::size_t made = 0;  // jobs whose captures exist
    // Opened only when a file has a capture waiting behind another, so not before the first
    // captures start.
    StillKeyFrames keyFrames;
    bool planned = false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const std::size_t ahead = std::min(jobs.size(), i + kStillsAhead);
        if (made < ahead) {
            std::set<std::string> files;
            for (; made < ahead; ++made) {
                MakeStillCaptures(jobs[made], progress);
            }
            for (std::size_t j = i; j < made; ++j) {
                for (const CFFMPEGCapture* capture : jobs[j].captures) {
                    files.insert(capture->Input()->file);
                }
            }
            // Decoders of files that none of these blocks shows are of no more use.
            m_decoders.KeepOnly(files);
        }
        StillJob& job = jobs[i];
        // The block's first frame, composed from one picture of each capture. The render
        // composes every written frame, so the overlay has moved on by as many.
        m_overlayIndex = overlayIndex(job);
        for (bool ready = false; !ready;) {
            if (m_bStop) {
                return true;
            }
            if (!LaunchStillCaptures(jobs, i, made, cores, keyFrames)) {
                return false;
            }
            if (i == 0 && !planned) {
                // While the first captures decode, the sheet is laid out for all the stills.
                planned = true;
                m_stills->Plan(m_script.width, m_script.height, spans);
            }
            ready = true;
            for (const CFFMPEGCapture* capture : job.captures) {
                if (capture->m_bFailed) {
                    PostLog("Error (Project): Failed to capture source video frames.\n");
                    return false;
                }
                ready = ready && Stored(*capture);
            }
            // The overlay decodes its loop meanwhile; asking for the frame lets it go on, and
            // once the captures are there, the wait is for it alone.
            const bool overlay =
                !m_overlay ||
                m_overlay->GetBitmap(m_overlayIndex, 0,
                                     ready ? kStillPoll : std::chrono::milliseconds(0)) != nullptr;
            if (m_overlay && m_overlay->m_bFailed) {
                PostLog("Error (Project): Failed to capture overlay source video frames.\n");
                return false;
            }
            if (!ready) {
                progress.WaitFor(kStillPoll);
            }
            ready = ready && overlay;
        }
        FrameValues values = ValuesFor(job.span, job.block);
        values.frame = 0;
        m_viewports = std::move(job.viewports);
        job.captures.clear();
        if (!ComposeFrame(values, frame) || !m_stills->TakeStill(frame, job.span, job.block)) {
            return false;
        }
        m_viewports.clear();
        for (std::size_t f = 0; m_overlay && f < lastShown.size(); ++f) {
            if (lastShown[f] <= static_cast<std::int64_t>(i)) {
                m_overlay->ReleaseBitmap(static_cast<std::uint32_t>(f));
            }
        }
        PostProgress(static_cast<int>((i + 1) * 100 / jobs.size()), 1);
    }
    return true;
}

void CProject::MakeStillCaptures(StillJob& job, AutoResetEvent& progress) {
    job.viewports = NewViewports(job.span, false);
    std::swap(m_viewports, job.viewports);
    // One picture, decoded on the capture's thread alone: the captures of several files decode
    // side by side instead.
    CaptureSetup setup = Captures(CaptureUse::Still);
    setup.progress = &progress;
    UseCaptures(PlanCaptures(job.block, 1, setup));
    std::swap(m_viewports, job.viewports);
    for (const auto& viewport : job.viewports) {
        if (viewport->m_output == 0) {
            job.captures.push_back(viewport->m_pCapture.get());
        }
    }
    // Areas of one file take turns from the earliest picture, so that each picks up the
    // decoder the one before has just given back instead of opening the file and seeking again.
    std::stable_sort(job.captures.begin(), job.captures.end(),
                     [](const auto* a, const auto* b) { return a->StartMs() < b->StartMs(); });
    job.launched.assign(job.captures.size(), false);
    job.frames.assign(job.captures.size(), std::nullopt);
}

bool CProject::LaunchStillCaptures(std::vector<StillJob>& jobs, std::size_t first, std::size_t end,
                                   std::size_t cores, StillKeyFrames& keyFrames) {
    std::size_t running = 0;
    for (std::size_t j = first; j < end; ++j) {
        for (std::size_t c = 0; c < jobs[j].captures.size(); ++c) {
            running += jobs[j].launched[c] && !Stored(*jobs[j].captures[c]);
        }
    }
    const auto frames = [&](std::size_t j, std::size_t c) {
        std::optional<std::pair<std::int64_t, std::int64_t>>& known = jobs[j].frames[c];
        if (!known) {
            known = keyFrames.Of(*jobs[j].captures[c]);
        }
        return *known;
    };
    // Per file, the captures that still decode it or wait, as (job, capture).
    std::map<std::string, std::vector<std::pair<std::size_t, std::size_t>>> pending;
    // A capture starts once every earlier one of its file has given its decoder back, or at
    // once when its key frame lies past the pictures of all of them: a decoder that went on
    // from theirs would seek there anyway, so a second decoder of the file takes it from there
    // on another core and no picture is decoded twice.
    const auto apart = [&](std::size_t j, std::size_t c,
                           const std::vector<std::pair<std::size_t, std::size_t>>& before) {
        const std::int64_t keyFrame = before.empty() ? 0 : frames(j, c).second;
        return std::all_of(before.begin(), before.end(), [&](const auto& earlier) {
            const std::int64_t target = frames(earlier.first, earlier.second).first;
            return keyFrame >= 0 && target >= 0 && keyFrame > target + CFFMPEGCapture::kSeekGain;
        });
    };
    for (std::size_t j = first; j < end; ++j) {
        StillJob& job = jobs[j];
        for (std::size_t c = 0; c < job.captures.size(); ++c) {
            CFFMPEGCapture& capture = *job.captures[c];
            auto& before = pending[capture.Input()->file];
            if (job.launched[c]) {
                if (!Stored(capture)) {
                    before.emplace_back(j, c);
                }
                continue;
            }
            if (running < cores && apart(j, c, before)) {
                if (!capture.Launch()) {
                    PostLog("Error (Project): Failed to start capture.\n");
                    return false;
                }
                job.launched[c] = true;
                ++running;
            }
            before.emplace_back(j, c);
        }
    }
    return true;
}

}  // namespace zorvo
