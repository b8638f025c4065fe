#include "media/VideoProbe.h"

#include "common/FfmpegFree.h"
#include "common/RegularFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

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

// Packets looked at for the picture times of a file whose index does not list every picture.
constexpr int kLookedAtPackets = 250;

// The picture times the file tells without decoding: every one its index lists (MP4 and AVI
// list every picture, by decoding time, which B-frames keep on the same grid), else those of its
// first packets, read from a second opening so that the caller's read position stays.
std::vector<std::int64_t> PictureTimes(AVFormatContext& format, AVStream& stream) {
    std::vector<std::int64_t> times;
    const int entries = avformat_index_get_entries_count(&stream);
    if (stream.nb_frames > 0 && entries >= stream.nb_frames) {
        for (int i = 0; i < entries; ++i) {
            const AVIndexEntry* entry = avformat_index_get_entry(&stream, i);
            if (entry && entry->timestamp != AV_NOPTS_VALUE) {
                times.push_back(entry->timestamp);
            }
        }
        return times;
    }
    AVFormatContext* opened = nullptr;
    if (!format.url || avformat_open_input(&opened, format.url, nullptr, nullptr) != 0) {
        return times;
    }
    std::unique_ptr<AVFormatContext, FfmpegFree> look(opened);
    std::unique_ptr<AVPacket, FfmpegFree> packet(av_packet_alloc());
    // Its own packets, and three times as many of the other streams' (sound) at most.
    for (int seen = 0, read = 0; packet && seen < kLookedAtPackets && read < 4 * kLookedAtPackets &&
                                 av_read_frame(opened, packet.get()) >= 0;
         ++read) {
        if (packet->stream_index == stream.index) {
            ++seen;
            if (packet->pts != AV_NOPTS_VALUE) {
                times.push_back(packet->pts);
            }
        }
        av_packet_unref(packet.get());
    }
    return times;
}

// Whether the pictures keep to the grid of `rate`: each time on it, within the half tick by
// which the container rounds its times (Matroska keeps milliseconds), and on average one frame
// apart, or a whole number of frames (a field rate). A grid finer than its pictures (60 for
// pictures 50 and 33 ms apart) does not count them as a player shows them.
bool KeepsToRate(AVFormatContext& format, AVStream& stream, AVRational rate) {
    const double framesPerTick = av_q2d(stream.time_base) * av_q2d(rate);
    if (framesPerTick > 0.25 && std::fabs(framesPerTick - std::round(framesPerTick)) > 1e-6) {
        return false;  // the container's times cannot say where such frames lie (600/s in ms)
    }
    const double tolerance = 0.5 * framesPerTick + 1e-3;
    const std::vector<std::int64_t> times = PictureTimes(format, stream);
    const std::int64_t origin = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    for (const std::int64_t time : times) {
        const double frames = static_cast<double>(time - origin) * framesPerTick;
        if (std::fabs(frames - std::round(frames)) > tolerance) {
            return false;
        }
    }
    if (times.size() < 3) {
        return true;
    }
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    const double spacing =
        static_cast<double>(*last - *first) * framesPerTick / static_cast<double>(times.size() - 1);
    return spacing <= 1.5 || std::fabs(spacing - std::round(spacing)) <= 0.05 * spacing;
}

}  // namespace

FrameCounting CountingRate(AVFormatContext& format, AVStream& stream) {
    const AVRational named =
        Valid(stream.r_frame_rate) ? stream.r_frame_rate : stream.avg_frame_rate;
    FrameCounting counting;
    if (!Valid(named) || !Valid(stream.time_base)) {
        return counting;
    }
    if (KeepsToRate(format, stream, named)) {
        counting.num = named.num;
        counting.den = named.den;
    } else {
        counting.num = 1000;
        counting.variable = true;
    }
    return counting;
}

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
    // The library would wait forever on a FIFO, and read a device without end.
    if (!IsReadableRegularFile(path, reason)) {
        return ProbeStatus::OpenFailed;
    }
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
    AVStream* stream = nullptr;
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
    const FrameCounting counting = CountingRate(*opened, *stream);
    if (counting.num <= 0) {
        reason = "unknown frame rate";
        return ProbeStatus::NoFrameRate;
    }
    const AVRational rate{counting.num, counting.den};
    facts.rateNum = rate.num;
    facts.rateDen = rate.den;
    // Frames left out, or times that swing, make the average rate fall between multiples of
    // the named one (interlaced streams may name their field rate, twice their frame rate).
    const AVRational average = stream->avg_frame_rate;
    const double multiple = Valid(average) ? av_q2d(rate) / av_q2d(average) : 1;
    facts.variableRate = counting.variable ||
                         std::fabs(multiple - std::round(multiple)) > 0.01 * multiple ||
                         multiple < 0.5;
    facts.shownRate = Valid(average) && !facts.variableRate ? av_q2d(average) : av_q2d(rate);
    facts.codec = avcodec_get_name(stream->codecpar->codec_id);
    const AVCodecParameters& par = *stream->codecpar;
    facts.colour = ColourOf(par.color_space, par.color_range, par.color_trc, par.format, par.width,
                            par.height);
    facts.interlaced = par.field_order == AV_FIELD_TT || par.field_order == AV_FIELD_BB ||
                       par.field_order == AV_FIELD_TB || par.field_order == AV_FIELD_BT;
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
