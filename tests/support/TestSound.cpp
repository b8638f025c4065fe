#include "support/TestSound.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>

#include "support/Owned.h"
#include "support/WaveFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace zorvo::test {

SyntheticSong::SyntheticSong(std::uint32_t seed, double seconds, std::uint32_t take)
    : m_seconds(seconds) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::exponential_distribution<double> gap(1.0 / 0.12);
    for (double onset = unit(random) * 0.1; onset < seconds; onset += gap(random)) {
        Event event;
        event.onset = onset;
        if (unit(random) < 0.2) {
            // A noise burst: many unrelated partials, short.
            event.length = 0.03 + 0.09 * unit(random);
            event.attack = 0.002;
            for (int k = 0; k < 12; ++k) {
                event.partials.push_back(
                    {300.0 + 8700.0 * unit(random), 2 * M_PI * unit(random), 0.04 * unit(random)});
            }
        } else {
            // A note of random pitch on no particular scale, with a few harmonics.
            const double pitch = 110.0 * std::pow(2.0, 3.0 * unit(random));
            event.length = 0.08 + 0.5 * unit(random);
            event.attack = 0.005 + 0.015 * unit(random);
            const double loudness = 0.05 + 0.15 * unit(random);
            for (int h = 1; h <= 4; ++h) {
                event.partials.push_back(
                    {pitch * h, 2 * M_PI * unit(random), loudness * unit(random) / h});
            }
        }
        m_longest = std::max(m_longest, event.length);
        m_events.push_back(std::move(event));
    }
    if (take != 0) {
        std::mt19937 timing(take);
        for (Event& event : m_events) {
            event.onset = std::max(0.0, event.onset + 0.08 * (unit(timing) - 0.5));
            for (Partial& p : event.partials) {
                p.phase = 2 * M_PI * unit(timing);
            }
        }
        std::sort(m_events.begin(), m_events.end(),
                  [](const Event& a, const Event& b) { return a.onset < b.onset; });
    }
}

double SyntheticSong::At(double t) const {
    if (t < 0.0 || t >= m_seconds) {
        return 0.0;
    }
    auto it = std::upper_bound(m_events.begin(), m_events.end(), t,
                               [](double time, const Event& e) { return time < e.onset; });
    double sum = 0.0;
    while (it != m_events.begin()) {
        --it;
        const double age = t - it->onset;
        if (age >= m_longest) {
            break;
        }
        if (age >= it->length) {
            continue;
        }
        const double fall = 1.0 - age / it->length;
        const double envelope = std::min(1.0, age / it->attack) * fall * fall;
        for (const Partial& p : it->partials) {
            sum += envelope * p.amplitude * std::sin(2 * M_PI * p.frequency * age + p.phase);
        }
    }
    return sum;
}

std::vector<float> SyntheticSong::Render(int rate) const {
    std::vector<float> samples(static_cast<size_t>(m_seconds * rate));
    for (size_t k = 0; k < samples.size(); ++k) {
        samples[k] = static_cast<float>(At(static_cast<double>(k) / rate));
    }
    return samples;
}

namespace {

// A second-order section (the audio cookbook's high- and low-pass, Q = 0.707).
void Filter(std::vector<double>& x, double hz, int rate, bool high) {
    const double w = 2 * M_PI * hz / rate;
    const double alpha = std::sin(w) / (2 * 0.7071);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    const double b0 = (high ? (1 + c) / 2 : (1 - c) / 2) / a0;
    const double b1 = (high ? -(1 + c) : 1 - c) / a0;
    const double b2 = b0;
    const double a1 = -2 * c / a0;
    const double a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : x) {
        const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

}  // namespace

std::vector<float> CameraSound(const SyntheticSong& song, double songAt, double audioStart,
                               int rate, double seconds, const Room& room) {
    const size_t count = static_cast<size_t>(seconds * rate);
    std::vector<double> direct(count);
    const SyntheticSong chatter(room.seed + 1000, seconds + audioStart + 1.0);
    for (size_t k = 0; k < count; ++k) {
        const double t = audioStart + static_cast<double>(k) / rate;
        const double heard = t - songAt;
        direct[k] = song.At(heard);
        if (room.talk > 0.0 && (heard < 0.0 || heard >= song.Seconds())) {
            direct[k] += room.talk * chatter.At(t);
        }
    }
    // Echoes need not be fractional: they are not what is measured.
    std::vector<double> mixed = direct;
    for (const auto& [delay, level] : room.echoes) {
        const size_t shift = static_cast<size_t>(std::lround(delay * rate));
        for (size_t k = shift; k < count; ++k) {
            mixed[k] += level * direct[k - shift];
        }
    }
    if (room.highPassHz > 0.0) {
        Filter(mixed, room.highPassHz, rate, true);
    }
    if (room.lowPassHz > 0.0) {
        Filter(mixed, room.lowPassHz, rate, false);
        Filter(mixed, room.lowPassHz, rate, false);
    }
    std::mt19937 random(room.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<float> out(count);
    for (size_t k = 0; k < count; ++k) {
        out[k] = static_cast<float>(
            std::clamp(room.gain * mixed[k] + room.noise * noise(random), -1.0, 1.0));
    }
    return out;
}

namespace {

bool Fail(std::string* error, const std::string& reason) {
    if (error) {
        *error = reason;
    }
    return false;
}

struct Encoding {
    Owned<AVCodecContext> codec;
    AVStream* stream = nullptr;
};

bool Open(AVFormatContext* output, const char* name, Encoding& e,
          const std::function<void(AVCodecContext&)>& configure) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        return false;
    }
    e.codec.reset(avcodec_alloc_context3(codec));
    e.stream = avformat_new_stream(output, nullptr);
    if (!e.codec || !e.stream) {
        return false;
    }
    configure(*e.codec);
    if (output->oformat->flags & AVFMT_GLOBALHEADER) {
        e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(e.codec.get(), codec, nullptr) < 0 ||
        avcodec_parameters_from_context(e.stream->codecpar, e.codec.get()) < 0) {
        return false;
    }
    e.stream->time_base = e.codec->time_base;
    return true;
}

// Sends one frame (null: the end) and writes every packet the encoder gives back.
bool Encode(AVFormatContext* output, Encoding& e, const AVFrame* frame, AVPacket* packet) {
    return EncodeAndWrite(e.codec.get(), output, e.stream, frame, packet) >= 0;
}

}  // namespace

bool WriteCameraFile(const std::string& path, const CameraFile& file, std::string* error) {
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()) < 0 || !raw) {
        return Fail(error, "no container for " + path);
    }
    OwnedOutput output(raw);
    Encoding video;
    if (!Open(output.get(), "mpeg4", video, [](AVCodecContext& c) {
            c.width = 16;
            c.height = 16;
            c.pix_fmt = AV_PIX_FMT_YUV420P;
            c.time_base = {1, 25};
            c.framerate = {25, 1};
        })) {
        return Fail(error, "cannot open the picture encoder");
    }
    video.stream->avg_frame_rate = video.stream->r_frame_rate = {25, 1};
    Encoding audio;
    if (file.codec != TestAudioCodec::None) {
        const char* name = file.codec == TestAudioCodec::Aac   ? "aac"
                           : file.codec == TestAudioCodec::Pcm ? "pcm_s16le"
                                                               : "flac";
        if (!Open(output.get(), name, audio, [&](AVCodecContext& c) {
                c.sample_rate = file.rate;
                c.time_base = {1, file.rate};
                c.sample_fmt =
                    file.codec == TestAudioCodec::Aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
                c.ch_layout = AV_CHANNEL_LAYOUT_MONO;
                c.bit_rate = 128000;
            })) {
            return Fail(error, std::string("cannot open the sound encoder ") + name);
        }
    }
    if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(output.get(), nullptr) < 0) {
        return Fail(error, "cannot write the header of " + path);
    }
    Owned<AVPacket> packet(av_packet_alloc());
    Owned<AVFrame> picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = picture->height = 16;
    if (av_frame_get_buffer(picture.get(), 0) < 0) {
        return Fail(error, "out of memory");
    }
    const long firstPicture = std::lround(file.videoStart * 25);
    const long pictures = std::lround(file.videoSeconds * 25);
    for (long n = 0; n < pictures; ++n) {
        av_frame_make_writable(picture.get());
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? 16 : 8;
            for (int y = 0; y < rows; ++y) {
                std::fill_n(picture->data[plane] + y * picture->linesize[plane], rows,
                            static_cast<std::uint8_t>(plane == 0 ? (n * 8) & 0xFF : 128));
            }
        }
        picture->pts = firstPicture + n;
        if (!Encode(output.get(), video, picture.get(), packet.get())) {
            return Fail(error, "cannot encode a picture");
        }
    }
    if (!Encode(output.get(), video, nullptr, packet.get())) {
        return Fail(error, "cannot finish the pictures");
    }
    if (audio.codec) {
        AVCodecContext& c = *audio.codec;
        const int chunk = c.frame_size > 0 ? c.frame_size : 1024;
        Owned<AVFrame> frame(av_frame_alloc());
        const long first = std::lround(file.audioStart * file.rate);
        for (size_t at = 0; at < file.samples.size(); at += chunk) {
            const int count = static_cast<int>(std::min<size_t>(chunk, file.samples.size() - at));
            av_frame_unref(frame.get());
            frame->format = c.sample_fmt;
            frame->sample_rate = c.sample_rate;
            frame->nb_samples = count;
            av_channel_layout_copy(&frame->ch_layout, &c.ch_layout);
            if (av_frame_get_buffer(frame.get(), 0) < 0) {
                return Fail(error, "out of memory");
            }
            for (int k = 0; k < count; ++k) {
                const float v = file.samples[at + k];
                if (c.sample_fmt == AV_SAMPLE_FMT_FLTP) {
                    reinterpret_cast<float*>(frame->data[0])[k] = v;
                } else {
                    reinterpret_cast<std::int16_t*>(frame->data[0])[k] =
                        static_cast<std::int16_t>(std::lround(v * 32767.0f));
                }
            }
            frame->pts = first + static_cast<long>(at);
            if (!Encode(output.get(), audio, frame.get(), packet.get())) {
                return Fail(error, "cannot encode sound");
            }
        }
        if (!Encode(output.get(), audio, nullptr, packet.get())) {
            return Fail(error, "cannot finish the sound");
        }
    }
    if (av_write_trailer(output.get()) < 0) {
        return Fail(error, "cannot finish " + path);
    }
    return true;
}

bool WriteSongWave(const std::string& path, const std::vector<float>& samples, int rate) {
    WaveFormat format;
    format.sampleRate = static_cast<std::uint32_t>(rate);
    format.channels = 1;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (float v : samples) {
        const auto s = static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767));
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return WriteWaveFile(path, format, bytes);
}

}  // namespace zorvo::test
