#include "sync/AudioTrack.h"

#include "common/FfmpegFree.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace zorvo {

namespace {

using ResamplerPtr = std::unique_ptr<SwrContext, FfmpegFree>;

ResamplerPtr MakeResampler(const AVChannelLayout& layout, AVSampleFormat format, int inRate,
                           int outRate) {
    SwrContext* raw = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout in{};
    if (av_channel_layout_copy(&in, &layout) < 0) {
        return nullptr;
    }
    const int made = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, outRate, &in, format,
                                         inRate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (made < 0) {
        return nullptr;
    }
    ResamplerPtr resampler(raw);
    if (swr_init(resampler.get()) < 0) {
        return nullptr;
    }
    return resampler;
}

// Appends what the resampler gives for `count` input samples (null input flushes it).
bool Convert(SwrContext* resampler, const std::uint8_t** input, int count,
             std::vector<float>& out) {
    const int room = swr_get_out_samples(resampler, count);
    if (room < 0) {
        return false;
    }
    const size_t used = out.size();
    out.resize(used + static_cast<size_t>(room) + 16);
    std::uint8_t* target = reinterpret_cast<std::uint8_t*>(out.data() + used);
    const int made = swr_convert(resampler, &target, room + 16, input, count);
    if (made < 0) {
        out.resize(used);
        return false;
    }
    out.resize(used + static_cast<size_t>(made));
    return true;
}

double Seconds(std::int64_t timestamp, AVRational base) {
    return static_cast<double>(timestamp) * av_q2d(base);
}

}  // namespace

AudioStatus DecodeAudio(const std::string& path, int rate, bool needVideo, AudioTrack& track) {
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr) < 0) {
        return AudioStatus::OpenFailed;
    }
    std::unique_ptr<AVFormatContext, FfmpegFree> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return AudioStatus::OpenFailed;
    }
    const int audioIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audioIndex < 0) {
        return AudioStatus::NoAudio;
    }
    // The capture counts frames from the first video stream's start time; so do we.
    double origin = 0.0;
    bool hasVideo = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            hasVideo = true;
            if (stream->start_time != AV_NOPTS_VALUE) {
                origin = Seconds(stream->start_time, stream->time_base);
            }
            break;
        }
    }
    if (needVideo && !hasVideo) {
        return AudioStatus::NoVideo;
    }
    AVStream* stream = format->streams[audioIndex];
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != audioIndex) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }

    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        return AudioStatus::DecodeFailed;
    }
    std::unique_ptr<AVCodecContext, FfmpegFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
        return AudioStatus::DecodeFailed;
    }
    // With the packet time base the decoder moves the times past the samples it drops
    // (encoder priming), so the first delivered sample carries its true time.
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return AudioStatus::DecodeFailed;
    }
    std::unique_ptr<AVFrame, FfmpegFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, FfmpegFree> packet(av_packet_alloc());
    if (!frame || !packet) {
        return AudioStatus::DecodeFailed;
    }

    ResamplerPtr resampler;
    bool started = false;
    std::vector<float> samples;
    double start = 0.0;
    auto drain = [&]() {
        for (;;) {
            const int result = avcodec_receive_frame(decoder.get(), frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return true;
            }
            if (result < 0) {
                return false;
            }
            if (!started) {
                // Later frames are taken as contiguous: the sample count is the clock.
                std::int64_t first = frame->best_effort_timestamp;
                if (first == AV_NOPTS_VALUE) {
                    first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
                }
                start = Seconds(first, stream->time_base);
                resampler =
                    MakeResampler(frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                  frame->sample_rate, rate);
                if (!resampler) {
                    return false;
                }
                started = true;
            }
            const bool converted =
                Convert(resampler.get(), const_cast<const std::uint8_t**>(frame->extended_data),
                        frame->nb_samples, samples);
            av_frame_unref(frame.get());
            if (!converted) {
                return false;
            }
        }
    };

    for (;;) {
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            break;
        }
        if (packet->stream_index == audioIndex) {
            // A damaged packet is passed over, as players do.
            avcodec_send_packet(decoder.get(), packet.get());
        }
        av_packet_unref(packet.get());
        if (!drain()) {
            return AudioStatus::DecodeFailed;
        }
    }
    avcodec_send_packet(decoder.get(), nullptr);
    if (!drain() || (resampler && !Convert(resampler.get(), nullptr, 0, samples))) {
        return AudioStatus::DecodeFailed;
    }
    track.samples = std::move(samples);
    track.rate = rate;
    track.start = start - origin;
    return AudioStatus::Ok;
}

bool Resample(const AudioTrack& in, int rate, AudioTrack& out) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    ResamplerPtr resampler = MakeResampler(mono, AV_SAMPLE_FMT_FLT, in.rate, rate);
    if (!resampler) {
        return false;
    }
    std::vector<float> samples;
    samples.reserve(static_cast<size_t>(static_cast<double>(in.samples.size()) * rate / in.rate) +
                    64);
    const std::uint8_t* input = reinterpret_cast<const std::uint8_t*>(in.samples.data());
    if (!Convert(resampler.get(), &input, static_cast<int>(in.samples.size()), samples) ||
        !Convert(resampler.get(), nullptr, 0, samples)) {
        return false;
    }
    out.samples = std::move(samples);
    out.rate = rate;
    out.start = in.start;
    return true;
}

}  // namespace zorvo
