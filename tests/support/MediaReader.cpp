#include "support/MediaReader.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>

#include "common/FfmpegFree.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace zorvo::test {
namespace {

template <typename T>
using Owned = std::unique_ptr<T, FfmpegFree>;

bool OpenDecoder(const AVStream* stream, Owned<AVCodecContext>& decoder) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    return decoder && avcodec_parameters_to_context(decoder.get(), stream->codecpar) >= 0 &&
           avcodec_open2(decoder.get(), codec, nullptr) >= 0;
}

void TakePicture(const AVFrame& frame, const AVStream& stream, MediaContents& contents,
                 Owned<SwsContext>& scaler) {
    scaler.reset(sws_getCachedContext(
        scaler.release(), frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
        frame.width, frame.height, AV_PIX_FMT_BGR24,
        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT, nullptr, nullptr,
        nullptr));
    const int* matrix =
        sws_getCoefficients(frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler.get(), matrix, frame.color_range == AVCOL_RANGE_JPEG, matrix, 1,
                             0, 1 << 16, 1 << 16);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(frame.width) * 3 * frame.height);
    std::uint8_t* planes[1] = {picture.data()};
    const int strides[1] = {frame.width * 3};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    contents.pictures.push_back(std::move(picture));
    contents.pictureTimes.push_back(frame.best_effort_timestamp * av_q2d(stream.time_base));
}

void TakeSound(const AVFrame& frame, const AVStream& stream, MediaContents& contents) {
    if (contents.samples.empty()) {
        contents.audioStart = frame.best_effort_timestamp * av_q2d(stream.time_base);
    }
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    for (int i = 0; i < frame.nb_samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int plane = planar ? c : 0;
            const int index = planar ? i : i * channels + c;
            const std::uint8_t* data = frame.extended_data[plane];
            double value = 0;
            switch (av_get_packed_sample_fmt(format)) {
                case AV_SAMPLE_FMT_S16:
                    value = reinterpret_cast<const std::int16_t*>(data)[index];
                    break;
                case AV_SAMPLE_FMT_S32:
                    value = reinterpret_cast<const std::int32_t*>(data)[index] / 65536.0;
                    break;
                case AV_SAMPLE_FMT_FLT:
                    value = reinterpret_cast<const float*>(data)[index] * 32768.0;
                    break;
                default:
                    break;
            }
            value = std::min(32767.0, std::max(-32768.0, std::round(value)));
            contents.samples.push_back(static_cast<std::int16_t>(value));
        }
    }
}

// Sends one packet (null to drain) and takes everything the decoder gives back.
bool Decode(AVCodecContext* decoder, const AVPacket* packet, const AVStream& stream, AVFrame* frame,
            MediaContents& contents, Owned<SwsContext>& scaler) {
    if (avcodec_send_packet(decoder, packet) < 0) {
        return false;
    }
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            TakePicture(*frame, stream, contents, scaler);
        } else {
            TakeSound(*frame, stream, contents);
        }
        av_frame_unref(frame);
    }
    return true;
}

}  // namespace

bool ReadMedia(const std::string& path, MediaContents& contents, std::string& error,
               bool referencedOnly) {
    contents = MediaContents{};
    AVFormatContext* raw = nullptr;
    const bool opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr) >= 0;
    const Owned<AVFormatContext> format(raw);
    if (!opened || avformat_find_stream_info(format.get(), nullptr) < 0) {
        error = "cannot open " + path;
        return false;
    }
    const int videoIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    // A decoder for the chosen video and audio stream, by stream index.
    std::vector<Owned<AVCodecContext>> decoders(format->nb_streams);
    for (int i = 0; i < static_cast<int>(format->nb_streams); ++i) {
        const AVStream& s = *format->streams[i];
        const AVCodecParameters& p = *s.codecpar;
        contents.streams.push_back({avcodec_get_name(p.codec_id), p.width, p.height, p.sample_rate,
                                    p.ch_layout.nb_channels});
        if (i == videoIndex) {
            contents.video = contents.streams.back();
            contents.rateNum = s.avg_frame_rate.num;
            contents.rateDen = s.avg_frame_rate.den;
            contents.colorSpace = av_color_space_name(p.color_space);
            contents.colorRange = av_color_range_name(p.color_range);
        } else if (i == audioIndex) {
            contents.audio = contents.streams.back();
        }
        if ((i == videoIndex || i == audioIndex) && !OpenDecoder(&s, decoders[i])) {
            error = "cannot open the decoder of stream " + std::to_string(i);
            return false;
        }
        if (i == videoIndex && referencedOnly) {
            decoders[i]->skip_frame = AVDISCARD_NONREF;
        }
    }
    const Owned<AVPacket> packet(av_packet_alloc());
    const Owned<AVFrame> frame(av_frame_alloc());
    Owned<SwsContext> scaler;
    std::optional<double> videoTime;  // of the last video packet read
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        const int index = packet->stream_index;
        const double time =
            packet->dts == AV_NOPTS_VALUE
                ? 0
                : static_cast<double>(packet->dts) * av_q2d(format->streams[index]->time_base);
        if (index == videoIndex) {
            videoTime = time;
        }
        if (index == audioIndex) {
            contents.audioBytes.insert(contents.audioBytes.end(), packet->data,
                                       packet->data + packet->size);
            if (videoTime) {
                contents.audioApart = std::max(contents.audioApart, std::abs(time - *videoTime));
            }
        }
        AVCodecContext* decoder =
            index < static_cast<int>(decoders.size()) ? decoders[index].get() : nullptr;
        const bool ok = !decoder || Decode(decoder, packet.get(), *format->streams[index],
                                           frame.get(), contents, scaler);
        av_packet_unref(packet.get());
        if (!ok) {
            error = "a packet of stream " + std::to_string(index) + " does not decode";
            return false;
        }
    }
    for (std::size_t i = 0; i < decoders.size(); ++i) {
        if (decoders[i]) {
            Decode(decoders[i].get(), nullptr, *format->streams[i], frame.get(), contents, scaler);
        }
    }
    return true;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0;
    }
    const double squares = std::transform_reduce(
        a.begin(), a.end(), b.begin(), 0.0, std::plus<>(), [](std::uint8_t x, std::uint8_t y) {
            return (static_cast<double>(x) - y) * (static_cast<double>(x) - y);
        });
    return squares == 0 ? std::numeric_limits<double>::infinity()
                        : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squares);
}

}  // namespace zorvo::test
