#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/DecoderPool.h"
#include "check/WrittenFiles.h"
#include "common/FrameSink.h"
#include "common/Thread.h"
#include "compose/FrameComposition.h"
#include "compose/LabelText.h"
#include "output/AVIWriter.h"
#include "output/FrameWriter.h"
#include "script/Script.h"
#include "script/SpanTiming.h"
#include "timeline/CapturePlan.h"

namespace zorvo {

class CFFMPEGCapture;
class CViewport;
struct TimelineSpan;
struct TimelineBlock;
struct StillJob;
class StillKeyFrames;

// Receives the stills of a storyboard run on the build thread: the first frame of a block,
// composed as the render writes it. False stops the run as failed.
class StillSink {
  public:
    virtual ~StillSink() = default;
    // May be called on the build thread before the first still: the frames will be width x
    // height, one still for each span listed, in order.
    virtual void Plan(int /*width*/, int /*height*/,
                      const std::vector<const TimelineSpan*>& /*spans*/) {}
    // Called on the build thread before any capture starts, with every still's span: false
    // (after a line) when their stills of width x height frames cannot be taken.
    virtual bool Fits(int /*width*/, int /*height*/,
                      const std::vector<const TimelineSpan*>& /*spans*/) {
        return true;
    }
    virtual bool TakeStill(const FrameBitmap& frame, const TimelineSpan& span,
                           const TimelineBlock& block) = 0;
    // Called on the build thread once every still has been taken (not after a stop). False fails
    // the run.
    virtual bool Finish() { return true; }
    // The files the run read, set on the build thread once the script is valid: where the sheet
    // is saved later must not be one of them.
    ReadFiles filesRead;
};

// One build: a script file in, a video out, on its own thread. Constructing the job starts
// it; destroying it stops it (the file written so far is closed properly) and waits.
class CProject : public CThread {
  public:
    // `outputDlg` receives every written frame; it may be null and must outlive the job. A
    // non-empty outputPath replaces the script's own output path. `decoders` bounds the idle
    // decoders kept between blocks (0 per file: none).
    CProject(std::string scriptPath, FrameSink* outputDlg,
             std::uint64_t splitBytes = AVIWriter::kSplitBytes, std::string outputPath = {},
             DecoderPool::Limits decoders = {});
    // A storyboard run: instead of writing files, hands the first frame of every block (or of
    // every span's first block) to `stills`, which must outlive the job. A non-empty
    // stillsPath, where the sheet will be written, is refused when it is a file the build reads.
    CProject(std::string scriptPath, StillSink& stills, bool firstBlockOnly,
             std::string stillsPath = {});
    ~CProject() override;

    // False when the build thread could not be started (a line and the finish message were
    // posted instead).
    bool Started() const { return m_started; }
    // Stops the build as failed: a render then leaves the previous output as it was and its
    // partial file under its name, a storyboard run takes no sheet. Never waits.
    void RequestCancel() {
        m_cancelled.store(true);
        RequestStop();
    }
    // True once the build has ended without error (a stopped build counts as ended).
    bool Succeeded() const { return m_succeeded.load(); }
    // The frames the timeline has written or skipped, as reported in the finish line.
    std::uint32_t FrameCounter() const { return m_frameCounter.load(); }
    // Source pictures decoded during the build, and the distinct ones the captures used.
    std::uint64_t DecodedPictures() const { return m_decoders.decodedPictures.load(); }
    std::uint64_t DistinctPictures() const { return m_decoders.DistinctUsed(); }

    // A high-resolution clock in seconds from an arbitrary origin.
    static double NowSeconds();

  protected:
    bool Process() override;

  private:
    bool Build();
    // Starts the overlay's capture and, with `wait`, waits for every frame of its loop.
    bool StartOverlay(bool wait = true, std::vector<bool> shown = {});
    void PostWrittenFiles() const;
    // Whether RequestCancel ended the build (posts why).
    bool Cancelled() const;
    bool RenderTimeline(FrameWriter& writer);
    // `next`, the span's following block or null, has its captures launched meanwhile.
    bool RenderBlock(const TimelineSpan& span, const TimelineBlock& block,
                     const TimelineBlock* next, FrameWriter& writer);
    bool RenderStills();
    // The viewports of a span, with no capture yet.
    static std::vector<std::unique_ptr<CViewport>> NewViewports(const TimelineSpan& span,
                                                                bool freeLuts);
    void MakeViewports(const TimelineSpan& span);
    // One area's capture for a block, and its output in it.
    struct AreaCapture {
        std::shared_ptr<CFFMPEGCapture> capture;
        std::size_t output = 0;
        size_t inputIndex = 0;
    };
    // What the build's captures share, for one use.
    CaptureSetup Captures(CaptureUse use);
    std::vector<AreaCapture> PlanCaptures(const TimelineBlock& block, std::uint32_t frames,
                                          const CaptureSetup& setup);
    void UseCaptures(std::vector<AreaCapture> captures);
    void LaunchEarly(const TimelineBlock& block);
    bool LaunchCaptures(const std::vector<size_t>& areas);
    bool StartCaptures(const TimelineBlock& block, std::uint32_t frames);
    // The viewports of a storyboard block and the captures of their first picture, not started;
    // each signals `progress`.
    void MakeStillCaptures(StillJob& job, AutoResetEvent& progress);
    // Starts the still captures of jobs [first, end) that may run now, while fewer than `cores`
    // decode: those whose file no earlier capture still decodes, and those whose key frame lies
    // past the pictures of every earlier one of their file (`keyFrames` tells where they lie).
    // False after a log line.
    bool LaunchStillCaptures(std::vector<StillJob>& jobs, std::size_t first, std::size_t end,
                             std::size_t cores, StillKeyFrames& keyFrames);
    bool ComposeFrame(const FrameValues& values, FrameBitmap& output);
    void PostRemainingTime(std::uint32_t framesDone);

    CScript m_script;
    FrameSink* m_pOutputDlg;
    LabelFont m_font;
    std::uint64_t m_splitBytes;
    std::string m_outputPath;
    StillSink* m_stills = nullptr;
    bool m_firstBlockOnly = false;
    bool m_started = false;
    std::atomic<bool> m_succeeded{false};
    // A render that the stop flag ended early, and the frames its output holds.
    bool m_stoppedEarly = false;
    std::atomic<bool> m_cancelled{false};
    std::uint32_t m_framesWritten = 0;
    // The files a finished render left, with their sizes in bytes, for its closing lines.
    std::vector<std::pair<std::string, std::uintmax_t>> m_writtenFiles;
    bool m_wroteAvi = false;

    // Idle decoders between blocks; the captures of this build take and give them back.
    DecoderPool m_decoders;
    // State of the running build, used by the build thread only.
    std::vector<std::unique_ptr<CViewport>> m_viewports;
    // The next block's captures, launched while the current block is composed, and the turn
    // the captures of the last block made took.
    std::vector<AreaCapture> m_early;
    std::uint64_t m_captureTurns = 0;
    std::unique_ptr<CFFMPEGCapture> m_overlay;
    CSInput* m_overlayInput = nullptr;
    std::uint32_t m_overlayIndex = 0;
    std::atomic<std::uint32_t> m_frameCounter{0};
    std::uint32_t m_frameEstimate = 0;
    double m_renderStart = 0;
    double m_lastEstimate = 0;
};

}  // namespace zorvo
