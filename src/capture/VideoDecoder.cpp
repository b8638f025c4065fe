#include "capture/VideoDecoder.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "common/LogChannel.h"
#include "common/RegularFile.h"
#include "media/VideoProbe.h"

namespace zorvo {

namespace {

constexpr std::int64_t kUnknownIndex = std::numeric_limits<std::int64_t>::min();

// Decoder threads: 0 means one per core. The system's FFmpeg is
// not built for ThreadSanitizer, which cannot see how its frame threads hand pictures over and
// would report every hand-over, so those builds decode on the capture's thread.
#if defined(__SANITIZE_THREAD__)
constexpr int kDecoderThreads = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kDecoderThreads = 1;
#else
constexpr int kDecoderThreads = 0;
#endif
#else
constexpr int kDecoderThreads = 0;
#endif

bool Valid(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

}  // namespace

VideoDecoder::VideoDecoder() = default;
VideoDecoder::~VideoDecoder() {
    CountBytesInto(nullptr);
}

void VideoDecoder::CountBytesInto(std::atomic<std::size_t>* counter) {
    if (m_bytesCounter) {
        m_bytesCounter->fetch_sub(m_countedBytes);
    }
    m_bytesCounter = counter;
    m_countedBytes = counter ? PictureBytes() : 0;
    if (counter) {
        counter->fetch_add(m_countedBytes);
    }
}

bool VideoDecoder::Open(const std::string& path, bool libraryThreads, bool quiet) {
    const auto post = [quiet](const char* line) {
        if (!quiet) {
            PostLog(line);
        }
    };
    m_path = path;
    QuietLibraryLog();
    // The library would wait forever on a FIFO, and read a device without end.
    if (!IsReadableRegularFile(path, m_reason)) {
        post("Error (FFMPEGCapture): Failed to open video file.\n");
        return false;
    }
    AVFormatContext* format = nullptr;
    const int openResult = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (openResult != 0) {
        m_reason = LibraryErrorText(openResult);
        post("Error (FFMPEGCapture): Failed to open video file.\n");
        return false;
    }
    m_format.reset(format);
    const int infoResult = avformat_find_stream_info(format, nullptr);
    if (infoResult < 0) {
        m_reason = LibraryErrorText(infoResult);
        post("Error (FFMPEGCapture): Couldn't find stream information.\n");
        return false;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            m_stream = format->streams[i];
            break;
        }
    }
    if (!m_stream) {
        m_reason = "no video stream";
        post("Error (FFMPEGCapture): Didn't find a video stream.\n");
        return false;
    }
    const AVCodec* codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    if (!codec) {
        m_reason = std::string("no decoder for codec '") +
                   avcodec_get_name(m_stream->codecpar->codec_id) + "'";
        post("Error (FFMPEGCapture): Unsupported codec.\n");
        return false;
    }
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec || avcodec_parameters_to_context(m_codec.get(), m_stream->codecpar) < 0) {
        post("Error (FFMPEGCapture): Failed to open codec.\n");
        return false;
    }
    // Lets the decoder compute presentation times for pictures whose packets carry none.
    m_codec->pkt_timebase = m_stream->time_base;
    // Frame threads keep the pictures bit-exact.
    // One thread a core (FFmpeg's own choice is one more, and each holds pictures of its own);
    // none but the caller's when asked.
    m_codec->thread_count =
        !libraryThreads ? 1
        : kDecoderThreads != 0
            ? kDecoderThreads
            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    m_codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const int codecResult = avcodec_open2(m_codec.get(), codec, nullptr);
    if (codecResult < 0) {
        m_reason = LibraryErrorText(codecResult);
        post("Error (FFMPEGCapture): Failed to open codec.\n");
        return false;
    }
    // Without a rate no source frame can be told from another (and the timing divides by it).
    const FrameCounting counting = CountingRate(*format, *m_stream);
    if (counting.num <= 0) {
        m_reason = "unknown frame rate";
        post("Error (FFMPEGCapture): Unknown frame rate.\n");
        return false;
    }
    m_frameRate = AVRational{counting.num, counting.den};
    m_namedRate = Valid(m_stream->r_frame_rate) ? m_stream->r_frame_rate : m_stream->avg_frame_rate;
    m_variableRate = counting.variable;
    if (m_variableRate) {
        // Which picture a stretch steps over is not known by its number: every one is decoded.
        m_mayPassOver = false;
    }
    m_orientation = StreamOrientation(*m_stream);
    m_origin = m_stream->start_time != AV_NOPTS_VALUE ? m_stream->start_time : 0;
    // The first picture is a key frame: its entry against frame 0's time gives the lead.
    const AVIndexEntry* first = avformat_index_get_entry(m_stream, 0);
    if (first && (first->flags & AVINDEX_KEYFRAME) && first->timestamp != AV_NOPTS_VALUE) {
        m_indexLead = std::max<std::int64_t>(0, m_origin - first->timestamp);
    }
    return true;
}

bool VideoDecoder::AllocatePictures() {
    m_previous.reset(av_frame_alloc());
    m_current.reset(av_frame_alloc());
    m_next.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_previous || !m_current || !m_next || !m_packet) {
        PostLog("Error (FFMPEGCapture): Failed to allocate frame.\n");
        return false;
    }
    return true;
}

int VideoDecoder::Width() const {
    return m_stream ? m_stream->codecpar->width : 0;
}

int VideoDecoder::Height() const {
    return m_stream ? m_stream->codecpar->height : 0;
}

std::size_t VideoDecoder::PictureBytes() const {
    // YUV 4:2:0 at 8 bits; H.264 keeps up to four reference pictures at full HD.
    constexpr std::size_t kReferencePictures = 4;
    constexpr std::size_t kKeptPictures = 3;
    const auto threads = static_cast<std::size_t>(m_codec ? std::max(1, m_codec->thread_count) : 1);
    const std::size_t picture = static_cast<std::size_t>(std::max(0, Width())) *
                                static_cast<std::size_t>(std::max(0, Height())) * 3 / 2;
    return picture * (kReferencePictures + threads + kKeptPictures);
}

int VideoDecoder::MinKeyFrameInterval() const {
    if (!m_codec) {
        return 0;
    }
    // Counted in milliseconds where the pictures keep no rate.
    return m_variableRate ? static_cast<int>(av_rescale(m_codec->keyint_min,
                                                        1000LL * m_namedRate.den, m_namedRate.num))
                          : m_codec->keyint_min;
}

std::int64_t VideoDecoder::FrameAt(std::int64_t ms) const {
    return av_rescale_rnd(ms, m_frameRate.num, static_cast<std::int64_t>(m_frameRate.den) * 1000,
                          AV_ROUND_DOWN);
}

std::int64_t VideoDecoder::SegmentFrame(std::int64_t startMs, std::int64_t n) const {
    return FrameAt(startMs) + av_rescale_rnd(n, m_frameRate.num,
                                             static_cast<std::int64_t>(m_frameRate.den) * 25,
                                             AV_ROUND_DOWN);
}

void VideoDecoder::ShowSegment(std::int64_t startMs, std::int64_t first, std::int64_t end) {
    m_segmentStart = FrameAt(startMs);
    m_shownFirst = end > first ? SegmentFrame(startMs, first) : 0;
    m_shownLast = end > first ? SegmentFrame(startMs, end - 1) : -1;
}

bool VideoDecoder::Unshown(std::int64_t index) const {
    if (!m_passUnshown || index <= m_shownFirst || index >= m_shownLast) {
        return false;
    }
    // The first segment frame that shows `index` or a later frame: it shows `index` unless
    // the segment steps over it.
    const std::int64_t offset = index - m_segmentStart;
    const std::int64_t perOutput = static_cast<std::int64_t>(m_frameRate.den) * 25;
    const std::int64_t n = av_rescale_rnd(offset, perOutput, m_frameRate.num, AV_ROUND_UP);
    return av_rescale_rnd(n, m_frameRate.num, perOutput, AV_ROUND_DOWN) != offset;
}

std::int64_t VideoDecoder::EarliestIndex() const {
    if (!m_hasCurrent) {
        return -1;
    }
    return m_hasPrevious && !m_hasNext ? m_previousIndex : m_currentIndex;
}

bool VideoDecoder::StepBackFor(std::int64_t target) {
    if (!m_hasCurrent || target >= m_currentIndex) {
        return true;
    }
    if (!m_hasPrevious || m_hasNext || target < m_previousIndex) {
        return false;
    }
    // The current picture becomes the pending one again, exactly as it was first decoded.
    av_frame_move_ref(m_next.get(), m_current.get());
    m_nextIndex = m_currentIndex;
    m_hasNext = true;
    av_frame_move_ref(m_current.get(), m_previous.get());
    m_currentIndex = m_previousIndex;
    m_hasPrevious = false;
    return true;
}

bool VideoDecoder::SeekBefore(std::int64_t frame) {
    const AVRational frameDuration{m_frameRate.den, m_frameRate.num};
    return SeekToTimestamp(m_origin + av_rescale_q(frame, frameDuration, m_stream->time_base));
}

std::int64_t VideoDecoder::KeyFrameAtOrBefore(std::int64_t frame) const {
    const AVRational frameDuration{m_frameRate.den, m_frameRate.num};
    const std::int64_t timestamp =
        m_origin + av_rescale_q(frame, frameDuration, m_stream->time_base);
    // A key listed at or before the frame by its decoding time may show after it; naming it
    // made a capture seek there and land a whole interval back.
    const int entry =
        av_index_search_timestamp(m_stream, timestamp - m_indexLead, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* found = entry >= 0 ? avformat_index_get_entry(m_stream, entry) : nullptr;
    if (!found || !(found->flags & AVINDEX_KEYFRAME) || found->timestamp == AV_NOPTS_VALUE) {
        return -1;
    }
    return av_rescale_q_rnd(found->timestamp + m_indexLead - m_origin, m_stream->time_base,
                            frameDuration, IndexRounding());
}

bool VideoDecoder::SeekToTimestamp(std::int64_t timestamp) {
    // Without the any-frame flag the demuxer lands on a key frame, and the highest allowed
    // timestamp keeps it at or before the point: no picture is decoded from a missing reference.
    if (avformat_seek_file(m_format.get(), m_stream->index,
                           std::numeric_limits<std::int64_t>::min(), timestamp, timestamp, 0) < 0) {
        return false;
    }
    avcodec_flush_buffers(m_codec.get());
    if (m_filter) {
        m_filter->Reset();
    }
    m_filterEnded = false;
    av_frame_unref(m_previous.get());
    av_frame_unref(m_current.get());
    av_frame_unref(m_next.get());
    m_hasPrevious = false;
    m_hasCurrent = false;
    m_hasNext = false;
    m_currentIndex = -1;
    m_lastIndexKnown = false;
    m_draining = false;
    m_atEnd = false;
    m_checkSeek = true;
    m_lastSkipped = -1;
    m_seekFloor = std::numeric_limits<std::int64_t>::max();  // set by the first picture
    return true;
}

AVRounding VideoDecoder::IndexRounding() const {
    // Rounded to the nearest frame: containers store times in their own units (milliseconds
    // for Matroska), which are not whole multiples of a 30000/1001 frame. A picture of a
    // stream without a rate shows from the first millisecond at or after its time.
    return static_cast<AVRounding>((m_variableRate ? AV_ROUND_UP : AV_ROUND_NEAR_INF) |
                                   AV_ROUND_PASS_MINMAX);
}

std::int64_t VideoDecoder::PacketIndex(const AVPacket& packet) const {
    if (packet.pts == AV_NOPTS_VALUE) {
        return kUnknownIndex;
    }
    const AVRational frameDuration{m_frameRate.den, m_frameRate.num};
    return av_rescale_q_rnd(packet.pts - m_origin, m_stream->time_base, frameDuration,
                            IndexRounding());
}

std::int64_t VideoDecoder::IndexOf(const AVFrame& frame) {
    const std::int64_t timestamp = frame.best_effort_timestamp;
    if (timestamp == AV_NOPTS_VALUE) {
        m_mayPassOver = false;
        if (!m_lastIndexKnown) {
            return kUnknownIndex;
        }
        return ++m_lastIndex;
    }
    const AVRational frameDuration{m_frameRate.den, m_frameRate.num};
    m_lastIndex =
        av_rescale_q_rnd(timestamp - m_origin, m_stream->time_base, frameDuration, IndexRounding());
    m_lastIndexKnown = true;
    return m_lastIndex;
}

bool VideoDecoder::OpenFilter(const AVFrame& first) {
    const AVFieldOrder order = m_stream->codecpar->field_order;
    const bool interlaced = order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
                            order == AV_FIELD_BT;
    const bool deinterlace =
        m_deinterlace == DeinterlaceMode::On ||
        (m_deinterlace == DeinterlaceMode::Auto && (interlaced || first.interlaced_frame));
    // The field shown first, as the stream says; else as each picture says.
    const int topFirst = !interlaced ? -1 : order == AV_FIELD_TT || order == AV_FIELD_BT ? 1 : 0;
    const std::string description = PictureFilter::Describe(
        deinterlace, m_deinterlace == DeinterlaceMode::On, topFirst, first.color_trc,
        first.colorspace, first.color_primaries, first.color_range == AVCOL_RANGE_JPEG);
    if (description.empty()) {
        return true;
    }
    m_filter = std::make_unique<PictureFilter>(description, m_stream->time_base, m_namedRate,
                                               m_codec->thread_count);
    // The deinterlacer looks at the pictures on either side: none may be left out.
    m_mayPassOver = false;
    return true;
}

VideoDecoder::Receive VideoDecoder::ReceiveNext(const std::atomic<bool>& stop) {
    for (;;) {
        if (m_filter) {
            switch (m_filter->Take(m_next.get())) {
                case PictureFilter::Result::Picture:
                    return Receive::Picture;
                case PictureFilter::Result::End:
                    return Receive::EndOfFile;
                case PictureFilter::Result::Failed:
                    m_reason = m_filter->Reason();
                    PostLog("Error (FFMPEGCapture): Failed to decode video.\n");
                    return Receive::Failed;
                case PictureFilter::Result::NeedMore:
                    break;
            }
        }
        int result = avcodec_receive_frame(m_codec.get(), m_next.get());
        if (result == 0) {
            if (m_pictureCounter) {
                m_pictureCounter->fetch_add(1, std::memory_order_relaxed);
            }
            if (!m_filterChosen) {
                m_filterChosen = true;
                OpenFilter(*m_next);
            }
            if (!m_filter) {
                return Receive::Picture;
            }
            if (!m_filter->Push(m_next.get())) {
                m_reason = m_filter->Reason();
                PostLog("Error (FFMPEGCapture): Failed to decode video.\n");
                return Receive::Failed;
            }
            continue;
        }
        if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && m_draining)) {
            if (m_filter && !m_filterEnded) {
                // The filter still holds the last picture.
                m_filterEnded = true;
                m_filter->Push(nullptr);
                continue;
            }
            return Receive::EndOfFile;
        }
        if (result != AVERROR(EAGAIN)) {
            m_reason = LibraryErrorText(result);
            PostLog("Error (FFMPEGCapture): Failed to decode video.\n");
            return Receive::Failed;
        }
        if (stop.load()) {
            return Receive::Stopped;
        }
        if (av_read_frame(m_format.get(), m_packet.get()) < 0) {
            // End of the file (or a read error): the decoder still holds delayed pictures.
            m_draining = true;
            if (avcodec_send_packet(m_codec.get(), nullptr) < 0) {
                return Receive::EndOfFile;
            }
            continue;
        }
        if (m_packet->stream_index != m_stream->index) {
            av_packet_unref(m_packet.get());
            continue;
        }
        // A picture well before the target, or one the segment does not show, that no other
        // picture refers to need not be decoded: the decoder leaves it out when told so with
        // its packet.
        const std::int64_t index = PacketIndex(*m_packet);
        const bool passOver =
            m_mayPassOver && index != kUnknownIndex && (index < m_skipBelow || Unshown(index));
        m_codec->skip_frame = passOver ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        if (passOver) {
            m_lastSkipped = std::max(m_lastSkipped, index);
        }
        result = avcodec_send_packet(m_codec.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (result < 0 && result != AVERROR(EAGAIN)) {
            m_reason = LibraryErrorText(result);
            PostLog("Error (FFMPEGCapture): Failed to decode video.\n");
            return Receive::Failed;
        }
    }
}

VideoDecoder::Result VideoDecoder::PictureFor(std::int64_t target, const std::atomic<bool>& stop,
                                              bool& changed) {
    changed = false;
    m_skipBelow = target - m_wholeBefore;
    for (;;) {
        if (m_hasCurrent && m_currentIndex >= target) {
            return Result::Ready;
        }
        if (m_hasNext) {
            if (m_nextIndex > target && m_hasCurrent) {
                if (m_lastSkipped > m_currentIndex) {
                    // A left-out picture may be the one for `target`: decode again, whole.
                    // The source has gaps, so what a stretch does not show cannot be told.
                    m_skipBelow = std::numeric_limits<std::int64_t>::min();
                    m_passUnshown = false;
                    if (!SeekBefore(target)) {
                        m_reason = "cannot seek back";
                        PostLog("Error (FFMPEGCapture): Failed to decode video.\n");
                        return Result::Failed;
                    }
                    changed = true;
                    continue;
                }
                // The source has no frame `target`: the one before it goes on showing.
                return Result::Ready;
            }
            av_frame_unref(m_previous.get());
            if (m_hasCurrent) {
                av_frame_move_ref(m_previous.get(), m_current.get());
            } else {
                av_frame_unref(m_current.get());
            }
            // Kept only when it surely is the picture just before the new current one.
            m_hasPrevious =
                m_hasCurrent && m_currentIndex > m_lastSkipped && m_currentIndex >= m_seekFloor;
            m_previousIndex = m_currentIndex;
            av_frame_move_ref(m_current.get(), m_next.get());
            m_currentIndex = m_nextIndex;
            m_hasCurrent = true;
            m_hasNext = false;
            changed = true;
            continue;
        }
        if (m_atEnd) {
            return Result::EndOfFile;
        }
        switch (ReceiveNext(stop)) {
            case Receive::Picture:
                break;
            case Receive::EndOfFile:
                m_atEnd = true;
                continue;
            case Receive::Failed:
                return Result::Failed;
            case Receive::Stopped:
                return Result::Stopped;
        }
        const std::int64_t index = IndexOf(*m_next);
        if (index == kUnknownIndex || (m_hasCurrent && index <= m_currentIndex)) {
            // No time and nothing to count from, or a picture already passed: not usable.
            av_frame_unref(m_next.get());
            continue;
        }
        if (m_checkSeek) {
            m_checkSeek = false;
            m_seekFloor = index;
            if (index > target) {
                // The demuxer landed past the target (inexact seeking): start from the beginning.
                av_frame_unref(m_next.get());
                if (SeekToTimestamp(m_origin)) {
                    m_checkSeek = false;
                    m_lastIndexKnown = true;
                    m_lastIndex = -1;
                    m_seekFloor = -1;
                }
                continue;
            }
        }
        m_hasNext = true;
        m_nextIndex = index;
    }
}

}  // namespace zorvo
