#include "capture/FFMPEGCapture.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "capture/FrameScaler.h"
#include "capture/VideoDecoder.h"
#include "common/LogChannel.h"
#include "script/Interpolation.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace zorvo {

namespace {

// How far the decoder may run ahead of the last frame handed out.
constexpr std::uint32_t kFramesAhead = 8;

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

CFFMPEGCapture::CFFMPEGCapture(const CSInput* input, std::int64_t startMs, std::uint32_t frameCount,
                               std::int32_t width, std::int32_t height, std::int32_t zoom,
                               std::int32_t noiseReduction, FlipMode flipMode)
    : m_startMs(startMs),
      m_frameCount(frameCount),
      m_width(width),
      m_height(height),
      m_pInput(input),
      m_zoom(zoom),
      m_noiseReduction(noiseReduction),
      m_flipMode(flipMode) {}

CFFMPEGCapture::~CFFMPEGCapture() {
    Stop();
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

bool CFFMPEGCapture::Start() {
    m_eventReady.Reset();
    if (!StartThread()) {
        return false;
    }
    // Captures that one thread starts one after another never open decoders at the same time.
    // A stop raised meanwhile may keep the worker from ever opening, so it ends the wait too.
    while (!m_eventReady.WaitFor(std::chrono::milliseconds(10))) {
        if (m_bStop.load()) {
            break;
        }
    }
    Sleep(1);
    return true;
}

bool CFFMPEGCapture::Process() {
    m_bFailed.store(!Capture());
    return false;
}

Rect CFFMPEGCapture::ComputeSourceRect(std::int32_t w, std::int32_t h) const {
    return zorvo::ComputeSourceRect(w, h, m_zoom, m_sourceRect, m_width, m_height,
                                    m_pInput ? m_pInput->focus : InputFocus::Center);
}

const FrameBitmap* CFFMPEGCapture::GetBitmap(std::uint32_t index) {
    if (index >= m_frameCount) {
        PostLog(
            "Warning (FFMPEGCapture): Wrong GetBitmap position (over the end of the segment).\n");
        index = m_frameCount > 0 ? m_frameCount - 1 : 0;
    }
    if (m_bFailed.load()) {
        return nullptr;
    }
    // Frame `index` is handed out once the one after it exists, or once the file has ended
    // right after the last requested frame.
    const bool complete = m_complete.load();
    if (static_cast<std::uint64_t>(index) + (complete ? 0 : 1) < m_produced.load()) {
        std::lock_guard lock(m_mutex);
        const auto found = m_frames.find(index);
        if (found != m_frames.end()) {
            m_lastRequested.store(index);
            return found->second.get();
        }
    }
    Sleep(100);
    return nullptr;
}

void CFFMPEGCapture::ReleaseBitmap(std::uint32_t index) {
    std::lock_guard lock(m_mutex);
    m_frames.erase(index);
}

bool CFFMPEGCapture::StoreFrame(std::uint32_t index, const std::uint8_t* picture) {
    auto bitmap = std::unique_ptr<FrameBitmap>(new (std::nothrow) FrameBitmap);
    if (!bitmap || !bitmap->Allocate(m_width, m_height)) {
        PostLog("Error (FFMPEGCapture): Failed to create DIB section.\n");
        return false;
    }
    if (m_noiseReduction == 0) {
        std::memcpy(bitmap->Bits(), picture, bitmap->SizeBytes());
    } else if (!m_noiseFilter.Apply(m_noiseReduction, picture, bitmap->Bits(), m_width, m_height)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_frames[index] = std::move(bitmap);
    return true;
}

void CFFMPEGCapture::PostInputContext(const std::string& what) const {
    if (m_pInput) {
        PostContext("FFMPEGCapture", Format("input '%s', file '%s': %s", m_pInput->id.c_str(),
                                            m_pInput->file.c_str(), what.c_str()));
    }
}

bool CFFMPEGCapture::Capture() {
    VideoDecoder decoder;
    const bool opened = [&] {
        if (m_startMs < 0) {
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
        if (!decoder.Open(m_pInput->file)) {
            PostInputContext(decoder.Reason());
            return false;
        }
        return true;
    }();
    if (!opened) {
        // Set before the starter wakes, so it sees the failure at once.
        m_bFailed.store(true);
        m_eventReady.Set();
        return false;
    }
    m_eventReady.Set();

    if (!decoder.AllocatePictures()) {
        return false;
    }
    // Rows of exactly 3 x width bytes; a little slack after the last one for the scaler.
    if (av_image_check_size(static_cast<unsigned>(m_width), static_cast<unsigned>(m_height), 0,
                            nullptr) < 0) {
        PostLog("Error (FFMPEGCapture): Failed to fill buffer.\n");
        return false;
    }
    const size_t pictureBytes = static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 3;
    std::unique_ptr<std::uint8_t[]> picture(new (std::nothrow) std::uint8_t[pictureBytes + 64]);
    if (!picture) {
        PostLog("Error (FFMPEGCapture): Failed to allocate frame RGB.\n");
        return false;
    }

    const AVRational rate = decoder.FrameRate();
    const std::int64_t startFrame = av_rescale_rnd(
        m_startMs, rate.num, static_cast<std::int64_t>(rate.den) * 1000, AV_ROUND_DOWN);
    const std::int64_t preRoll = 3 * static_cast<std::int64_t>(decoder.MinKeyFrameInterval());
    if (startFrame > preRoll) {
        // Otherwise the decoder simply reads from the beginning and passes the early frames.
        decoder.SeekBefore(startFrame - preRoll);
    }

    const Rect rect = ComputeSourceRect(decoder.Width(), decoder.Height());
    FrameScaler scaler;
    bool frameStored = false;
    bool fileEnded = false;  // the file ended before a requested frame
    m_produced.store(0);
    for (std::uint32_t n = 0;; n = m_produced.load()) {
        if (m_bStop.load()) {
            break;
        }
        while (n > m_lastRequested.load() + kFramesAhead) {
            if (m_bStop.load()) {
                return frameStored;
            }
            Sleep(1);
        }
        frameStored = false;
        const std::int64_t target =
            startFrame +
            av_rescale_rnd(n, rate.num, static_cast<std::int64_t>(rate.den) * 25, AV_ROUND_DOWN);
        bool changed = false;
        const VideoDecoder::Result result = decoder.PictureFor(target, m_bStop, changed);
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
            PostInputContext(decoder.Reason());
        }
        if (result != VideoDecoder::Result::Ready && !changed) {
            break;
        }
        if (changed) {
            const AVFrame* current = decoder.Current();
            const bool flip = FlipsPicture(m_flipMode, static_cast<AVPixelFormat>(current->format));
            if (!scaler.Convert(*current, rect, flip, m_width, m_height, interpolationFlags.load(),
                                picture.get())) {
                PostLog("Error (FFMPEGCapture): Failed to get sws context.\n");
                break;
            }
        }
        if (!StoreFrame(n, picture.get())) {
            break;
        }
        frameStored = true;
        m_produced.store(n + 1);
        if (n + 1 > m_frameCount) {
            break;
        }
    }
    return frameStored;
}

}  // namespace zorvo
