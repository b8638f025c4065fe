#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/FrameScaler.h"
#include "capture/NoiseReduction.h"
#include "common/Event.h"
#include "common/FrameBitmap.h"
#include "common/Rect.h"
#include "common/Thread.h"
#include "script/Input.h"
#include "script/Interpolation.h"

namespace zorvo {

// Decodes one stretch of an input video (the segment) on its own thread into frame bitmaps at
// 25 frames per second: output frame n shows source frame S + floor(n x fps / 25), where S is
// the source frame at `startMs`. Each frame is cropped (zoom and focus, or `m_sourceRect`),
// scaled to width x height with its script's interpolation flags, flipped as the flip mode
// says and noise-reduced. The consumer polls `GetBitmap` frame by frame; the decoder keeps at
// most `m_framesAhead` (8) frames ahead of the furthest one asked for, fewer when they are large
// (2 at least, about 8 MiB of frames). With a decoder pool, the capture starts from an idle
// decoder of the file near its segment when there is one, and gives its own back when it has
// produced every frame. Further outputs (AddOutput) scale the same decoded pictures to other
// sizes, so areas that show the same stretch of an input decode it once.
class DecoderPool;

class CFFMPEGCapture : public CThread {
  public:
    // Touches nothing yet. `input` is not owned and must outlive the capture.
    CFFMPEGCapture(const CSInput* input, std::int64_t startMs, std::uint32_t frameCount,
                   std::int32_t width, std::int32_t height, std::int32_t zoom,
                   std::int32_t noiseReduction, FlipMode flipMode);
    // Stops the worker (also while it decodes or waits), then frees every cached frame.
    ~CFFMPEGCapture() override;

    // Starts the worker and returns once the decoder is open or has failed to open. False only
    // when no thread could be started. A file that does not open still gives true, and
    // `m_bFailed` is already set when this returns.
    bool Start();
    // Start in two halves, so that several captures open their files at the same time: Launch
    // starts the worker (false only when no thread could be started), WaitOpened returns once
    // the decoder is open or has failed to open.
    bool Launch();
    void WaitOpened();

    // Another output of the same pictures, scaled to width x height with the same zoom, focus,
    // flip and noise reduction; call before Start. Returns its number for GetBitmap and
    // ReleaseBitmap (the constructor's size is output 0).
    std::size_t AddOutput(std::int32_t width, std::int32_t height);

    // The frame for `index`, owned by the capture and valid until ReleaseBitmap(index) or
    // destruction; null (after waiting at most `wait` for it) while it is not ready, and
    // null at once after a failure. An index past the segment is answered with its last frame and a
    // warning.
    const FrameBitmap* GetBitmap(std::uint32_t index, std::size_t output = 0,
                                 std::chrono::milliseconds wait = std::chrono::milliseconds(100));
    // Frees a frame that is no longer needed.
    void ReleaseBitmap(std::uint32_t index, std::size_t output = 0);

    // Once the capture has stored a frame, waits until its worker rests between two pictures
    // (ahead of its consumer) or has ended, so that destroying it then gives a whole decoder
    // back to the pool instead of throwing away one stopped in the middle of a picture.
    void WaitBetweenPictures();

    // The crop rectangle of an output for a w x h source (see ComputeSourceRect in
    // FrameScaler.h).
    Rect ComputeSourceRect(std::int32_t w, std::int32_t h, std::size_t output = 0) const;

    const CSInput* Input() const { return m_pInput; }
    std::int64_t StartMs() const { return m_startMs; }
    std::uint32_t FrameCount() const { return m_frameCount; }

    // A key frame fewer pictures ahead of a reused decoder than this is not worth a seek:
    // flushing the decoder's threads costs about as much.
    static constexpr std::int64_t kSeekGain = 4;

    // Number of frames converted and cached so far.
    std::uint32_t Produced() const { return m_produced.load(); }

    // Scaler flags (libswscale values) of the script the capture serves; set before Start.
    std::int32_t m_interpolation = kDefaultInterpolation;
    // The file decoded: the input's own, unless a preview reads its proxy. Set before Start.
    std::string m_file;
    // Explicit crop in source pixels, used with zoom 0; set before Start. Empty: whole picture.
    Rect m_sourceRect;
    // The first frame produced; earlier ones are never decoded into the cache nor asked for (a
    // single frame composed in the middle of a block). Set before Start.
    std::uint32_t m_firstFrame = 0;
    // Key frame intervals read ahead of the first frame when the capture opens the file itself,
    // a margin for files that seek inexactly; a preview that wants one frame soon takes one.
    // Set before Start.
    std::int32_t m_preRollIntervals = 3;
    // Whether a decoder the capture opens itself uses the library's own threads.
    bool m_libraryThreads = true;
    // How far the decoder may run ahead of the furthest frame asked for; set before Start.
    std::uint32_t m_framesAhead = 8;
    // Off: the last frame is handed out as soon as it is stored, without decoding the picture
    // after it, and pictures before the first frame that nothing refers to are all passed over
    // (a still, which needs its one picture and not the one before). Set before Start.
    bool m_lookAhead = true;
    // Where decoders are taken from and given back to; set before Start. Null: the capture
    // opens its own decoder and closes it at the end. A capture stopped while it waits ahead of
    // its consumer gives its decoder back too.
    DecoderPool* m_pDecoders = nullptr;
    // With a pool, the capture takes a decoder of its file only once the captures of earlier
    // turns have given theirs back (see DecoderPool::Enter), so that it can be launched while
    // they still run; 0: no turn. Set before Start.
    std::uint64_t m_turn = 0;
    // Launched before its block: until BeginBlock, the decoder keeps only about 4 MiB of frames
    // ahead (2 at least), so that waiting captures hold little memory. Set before Start.
    bool m_beforeBlock = false;
    void BeginBlock();
    // The frames that are converted and stored, when not empty (frames past its end are not):
    // the others are passed over without a picture, and GetBitmap has none for them. Noise
    // reduction filters each picture into the next, so with it every frame is. Set before Start.
    std::vector<bool> m_shownFrames;
    // Set whenever a frame is stored, the capture fails or its worker ends, so that one thread
    // can wait for any of several captures; set before Start. Null: none.
    AutoResetEvent* m_pProgress = nullptr;
    // The capture ended without success; consumers stop polling.
    std::atomic<bool> m_bFailed{false};

  protected:
    bool Process() override;
    void WakeWorker() override;

  private:
    // One size the pictures are scaled to, with the frames cached for it.
    struct Output {
        std::int32_t width = 0;
        std::int32_t height = 0;
        Rect rect;  // the part of the source picture it shows
        std::map<std::uint32_t, std::unique_ptr<FrameBitmap>> frames;
        // Released frames, filled again instead of allocating and clearing new ones.
        std::vector<std::unique_ptr<FrameBitmap>> spare;
        NoiseReduction noiseFilter;  // holds the running picture
        FrameScaler scaler;
        std::unique_ptr<std::uint8_t[]> picture;  // the current source picture, scaled
    };

    bool Capture();
    // The scaled picture's buffer of an output, allocated once.
    bool AllocatePicture(Output& output);
    // Every output's picture black: where a filled input's file does not reach.
    bool BlackPicture();
    // Scales the current picture for every output (when it changed), then stores frame
    // `index` of every output at once.
    bool ConvertPicture(const AVFrame& current, bool changed);
    // The last frame takes the scaled pictures themselves where nothing filters them.
    bool StoreFrame(std::uint32_t index, bool last);
    // Lets the captures of later turns of the file go on.
    void LeaveTurn();
    // Sets the failure flag and wakes a consumer waiting for a frame.
    void Fail();
    // Wakes the consumers after a frame, the end or a failure (m_frameStored and m_pProgress).
    void NotifyStored();
    // The line after a failure that names the input, its file and what went wrong.
    void PostInputContext(const std::string& what) const;

    const std::int64_t m_startMs;
    const std::uint32_t m_frameCount;
    const CSInput* const m_pInput;
    const std::int32_t m_zoom;
    const std::int32_t m_noiseReduction;
    const FlipMode m_flipMode;
    // How the pictures are turned upright; set by the worker before its first picture.
    Orientation m_orientation;

    std::atomic<std::uint32_t> m_produced{0};
    std::atomic<std::uint32_t> m_lastRequested{0};
    // The file ended right after the last requested frame, so no look-ahead frame follows.
    std::atomic<bool> m_complete{false};
    // The worker waits ahead of its consumer, or has ended; guarded by m_mutex.
    bool m_resting = false;
    std::atomic<bool> m_holdsTurn{false};
    std::mutex m_mutex;
    std::condition_variable m_frameStored;    // a frame, the end or a failure: for the consumer
    std::condition_variable m_consumerMoved;  // a frame handed out or a stop: for the throttle
    // Fixed before the worker starts; the frame maps are guarded by m_mutex.
    std::vector<std::unique_ptr<Output>> m_outputs;
    AutoResetEvent m_eventReady;
};

}  // namespace zorvo
