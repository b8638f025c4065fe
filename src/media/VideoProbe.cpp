#include "media/VideoProbe.h"

#include "common/FfmpegFree.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace zorvo {

namespace {

bool Valid(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

// The end of the stream in its time base from its last packets: a seek to the last key frame,
// then the packets after it are read (not decoded). AV_NOPTS_VALUE when nothing tells.
std::int64_t LastPacketEnd(AVFormatContext* format, const AVStream* stream) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (avformat_seek_file(format, stream->index, std::numeric_limits<std::int64_t>::min(), kMax,
                           kMax, 0) < 0) {
        return AV_NOPTS_VALUE;
    }
    std::unique_ptr<AVPacket, FfmpegFree> packet(av_packet_alloc());
    std::int64_t end = AV_NOPTS_VALUE;
    while (packet && av_read_frame(format, packet.get()) >= 0) {
        if (packet->stream_index == stream->index && packet->pts != AV_NOPTS_VALUE) {
            const std::int64_t packetEnd =
                packet->pts + std::max<std::int64_t>(packet->duration, 0);
            if (end == AV_NOPTS_VALUE || packetEnd > end) {
                end = packetEnd;
            }
        }
        av_packet_unref(packet.get());
    }
    return end;
}

}  // namespace

Orientation StreamOrientation(const AVStream& stream) {
    std::size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(std::int32_t)) {
        return {};
    }
    std::int32_t values[9];
    std::memcpy(values, matrix, sizeof values);
    return OrientationOfMatrix(values);
}

void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string LibraryErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

ProbeStatus ProbeVideo(const std::string& path, VideoFacts& facts, std::string& reason) {
    QuietLibraryLog();
    facts = VideoFacts{};
    AVFormatContext* opened = nullptr;
    const int openResult = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (openResult != 0) {
        reason = LibraryErrorText(openResult);
        return ProbeStatus::OpenFailed;
    }
    std::unique_ptr<AVFormatContext, FfmpegFree> format(opened);
    const int infoResult = avformat_find_stream_info(opened, nullptr);
    if (infoResult < 0) {
        reason = LibraryErrorText(infoResult);
        return ProbeStatus::NoStreamInfo;
    }
    const AVStream* stream = nullptr;
    for (unsigned i = 0; i < opened->nb_streams; ++i) {
        if (opened->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            stream = opened->streams[i];
            break;
        }
    }
    if (!stream) {
        reason = "no video stream";
        return ProbeStatus::NoVideoStream;
    }
    if (!avcodec_find_decoder(stream->codecpar->codec_id)) {
        reason = std::string("no decoder for codec '") +
                 avcodec_get_name(stream->codecpar->codec_id) + "'";
        return ProbeStatus::NoDecoder;
    }
    // The same rate the capture counts source frames by.
    const AVRational rate =
        Valid(stream->r_frame_rate) ? stream->r_frame_rate : stream->avg_frame_rate;
    if (!Valid(rate) || !Valid(stream->time_base)) {
        reason = "unknown frame rate";
        return ProbeStatus::NoFrameRate;
    }
    facts.rateNum = rate.num;
    facts.rateDen = rate.den;
    facts.storedWidth = stream->codecpar->width;
    facts.storedHeight = stream->codecpar->height;
    facts.orientation = StreamOrientation(*stream);
    facts.width = facts.orientation.ShownWidth(facts.storedWidth, facts.storedHeight);
    facts.height = facts.orientation.ShownHeight(facts.storedWidth, facts.storedHeight);
    facts.pixelFormat = stream->codecpar->format;

    const std::int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    std::int64_t length = stream->duration;
    if (length == AV_NOPTS_VALUE || length <= 0) {
        const std::int64_t end = LastPacketEnd(opened, stream);
        length = end != AV_NOPTS_VALUE ? end - origin : AV_NOPTS_VALUE;
    }
    if (length != AV_NOPTS_VALUE && length > 0) {
        facts.durationMs = static_cast<double>(length) * av_q2d(stream->time_base) * 1000.0;
        // Rounded: containers that count in milliseconds store a 30000/1001 frame inexactly.
        facts.frameCount = static_cast<std::int64_t>(
            std::llround(static_cast<double>(length) * av_q2d(stream->time_base) * av_q2d(rate)));
    }
    return ProbeStatus::Ok;
}

}  // namespace zorvo
