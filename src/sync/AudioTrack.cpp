#include "sync/AudioTrack.h"

#include "common/FfmpegFree.h"
#include "common/RegularFile.h"

#include <algorithm>
#include <cmath>
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

// The same for mono float input of any length.
bool ConvertMono(SwrContext* resampler, const float* samples, std::int64_t count,
                 std::vector<float>& out) {
    constexpr std::int64_t kChunk = std::int64_t{1} << 20;
    for (std::int64_t done = 0; done < count; done += kChunk) {
        const std::uint8_t* input = reinterpret_cast<const std::uint8_t*>(samples + done);
        if (!Convert(resampler, &input, static_cast<int>(std::min(kChunk, count - done)), out)) {
            return false;
        }
    }
    return true;
}

double Seconds(std::int64_t timestamp, AVRational base) {
    return static_cast<double>(timestamp) * av_q2d(base);
}

// Lays the decoded sound end to end on one clock: keeps the requested stretch and feeds all of
// it to the coarse resampler, so a long file never lies in memory whole at the full rate.
class SoundCollector {
  public:
    SoundCollector(const AudioRequest& request, std::vector<float>& kept,
                   std::vector<float>* coarse)
        : m_request(request), m_kept(kept), m_coarse(coarse) {
        // Stretches beyond the sound's end stay silent.
        std::size_t size = 0;
        for (const auto& [from, to] : m_request.stretches) {
            m_placed.push_back(size);
            size += static_cast<std::size_t>(std::max<std::int64_t>(0, to - from));
        }
        m_kept.assign(size, 0.0f);
    }

    bool Open() {
        if (!m_coarse) {
            return true;
        }
        return m_coarseResampler.Open(m_request.rate, m_request.coarseRate);
    }

    // Appends `count` samples; null appends silence.
    bool Put(const float* samples, std::int64_t count) {
        const std::int64_t dropped = std::min(m_drop, count);
        m_drop -= dropped;
        count -= dropped;
        if (samples) {
            samples += dropped;
        }
        if (count <= 0) {
            return true;
        }
        if (m_request.consume && samples) {
            m_request.consume(samples, count);
        } else if (m_request.consume) {
            const std::vector<float> silence(4096, 0.0f);
            for (std::int64_t done = 0; done < count; done += 4096) {
                m_request.consume(silence.data(), std::min<std::int64_t>(4096, count - done));
            }
        }
        for (std::size_t i = 0; samples && i < m_request.stretches.size(); ++i) {
            const auto [begin, end] = m_request.stretches[i];
            const std::int64_t from = std::max(m_count, begin);
            const std::int64_t to = std::min(m_count + count, end);
            if (from < to) {
                std::copy(
                    samples + (from - m_count), samples + (to - m_count),
                    m_kept.begin() + static_cast<std::ptrdiff_t>(m_placed[i]) + (from - begin));
            }
        }
        const std::int64_t from = std::max(m_count, m_request.keepFrom);
        const std::int64_t to = std::min(m_count + count, m_request.keepTo);
        if (m_request.stretches.empty() && from < to) {
            const auto first = static_cast<size_t>(from - m_count);
            const auto last = static_cast<size_t>(to - m_count);
            if (samples) {
                m_kept.insert(m_kept.end(), samples + first, samples + last);
            } else {
                m_kept.resize(m_kept.size() + (last - first), 0.0f);
            }
        }
        if (m_coarse) {
            if (samples) {
                if (!m_coarseResampler.Put(samples, count, *m_coarse)) {
                    return false;
                }
            } else {
                const std::vector<float> silence(4096, 0.0f);
                for (std::int64_t done = 0; done < count; done += 4096) {
                    if (!m_coarseResampler.Put(silence.data(),
                                               std::min<std::int64_t>(4096, count - done),
                                               *m_coarse)) {
                        return false;
                    }
                }
            }
        }
        m_count += count;
        return true;
    }

    // The next sample belongs at `position`: silence fills a gap, an overlap is dropped.
    bool MoveTo(std::int64_t position) {
        position = std::max<std::int64_t>(position, 0);
        if (position >= m_count) {
            m_drop = 0;
            return Put(nullptr, position - m_count);
        }
        m_drop = m_count - position;
        return true;
    }

    bool Finish() { return !m_coarse || m_coarseResampler.Finish(*m_coarse); }

    std::int64_t Count() const { return m_count; }

  private:
    const AudioRequest& m_request;
    std::vector<float>& m_kept;
    std::vector<float>* m_coarse;
    std::vector<std::size_t> m_placed;  // where each stretch starts in m_kept
    MonoResampler m_coarseResampler;
    std::int64_t m_count = 0;
    std::int64_t m_drop = 0;
};

// The input format a resampler was made for.
struct SoundFormat {
    AVChannelLayout layout{};
    int format = -1;
    int rate = 0;

    SoundFormat() = default;
    SoundFormat(const SoundFormat&) = delete;
    SoundFormat& operator=(const SoundFormat&) = delete;
    ~SoundFormat() { av_channel_layout_uninit(&layout); }

    bool Matches(const AVFrame& frame) const {
        return frame.format == format && frame.sample_rate == rate &&
               av_channel_layout_compare(&frame.ch_layout, &layout) == 0;
    }
    bool Take(const AVFrame& frame) {
        av_channel_layout_uninit(&layout);
        format = frame.format;
        rate = frame.sample_rate;
        return av_channel_layout_copy(&layout, &frame.ch_layout) >= 0;
    }
};

}  // namespace

AudioStatus DecodeAudio(const std::string& path, const AudioRequest& request, AudioTrack& track,
                        AudioTrack* coarse) {
    // The library would wait forever on a FIFO, and read a device without end.
    std::string reason;
    if (!IsReadableRegularFile(path, reason)) {
        return AudioStatus::OpenFailed;
    }
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
    if (request.needVideo && !hasVideo) {
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

    std::vector<float> kept;
    std::vector<float> coarseSamples;
    if (coarse && format->duration > 0) {
        // Grown by doubling, an hour's coarse sound would briefly take three times its size.
        const double seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
        coarseSamples.reserve(
            static_cast<size_t>(std::min(seconds, 86400.0) * request.coarseRate * 1.01) + 4096);
    }
    SoundCollector collector(request, kept, coarse ? &coarseSamples : nullptr);
    if (!collector.Open()) {
        return AudioStatus::DecodeFailed;
    }
    ResamplerPtr resampler;
    SoundFormat resampled;
    std::vector<float> piece;
    double start = 0.0;
    // Takes what the resampler has made so far.
    auto deliver = [&]() {
        const bool put = collector.Put(piece.data(), static_cast<std::int64_t>(piece.size()));
        piece.clear();
        return put;
    };
    auto drain = [&]() {
        for (;;) {
            const int result = avcodec_receive_frame(decoder.get(), frame.get());
            // A damaged packet (a WAVE cut inside its last sample) is passed over.
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF ||
                result == AVERROR_INVALIDDATA) {
                return true;
            }
            if (result < 0) {
                return false;
            }
            // Frames are taken as contiguous, the sample count being the clock, until the
            // sound changes its rate, format or channels: a new piece starts at its own time.
            std::int64_t time = frame->best_effort_timestamp;
            if (!resampler) {
                if (time == AV_NOPTS_VALUE) {
                    time = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
                }
                start = Seconds(time, stream->time_base);
            } else if (!resampled.Matches(*frame)) {
                if (!Convert(resampler.get(), nullptr, 0, piece) || !deliver()) {
                    return false;
                }
                if (time != AV_NOPTS_VALUE &&
                    !collector.MoveTo(
                        std::llround((Seconds(time, stream->time_base) - start) * request.rate))) {
                    return false;
                }
                resampler.reset();
            }
            if (!resampler) {
                resampler =
                    MakeResampler(frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                  frame->sample_rate, request.rate);
                if (!resampler || !resampled.Take(*frame)) {
                    return false;
                }
            }
            const bool converted =
                Convert(resampler.get(), const_cast<const std::uint8_t**>(frame->extended_data),
                        frame->nb_samples, piece) &&
                deliver();
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
    if (!drain() || (resampler && (!Convert(resampler.get(), nullptr, 0, piece) || !deliver())) ||
        !collector.Finish()) {
        return AudioStatus::DecodeFailed;
    }
    track.samples = std::move(kept);
    track.rate = request.rate;
    track.start = start - origin;
    track.length = collector.Count();
    track.first =
        request.stretches.empty() ? std::clamp<std::int64_t>(request.keepFrom, 0, track.length) : 0;
    if (coarse) {
        coarse->samples = std::move(coarseSamples);
        coarse->rate = request.coarseRate;
        coarse->start = track.start;
        coarse->first = 0;
        coarse->length = static_cast<std::int64_t>(coarse->samples.size());
    }
    return AudioStatus::Ok;
}

bool Resample(const AudioTrack& in, int rate, AudioTrack& out) {
    MonoResampler resampler;
    std::vector<float> samples;
    samples.reserve(static_cast<size_t>(static_cast<double>(in.samples.size()) * rate / in.rate) +
                    64);
    if (!resampler.Open(in.rate, rate) ||
        !resampler.Put(in.samples.data(), static_cast<std::int64_t>(in.samples.size()), samples) ||
        !resampler.Finish(samples)) {
        return false;
    }
    out.samples = std::move(samples);
    out.rate = rate;
    out.start = in.start;
    out.first = 0;
    out.length = static_cast<std::int64_t>(out.samples.size());
    return true;
}

void MonoResampler::Free::operator()(SwrContext* context) const {
    swr_free(&context);
}

MonoResampler::MonoResampler() = default;
MonoResampler::~MonoResampler() = default;
MonoResampler::MonoResampler(MonoResampler&&) noexcept = default;
MonoResampler& MonoResampler::operator=(MonoResampler&&) noexcept = default;

bool MonoResampler::Open(int inRate, int outRate) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    ResamplerPtr made = MakeResampler(mono, AV_SAMPLE_FMT_FLT, inRate, outRate);
    m_context.reset(made.release());
    return m_context != nullptr;
}

bool MonoResampler::Put(const float* samples, std::int64_t count, std::vector<float>& out) {
    return m_context && ConvertMono(m_context.get(), samples, count, out);
}

bool MonoResampler::Finish(std::vector<float>& out) {
    return m_context && Convert(m_context.get(), nullptr, 0, out);
}

}  // namespace zorvo
