#include "capture/FFMPEGCapture.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <vector>

#include "capture/DecoderPool.h"
#include "capture/FrameScaler.h"
#include "capture/VideoDecoder.h"
#include "common/LogChannel.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace zorvo {

namespace {

// How far the decoder may run ahead of the last frame handed out: `m_framesAhead`, fewer when
// the frames are large (a full HD area), so that those waiting in the cache stay under about 8
// MiB: a full HD render's memory is mostly decoders and the encoder, and more frames ahead did
// not make it faster.
constexpr std::uint32_t kLeastFramesAhead = 2;
constexpr std::size_t kAheadBytes = std::size_t{8} << 20;
constexpr std::size_t kBeforeBlockBytes = std::size_t{4} << 20;
// Released frames an output keeps for reuse, at most about 2 MiB of them (one at least): the
// consumer releases them one by one as the worker stores them, so one serves a large frame.
constexpr std::size_t kSpareFrames = 4;
constexpr std::size_t kSpareBytes = std::size_t{2} << 20;
// A stop raised by RequestStop wakes no one; waiting workers look at the flag this often.
constexpr std::chrono::milliseconds kStopPoll{20};

}  // namespace

CFFMPEGCapture::CFFMPEGCapture(const CSInput* input, std::int64_t startMs, std::uint32_t frameCount,
                               std::int32_t width, std::int32_t height, std::int32_t zoom,
                               std::int32_t noiseReduction, FlipMode flipMode)
    : m_startMs(startMs),
      m_frameCount(frameCount),
      m_pInput(input),
      m_zoom(zoom),
      m_noiseReduction(noiseReduction),
      m_flipMode(flipMode) {
    m_file = input ? input->file : std::string();
    AddOutput(width, height);
}

CFFMPEGCapture::~CFFMPEGCapture() {
    Stop();
    LeaveTurn();  // the worker may have been stopped before it ran
    std::lock_guard lock(m_mutex);
    m_outputs.clear();
}

std::size_t CFFMPEGCapture::AddOutput(std::int32_t width, std::int32_t height) {
    auto output = std::make_unique<Output>();
    output->width = width;
    output->height = height;
    m_outputs.push_back(std::move(output));
    return m_outputs.size() - 1;
}

bool CFFMPEGCapture::Start() {
    if (!Launch()) {
        return false;
    }
    WaitOpened();
    return true;
}

bool CFFMPEGCapture::Launch() {
    m_eventReady.Reset();
    m_lastRequested.store(m_firstFrame);
    if (m_pDecoders && m_pInput && m_turn > 0 && !m_holdsTurn.exchange(true)) {
        m_pDecoders->Enter(m_file, m_turn);
    }
    if (!StartThread()) {
        LeaveTurn();
        return false;
    }
    return true;
}

void CFFMPEGCapture::LeaveTurn() {
    if (m_holdsTurn.exchange(false)) {
        m_pDecoders->Leave(m_file, m_turn);
    }
}

void CFFMPEGCapture::WaitOpened() {
    // A stop raised meanwhile may keep the worker from ever opening, so it ends the wait too.
    while (!m_eventReady.WaitFor(kStopPoll)) {
        if (m_bStop.load()) {
            break;
        }
    }
}

bool CFFMPEGCapture::Process() {
    if (!Capture()) {
        Fail();
    }
    LeaveTurn();
    {
        // The end may have made the last frame ready (no look-ahead frame follows it).
        std::lock_guard lock(m_mutex);
        m_resting = true;
    }
    NotifyStored();
    return false;
}

void CFFMPEGCapture::WaitBetweenPictures() {
    std::unique_lock lock(m_mutex);
    if (m_produced.load() <= m_firstFrame) {
        return;  // still seeking: a stop costs less than waiting
    }
    while (!m_resting && !m_bFailed.load() && !m_bStop.load()) {
        m_frameStored.wait_for(lock, kStopPoll);
    }
}

void CFFMPEGCapture::Fail() {
    {
        std::lock_guard lock(m_mutex);
        m_bFailed.store(true);
    }
    NotifyStored();
}

void CFFMPEGCapture::NotifyStored() {
    m_frameStored.notify_all();
    if (m_pProgress) {
        m_pProgress->Set();
    }
}

void CFFMPEGCapture::BeginBlock() {
    {
        std::lock_guard lock(m_mutex);
        m_beforeBlock = false;
    }
    m_consumerMoved.notify_all();
}

void CFFMPEGCapture::WakeWorker() {
    { std::lock_guard lock(m_mutex); }
    m_consumerMoved.notify_all();
    if (m_pDecoders) {
        m_pDecoders->WakeWaiters();
    }
}

Rect CFFMPEGCapture::ComputeSourceRect(std::int32_t w, std::int32_t h, std::size_t output) const {
    if (output >= m_outputs.size()) {
        return {};
    }
    const Output& out = *m_outputs[output];
    return zorvo::ComputeSourceRect(w, h, m_zoom, m_sourceRect, out.width, out.height,
                                    m_pInput ? m_pInput->focus : InputFocus::Center);
}

const FrameBitmap* CFFMPEGCapture::GetBitmap(std::uint32_t index, std::size_t output,
                                             std::chrono::milliseconds wait) {
    if (index >= m_frameCount) {
        PostLog(
            "Warning (FFMPEGCapture): Wrong GetBitmap position (over the end of the segment).\n");
        index = m_frameCount > 0 ? m_frameCount - 1 : 0;
    }
    std::unique_lock lock(m_mutex);
    // The decoder may run ahead of the furthest frame asked for, ready or not: a fast input
    // asks for frames far apart, and waiting for a handed-out one would stall both sides.
    // Only the consumer's thread writes it; under the mutex, so the throttle never misses it.
    if (index > m_lastRequested.load()) {
        m_lastRequested.store(index);
        m_consumerMoved.notify_all();
    }
    // Frame `index` is handed out once the one after it exists, or once the file has ended
    // right after the last requested frame.
    const auto ready = [&] {
        return static_cast<std::uint64_t>(index) + (m_complete.load() ? 0 : 1) < m_produced.load();
    };
    // The worker stores frames and sets both flags under the mutex, so no signal is missed.
    m_frameStored.wait_for(lock, wait, [&] { return m_bFailed.load() || ready(); });
    if (m_bFailed.load() || !ready()) {
        return nullptr;
    }
    if (output >= m_outputs.size()) {
        return nullptr;
    }
    const auto& frames = m_outputs[output]->frames;
    const auto found = frames.find(index);
    if (found == frames.end()) {
        return nullptr;
    }
    return found->second.get();
}

void CFFMPEGCapture::ReleaseBitmap(std::uint32_t index, std::size_t output) {
    std::lock_guard lock(m_mutex);
    if (output >= m_outputs.size()) {
        return;
    }
    Output& out = *m_outputs[output];
    const auto found = out.frames.find(index);
    if (found == out.frames.end()) {
        return;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(out.width) * out.height * 3;
    if (out.spare.size() <
        std::clamp<std::size_t>(kSpareBytes / std::max<std::size_t>(frameBytes, 1), 1,
                                kSpareFrames)) {
        out.spare.push_back(std::move(found->second));
    }
    out.frames.erase(found);
}

bool CFFMPEGCapture::AllocatePicture(Output& output) {
    if (output.picture) {
        return true;
    }
    // Rows of exactly 3 x width bytes; a little slack after the last one for the scaler.
    if (av_image_check_size(static_cast<unsigned>(output.width),
                            static_cast<unsigned>(output.height), 0, nullptr) < 0) {
        PostLog("Error (FFMPEGCapture): Failed to fill buffer.\n");
        return false;
    }
    const size_t bytes = static_cast<size_t>(output.width) * static_cast<size_t>(output.height) * 3;
    output.picture.reset(new (std::nothrow) std::uint8_t[bytes + 64]);
    if (!output.picture) {
        PostLog("Error (FFMPEGCapture): Failed to allocate frame RGB.\n");
        return false;
    }
    return true;
}

bool CFFMPEGCapture::BlackPicture() {
    for (const auto& output : m_outputs) {
        if (!AllocatePicture(*output)) {
            return false;
        }
        std::memset(output->picture.get(), 0,
                    static_cast<size_t>(output->width) * static_cast<size_t>(output->height) * 3);
    }
    return true;
}

bool CFFMPEGCapture::ConvertPicture(const AVFrame& current, bool changed) {
    const bool flip = FlipsPicture(m_flipMode, static_cast<AVPixelFormat>(current.format));
    for (auto it = m_outputs.begin(); it != m_outputs.end(); ++it) {
        const auto& output = *it;
        if (!changed && output->picture) {
            continue;
        }
        if (!AllocatePicture(*output)) {
            return false;
        }
        // Areas of the same size that show the same part of the picture (side by side, say)
        // get the same scaled picture, so it is scaled once.
        const auto twin = std::find_if(m_outputs.begin(), it, [&](const auto& other) {
            return other->width == output->width && other->height == output->height &&
                   other->rect == output->rect;
        });
        if (twin != it) {
            std::memcpy(
                output->picture.get(), (*twin)->picture.get(),
                static_cast<size_t>(output->width) * static_cast<size_t>(output->height) * 3);
            continue;
        }
        if (!output->scaler.Convert(current, output->rect, flip, output->width, output->height,
                                    m_interpolation, output->picture.get(), m_orientation)) {
            PostLog("Error (FFMPEGCapture): Failed to get sws context.\n");
            return false;
        }
    }
    return true;
}

bool CFFMPEGCapture::StoreFrame(std::uint32_t index, bool last) {
    std::vector<std::unique_ptr<FrameBitmap>> bitmaps;
    for (const auto& output : m_outputs) {
        // No picture is scaled after the last frame: it keeps the scaled one itself.
        const bool adopt = last && m_noiseReduction == 0;
        std::unique_ptr<FrameBitmap> bitmap;
        if (!adopt) {
            std::lock_guard lock(m_mutex);
            if (!output->spare.empty()) {
                bitmap = std::move(output->spare.back());
                output->spare.pop_back();
            }
        }
        if (!bitmap &&
            (!(bitmap = std::unique_ptr<FrameBitmap>(new (std::nothrow) FrameBitmap)) ||
             !(adopt ? bitmap->Adopt(output->width, output->height, std::move(output->picture))
                     : bitmap->AllocateUnset(output->width, output->height)))) {
            PostLog("Error (FFMPEGCapture): Failed to create DIB section.\n");
            return false;
        }
        if (!adopt && m_noiseReduction == 0) {
            std::memcpy(bitmap->Bits(), output->picture.get(), bitmap->SizeBytes());
        } else if (!adopt &&
                   !output->noiseFilter.Apply(m_noiseReduction, output->picture.get(),
                                              bitmap->Bits(), output->width, output->height)) {
            return false;
        }
        bitmaps.push_back(std::move(bitmap));
    }
    {
        // Every output's frame appears at once: m_produced counts for all of them.
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < m_outputs.size(); ++i) {
            m_outputs[i]->frames[index] = std::move(bitmaps[i]);
        }
        m_produced.store(index + 1);
    }
    NotifyStored();
    return true;
}

void CFFMPEGCapture::PostInputContext(const std::string& what) const {
    if (m_pInput) {
        PostContext("FFMPEGCapture", Format("input '%s', file '%s': %s", m_pInput->id.c_str(),
                                            m_file.c_str(), what.c_str()));
    }
}

bool CFFMPEGCapture::Capture() {
    if (m_holdsTurn.load() && !m_pDecoders->WaitTurn(m_file, m_turn, m_bStop)) {
        m_eventReady.Set();
        return false;  // stopped while the captures before it still held the file
    }
    // Where the file does not reach, black or the nearest picture instead of a failure.
    const FillMode fill = m_pInput ? m_pInput->settings.fill : FillMode::None;
    const bool fills = fill == FillMode::Black || fill == FillMode::Hold;
    std::unique_ptr<VideoDecoder> decoder;
    if (m_pDecoders && m_pInput && m_startMs >= 0) {
        decoder =
            m_pDecoders->Take(m_file, m_startMs, m_firstFrame, m_pInput->settings.deinterlace);
    }
    const bool reused = decoder != nullptr;
    const bool opened = reused || [&] {
        if (m_startMs < 0 && !fills) {
            // A negative start would wrap to a huge frame number.
            PostLog(
                "Error (FFMPEGCapture): Segment starts before the beginning of the video file.\n");
            PostInputContext(Format("starts at %lld ms", static_cast<long long>(m_startMs)));
            return false;
        }
        if (!m_pInput) {
            PostLog("Error (FFMPEGCapture): Failed to open video file.\n");
            return false;
        }
        decoder = std::make_unique<VideoDecoder>();
        if (!decoder->Open(m_file, m_libraryThreads)) {
            PostInputContext(decoder->Reason());
            return false;
        }
        if (m_pDecoders) {
            m_pDecoders->Track(*decoder);
        }
        return true;
    }();
    if (!opened) {
        // Set before the starter wakes, so it sees the failure at once.
        Fail();
        m_eventReady.Set();
        return false;
    }
    m_eventReady.Set();

    if (!reused && !decoder->AllocatePictures()) {
        return false;
    }
    if (!reused && m_pInput) {
        decoder->SetDeinterlace(m_pInput->settings.deinterlace);
    }

    const AVRational rate = decoder->FrameRate();
    const std::int64_t firstTarget =
        std::max<std::int64_t>(decoder->SegmentFrame(m_startMs, m_firstFrame), 0);
    // Where the file's index lists a key frame before the start, decoding begins there when
    // that is nearer than where the decoder stands.
    const std::int64_t keyFrame = decoder->KeyFrameAtOrBefore(firstTarget);
    if (reused && !(keyFrame > decoder->CurrentIndex() + kSeekGain)) {
        // The pool only hands out decoders that reach the start this way.
        decoder->StepBackFor(firstTarget);
    } else if (keyFrame > 0) {
        decoder->SeekBefore(firstTarget);
    } else if (!reused) {
        const std::int64_t preRoll =
            std::int64_t{m_preRollIntervals} * decoder->MinKeyFrameInterval();
        if (firstTarget > preRoll) {
            // Otherwise the decoder simply reads from the beginning and passes the early frames.
            decoder->SeekBefore(firstTarget - preRoll);
        }
    }
    decoder->DecodeWholeBefore(m_lookAhead ? VideoDecoder::kWholeBefore : 0);
    if (m_startMs >= 0) {
        decoder->ShowSegment(m_startMs, m_firstFrame, m_frameCount);
    }
    if (m_pDecoders) {
        decoder->CountPicturesInto(&m_pDecoders->decodedPictures);
        if (!m_pDecoders->PassesOver()) {
            decoder->DecodeEveryPicture();
        }
    }

    // Framed, focused and zoomed on the upright picture.
    m_orientation = m_pInput && m_pInput->settings.rotation >= 0
                        ? OrientationOfTurn(m_pInput->settings.rotation)
                        : decoder->FileOrientation();
    const int shownWidth = m_orientation.ShownWidth(decoder->Width(), decoder->Height());
    const int shownHeight = m_orientation.ShownHeight(decoder->Width(), decoder->Height());
    for (std::size_t i = 0; i < m_outputs.size(); ++i) {
        m_outputs[i]->rect = ComputeSourceRect(shownWidth, shownHeight, i);
    }
    std::size_t frameBytes = 0;
    for (const auto& output : m_outputs) {
        frameBytes +=
            static_cast<std::size_t>(output->width) * static_cast<std::size_t>(output->height) * 3;
    }
    const auto ahead = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(kAheadBytes / std::max<std::size_t>(frameBytes, 1),
                                std::min(kLeastFramesAhead, m_framesAhead), m_framesAhead));
    const auto beforeBlock = std::min(
        ahead, static_cast<std::uint32_t>(std::max<std::size_t>(
                   kLeastFramesAhead, kBeforeBlockBytes / std::max<std::size_t>(frameBytes, 1))));
    bool frameStored = false;
    bool fileEnded = false;   // the file ended before a requested frame
    bool pastEnd = false;     // filled with black after the file's last picture
    bool blackShown = false;  // the pictures are black: the next real one is converted
    m_produced.store(m_firstFrame);
    for (std::uint32_t n = m_firstFrame;; n = m_produced.load()) {
        {
            std::unique_lock lock(m_mutex);
            // The consumer's next request, or a stop, wakes the throttle.
            while (n > std::uint64_t{m_lastRequested.load()} +
                           (m_beforeBlock ? beforeBlock : ahead) &&
                   !m_bStop.load()) {
                if (!m_resting) {
                    m_resting = true;
                    m_frameStored.notify_all();
                }
                m_consumerMoved.wait_for(lock, kStopPoll);
            }
            m_resting = false;
        }
        if (m_bStop.load()) {
            if (m_pDecoders && frameStored && !decoder->AtEnd()) {
                // Stopped between two pictures: the decoder sits on the last one it decoded,
                // where the next request near this one can go on.
                decoder->CountPicturesInto(nullptr);
                decoder->ShowSegment(0, 0, 0);
                m_pDecoders->Give(std::move(decoder));
                LeaveTurn();
            }
            break;
        }
        frameStored = false;
        const bool last = n + (m_lookAhead ? 1 : 2) > m_frameCount;
        if (m_noiseReduction <= 0 && !m_shownFrames.empty() &&
            !(n < m_shownFrames.size() && m_shownFrames[n])) {
            // Nothing decoded for it: the next frame that is shown decodes on from here.
            if (last && !m_lookAhead) {
                m_complete.store(true);
            }
            {
                std::lock_guard lock(m_mutex);
                m_produced.store(n + 1);
            }
            NotifyStored();
            frameStored = true;
            if (last) {
                break;
            }
            continue;
        }
        // Output frame n shows the file's moment m_startMs + 40 n ms: before 0, its first
        // picture has not been recorded yet.
        const bool beforeFile = fills && m_startMs + std::int64_t{40} * n < 0;
        bool black = fill == FillMode::Black && (beforeFile || pastEnd);
        bool changed = false;
        VideoDecoder::Result result = VideoDecoder::Result::Ready;
        std::int64_t target = 0;
        if (!black) {
            target = beforeFile ? 0
                     : fills    ? std::max<std::int64_t>(decoder->SegmentFrame(m_startMs, n), 0)
                                : decoder->SegmentFrame(m_startMs, n);
            result = decoder->PictureFor(target, m_bStop, changed);
            if (result == VideoDecoder::Result::EndOfFile && fills &&
                !(n == m_frameCount && n > 0)) {
                // Past the file's last picture, which holds unless black fills.
                pastEnd = fill == FillMode::Black || !decoder->Current();
                black = pastEnd;
                result = VideoDecoder::Result::Ready;
            }
        }
        if (black) {
            if (!BlackPicture()) {
                break;
            }
            blackShown = true;
            if (last && !m_lookAhead) {
                m_complete.store(true);
            }
            if (!StoreFrame(n, last)) {
                break;
            }
            frameStored = true;
            if (last) {
                break;
            }
            continue;
        }
        if (result == VideoDecoder::Result::EndOfFile) {
            if (n == m_frameCount && n > 0 && !fileEnded) {
                // Only the look-ahead frame is missing: every requested frame is there.
                if (!changed) {
                    m_complete.store(true);
                    return true;
                }
            } else {
                PostLog("Error (FFMPEGCapture): Failed to decode frame.\n");
                PostInputContext(
                    Format("the file ends before source frame %lld (%.2f s), which "
                           "frame %u of the segment from %lld ms needs",
                           static_cast<long long>(target),
                           static_cast<double>(target) * rate.den / rate.num,
                           static_cast<unsigned>(n), static_cast<long long>(m_startMs)));
                fileEnded = true;
            }
        } else if (result == VideoDecoder::Result::Failed) {
            PostInputContext(decoder->Reason());
        }
        if (result != VideoDecoder::Result::Ready && !changed) {
            break;
        }
        if (!ConvertPicture(*decoder->Current(), changed || blackShown)) {
            break;
        }
        blackShown = false;
        if (m_pDecoders) {
            m_pDecoders->NoteUsed(m_file, decoder->CurrentIndex());
            if (last && !decoder->AtEnd()) {
                // Sits on the last picture it decoded: the next capture of this file goes on
                // from here. Given back before that frame is stored, so that a consumer that
                // waits for it and then starts such a capture finds it in the pool.
                decoder->CountPicturesInto(nullptr);
                decoder->ShowSegment(0, 0, 0);
                m_pDecoders->Give(std::move(decoder));
                LeaveTurn();
            }
        }
        if (last && !m_lookAhead) {
            m_complete.store(true);  // no picture after this one is waited for
        }
        if (!StoreFrame(n, last)) {
            break;
        }
        frameStored = true;
        if (last) {
            break;
        }
    }
    return frameStored;
}

}  // namespace zorvo
