#include "output/EncodedWriter.h"

#include <filesystem>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/FfmpegFree.h"
#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "output/OutputFile.h"
#include "output/OutputFiles.h"
#include "output/Yuv420.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace zorvo {

namespace {

// Chosen in bench/ so that an encoded render costs little more than an AVI render.
constexpr const char* kPreset = "superfast";
// Visually lossless.
constexpr const char* kQuality = "18";
constexpr int kFramesPerSecond = 25;
constexpr std::int64_t kAacBitsPerChannel = 96000;
constexpr std::int64_t kAacLeastBitRate = 192000;
constexpr std::uint16_t kFloatFormat = 3;

struct FormatFreer {
    void operator()(AVFormatContext* context) const {
        // The I/O is the OutputFile's.
        avformat_free_context(context);
    }
};

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void PostEncoderError(const std::string& what, int code) {
    PostLog(Format("Error (Encoder): %s: %s.\n", what.c_str(), ErrorText(code).c_str()));
}

// One sample of `bytes` little-endian bytes as a signed integer of that width (8-bit WAVE
// samples are unsigned).
std::int32_t IntegerSample(const std::uint8_t* p, int bytes) {
    switch (bytes) {
        case 1:
            return static_cast<std::int32_t>(p[0]) - 128;
        case 2:
            return static_cast<std::int16_t>(p[0] | p[1] << 8);
        case 3:
            return static_cast<std::int32_t>(std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]} << 16 |
                                             std::uint32_t{p[2]} << 24) >>
                   8;
        default:
            return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                             std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
    }
}

}  // namespace

// The FFmpeg side: the container, the two encoders and the picture converter. The build thread
// opens and finishes it; in between the encoding thread encodes the pictures and the sound
// thread the song's audio, each packet going into the container under its lock, which
// interleaves them by time.
class EncodedWriter::Encoder {
  public:
    bool Open(const EncodedWriter& owner, const WaveFile* wave);
    // Encodes one picture (YUV 4:2:0).
    bool Write(AVFrame& picture, std::int64_t position);
    // Encodes the whole audio frames of the first `bytes` of the song's samples from byte
    // `from` of the WAVE file's data (the first rendered frame's) that are not encoded yet,
    // read from the file in pieces; with `last` also the rest, a short frame, and what the
    // audio encoder still holds.
    bool WriteSound(const WaveFile& wave, std::uint64_t from, std::size_t bytes, bool last);
    // Encodes what the video encoder still holds and writes the index.
    bool Finish();
    bool HasSound() const { return m_audio != nullptr; }
    // Whether Open created the file (and so may remove it).
    bool Created() const { return m_created; }

  private:
    bool OpenVideo(const EncodedWriter& owner);
    bool OpenAudio(const EncodedWriter& owner, const WaveFile& wave);
    bool Send(AVCodecContext* codec, AVStream* stream, AVPacket& packet, const AVFrame* frame);
    bool EncodeAudio(const std::uint8_t* source, std::size_t samples);
    bool Broken();
    void Break();

    OutputFile m_file;  // outlives the container, which writes through it
    std::unique_ptr<AVFormatContext, FormatFreer> m_format;
    std::unique_ptr<AVCodecContext, FfmpegFree> m_video;
    std::unique_ptr<AVCodecContext, FfmpegFree> m_audio;
    std::unique_ptr<AVFrame, FfmpegFree> m_sound;
    std::unique_ptr<AVPacket, FfmpegFree> m_videoPacket;
    std::unique_ptr<AVPacket, FfmpegFree> m_audioPacket;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    bool m_headerWritten = false;
    bool m_created = false;
    // Guards the container, its file and m_broken while both threads encode.
    std::mutex m_muxing;
    // An encoder or a write has failed and said so; finishing then only closes the file.
    bool m_broken = false;

    int m_channels = 0;
    int m_sampleBytes = 0;
    bool m_floatSamples = false;
    std::int64_t m_audioPosition = 0;   // samples encoded
    std::vector<std::uint8_t> m_piece;  // samples read from the file, a few frames' worth
};

bool EncodedWriter::Encoder::Open(const EncodedWriter& owner, const WaveFile* wave) {
    const char* muxer = owner.kind == OutputKind::Matroska ? "matroska"
                        : owner.kind == OutputKind::Mov    ? "mov"
                                                           : "mp4";
    AVFormatContext* format = nullptr;
    int result = avformat_alloc_output_context2(&format, nullptr, muxer, owner.path.c_str());
    m_format.reset(format);
    if (result < 0) {
        PostEncoderError("Failed to create encoder: No output format", result);
        return false;
    }
    m_videoPacket.reset(av_packet_alloc());
    m_audioPacket.reset(av_packet_alloc());
    if (!m_videoPacket || !m_audioPacket || !OpenVideo(owner) ||
        (wave && !OpenAudio(owner, *wave))) {
        return false;
    }
    if ((result = m_file.Open(owner.m_current)) < 0) {
        PostEncoderError("Failed to create encoder: Failed to create output file", result);
        return false;
    }
    m_created = true;
    m_format->pb = m_file.Io();
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // MP4 and QuickTime get their index on Close (no second pass to move it to the front);
    // their edit lists start the picture at its first frame despite B-frames and drop the AAC
    // primer.
    result = avformat_write_header(m_format.get(), nullptr);
    if (result < 0) {
        PostEncoderError("Failed to create encoder: Failed to write the file header", result);
        return false;
    }
    m_headerWritten = true;
    m_file.StartPackets();
    return true;
}

bool EncodedWriter::Encoder::OpenVideo(const EncodedWriter& owner) {
    if (owner.width % 2 != 0 || owner.height % 2 != 0) {
        PostLog(
            "Error (Encoder): Failed to create encoder: H.264 output needs an even width and "
            "height.\n");
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        PostLog("Error (Encoder): Failed to create encoder: No libx264 encoder in FFmpeg.\n");
        return false;
    }
    m_video.reset(avcodec_alloc_context3(codec));
    m_videoStream = avformat_new_stream(m_format.get(), nullptr);
    if (!m_video || !m_videoStream) {
        PostLog("Error (Encoder): Failed to create encoder: Out of memory.\n");
        return false;
    }
    // Players take BT.601 for standard definition and BT.709 for HD pictures; say which.
    const bool hd = owner.width >= 1280 || owner.height >= 720;
    AVCodecContext& v = *m_video;
    v.width = owner.width;
    v.height = owner.height;
    v.pix_fmt = AV_PIX_FMT_YUV420P;
    v.time_base = {1, kFramesPerSecond};
    v.framerate = {kFramesPerSecond, 1};
    v.sample_aspect_ratio = {1, 1};
    v.color_range = AVCOL_RANGE_MPEG;
    v.color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    v.color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    v.colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
        v.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // The encoder's statistics would land on the console between our own lines; its errors
    // still show.
    v.log_level_offset = AV_LOG_DEBUG - AV_LOG_INFO;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", kPreset, 0);
    av_dict_set(&options, "crf", kQuality, 0);
    // Each of x264's threads holds frames of its own (some 25 MB at full HD), and so does its
    // look-ahead on a thread of its own: one thread for two cores, with the look-ahead in it. The
    // decoders keep the other cores busy; on two cores one thread took less CPU and wall-clock
    // time than one a core on the full HD session, and 18 MiB less memory. More cores get more,
    // so that the encoder does not become the one thread the render waits for.
    av_dict_set(&options, "x264-params", "sync-lookahead=0", 0);
    v.thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency() / 2));
    int result = avcodec_open2(&v, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        PostEncoderError("Failed to create encoder: Failed to open the H.264 encoder", result);
        return false;
    }
    m_videoStream->time_base = v.time_base;
    m_videoStream->avg_frame_rate = v.framerate;
    m_videoStream->r_frame_rate = v.framerate;
    avcodec_parameters_from_context(m_videoStream->codecpar, &v);
    return true;
}

bool EncodedWriter::Encoder::OpenAudio(const EncodedWriter& owner, const WaveFile& wave) {
    m_channels = wave.channels;
    m_sampleBytes = m_channels > 0 ? wave.blockAlign / m_channels : 0;
    m_floatSamples = wave.formatTag == kFloatFormat;
    const bool flac = owner.kind == OutputKind::Matroska;
    // FLAC in this FFmpeg carries up to 24 bits; AAC takes any of these.
    const bool supported = m_channels >= 1 && m_channels <= 8 &&
                           m_sampleBytes * m_channels == wave.blockAlign &&
                           (m_floatSamples ? m_sampleBytes == 4 && !flac
                                           : m_sampleBytes >= 1 && m_sampleBytes <= (flac ? 3 : 4));
    if (!supported) {
        PostLog(
            Format("Error (Encoder): Failed to create encoder: %s cannot carry %i-bit %s "
                   "audio with %i channels.\n",
                   flac ? "FLAC" : "AAC", m_sampleBytes * 8, m_floatSamples ? "float" : "integer",
                   m_channels));
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(flac ? AV_CODEC_ID_FLAC : AV_CODEC_ID_AAC);
    m_audio.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    m_audioStream = m_audio ? avformat_new_stream(m_format.get(), nullptr) : nullptr;
    m_sound.reset(av_frame_alloc());
    if (!m_audio || !m_audioStream || !m_sound) {
        PostLog("Error (Encoder): Failed to create encoder: No audio encoder.\n");
        return false;
    }
    AVCodecContext& a = *m_audio;
    a.sample_rate = static_cast<int>(wave.samplesPerSecond);
    a.time_base = {1, a.sample_rate};
    av_channel_layout_default(&a.ch_layout, m_channels);
    if (flac) {
        a.sample_fmt = m_sampleBytes <= 2 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
        a.bits_per_raw_sample = m_sampleBytes <= 2 ? 16 : 24;
    } else {
        a.sample_fmt = AV_SAMPLE_FMT_FLTP;
        a.bit_rate = std::max(kAacLeastBitRate, kAacBitsPerChannel * m_channels);
    }
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
        a.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    a.log_level_offset = AV_LOG_DEBUG - AV_LOG_INFO;
    const int result = avcodec_open2(&a, codec, nullptr);
    if (result < 0) {
        PostEncoderError("Failed to create encoder: Failed to open the audio encoder", result);
        return false;
    }
    m_audioStream->time_base = a.time_base;
    // Carries the encoder's priming delay, from which the container's edit list lets
    // players drop the primer so that sound and picture start together.
    avcodec_parameters_from_context(m_audioStream->codecpar, &a);
    return true;
}

bool EncodedWriter::Encoder::Broken() {
    std::lock_guard lock(m_muxing);
    return m_broken;
}

void EncodedWriter::Encoder::Break() {
    std::lock_guard lock(m_muxing);
    m_broken = true;
}

bool EncodedWriter::Encoder::Send(AVCodecContext* codec, AVStream* stream, AVPacket& packet,
                                  const AVFrame* frame) {
    if (Broken()) {
        return false;
    }
    int result = avcodec_send_frame(codec, frame);
    if (result < 0) {
        PostEncoderError("Failed to encode", result);
        Break();
        return false;
    }
    for (;;) {
        result = avcodec_receive_packet(codec, &packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            PostEncoderError("Failed to encode", result);
            Break();
            return false;
        }
        av_packet_rescale_ts(&packet, codec->time_base, stream->time_base);
        packet.stream_index = stream->index;
        std::lock_guard lock(m_muxing);
        if (m_broken) {
            av_packet_unref(&packet);  // the other thread's failure, said already
            return false;
        }
        m_broken = true;
        // A packet the disk has no room for is not written, so that the index still fits.
        if ((result = m_file.Reserve(packet.size)) < 0) {
            av_packet_unref(&packet);
            PostEncoderError("Failed to write the output file", result);
            return false;
        }
        result = av_interleaved_write_frame(m_format.get(), &packet);
        if (result < 0) {
            PostEncoderError("Failed to write the output file", result);
            return false;
        }
        m_broken = false;
    }
}

bool EncodedWriter::Encoder::EncodeAudio(const std::uint8_t* source, std::size_t samples) {
    AVFrame& f = *m_sound;
    av_frame_unref(&f);
    f.format = m_audio->sample_fmt;
    f.nb_samples = static_cast<int>(samples);
    f.sample_rate = m_audio->sample_rate;
    if (av_channel_layout_copy(&f.ch_layout, &m_audio->ch_layout) < 0 ||
        av_frame_get_buffer(&f, 0) < 0) {
        PostLog("Error (Encoder): Failed to encode: Out of memory.\n");
        Break();
        return false;
    }
    const std::size_t blockAlign = static_cast<std::size_t>(m_sampleBytes) * m_channels;
    for (std::size_t i = 0; i < samples; ++i) {
        for (int c = 0; c < m_channels; ++c) {
            const std::uint8_t* sample = source + i * blockAlign + c * m_sampleBytes;
            const std::int32_t value = IntegerSample(sample, m_sampleBytes);
            switch (f.format) {
                case AV_SAMPLE_FMT_S16:
                    // 8-bit samples scaled up: FLAC stores them in 16 bits, losslessly.
                    reinterpret_cast<std::int16_t*>(f.data[0])[i * m_channels + c] =
                        static_cast<std::int16_t>(m_sampleBytes == 1 ? value * 256 : value);
                    break;
                case AV_SAMPLE_FMT_S32:
                    reinterpret_cast<std::int32_t*>(f.data[0])[i * m_channels + c] =
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 8);
                    break;
                default: {
                    float value32 = 0;
                    if (m_floatSamples) {
                        std::memcpy(&value32, sample, sizeof value32);
                    } else {
                        value32 = static_cast<float>(
                            value /
                            static_cast<double>(std::int64_t{1} << (8 * m_sampleBytes - 1)));
                    }
                    reinterpret_cast<float*>(f.extended_data[c])[i] = value32;
                }
            }
        }
    }
    f.pts = m_audioPosition;
    m_audioPosition += static_cast<std::int64_t>(samples);
    return Send(m_audio.get(), m_audioStream, *m_audioPacket, &f);
}

bool EncodedWriter::Encoder::Write(AVFrame& picture, std::int64_t position) {
    picture.pts = position;
    return Send(m_video.get(), m_videoStream, *m_videoPacket, &picture);
}

bool EncodedWriter::Encoder::WriteSound(const WaveFile& wave, std::uint64_t from, std::size_t bytes,
                                        bool last) {
    // Audio frames read from the file at once: a few hundred KiB, whatever the song's length.
    constexpr std::size_t kFramesPerPiece = 64;
    const std::size_t blockAlign = static_cast<std::size_t>(m_sampleBytes) * m_channels;
    const auto frameSize = static_cast<std::size_t>(m_audio->frame_size);
    const std::size_t samples = bytes / blockAlign;
    auto done = static_cast<std::size_t>(m_audioPosition);
    while (samples - done >= frameSize || (last && samples > done)) {
        const std::size_t count = std::min(samples - done, frameSize * kFramesPerPiece);
        m_piece.resize(count * blockAlign);
        std::string reason;
        if (!wave.ReadData(from + done * blockAlign, m_piece.size(), m_piece.data(), reason)) {
            wave.PostReadFailure("Encoder", reason);
            Break();
            return false;
        }
        for (std::size_t at = 0; at < count;) {
            // Both audio encoders take a short last frame; elsewhere one waits for its samples.
            const std::size_t n = std::min(frameSize, count - at);
            if (n < frameSize && !last) {
                break;
            }
            if (!EncodeAudio(m_piece.data() + at * blockAlign, n)) {
                return false;
            }
            at += n;
        }
        done = static_cast<std::size_t>(m_audioPosition);
    }
    return !last || Send(m_audio.get(), m_audioStream, *m_audioPacket, nullptr);
}

bool EncodedWriter::Encoder::Finish() {
    bool finished = m_headerWritten && !m_broken;
    if (m_headerWritten && m_broken) {
        // Index what was written; the failure has been reported already.
        av_write_trailer(m_format.get());
        m_headerWritten = false;
    }
    if (m_headerWritten) {
        finished = Send(m_video.get(), m_videoStream, *m_videoPacket, nullptr) && finished;
        const int result = av_write_trailer(m_format.get());
        if (result < 0) {
            PostEncoderError("Failed to finish the output file", result);
            finished = false;
        }
        m_headerWritten = false;
    }
    if (m_format && m_format->pb) {
        m_format->pb = nullptr;
        const int result = m_file.Close();
        if (result < 0 && finished) {
            PostEncoderError("Failed to finish the output file", result);
            finished = false;
        }
    }
    return finished;
}

void EncodedWriter::PictureFree::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

EncodedWriter::EncodedWriter(std::string path_, std::int32_t width_, std::int32_t height_,
                             std::string wavePath_, OutputKind kind_)
    : path(std::move(path_)),
      width(width_),
      height(height_),
      wavePath(std::move(wavePath_)),
      kind(kind_),
      m_current(PartialName(path)) {}

EncodedWriter::~EncodedWriter() {
    Close(false);  // not closed by its render: that render failed
}

bool EncodedWriter::Open() {
    if (m_encoder) {
        PostLog("Error (Encoder): Failed to create encoder: Output file was already created.\n");
        return false;
    }
    if (!frameBitmap.Allocate(width, height)) {
        PostLog("Error (Encoder): Failed to create encoder: Failed to create frame bitmap.\n");
        return false;
    }
    frameBits = frameBitmap.Bits();
    if (!wavePath.empty() && !m_wave.Load(wavePath)) {
        return false;
    }
    m_spare.clear();
    for (std::size_t i = 0; i < kQueueFrames; ++i) {
        PicturePtr spare(av_frame_alloc());
        if (spare) {
            spare->format = AV_PIX_FMT_YUV420P;
            spare->width = width;
            spare->height = height;
        }
        if (!spare || av_frame_get_buffer(spare.get(), 0) < 0) {
            PostLog("Error (Encoder): Failed to create encoder: Failed to create frame bitmap.\n");
            return false;
        }
        m_spare.push_back(std::move(spare));
    }
    // Players take BT.601 for standard definition and BT.709 for HD pictures.
    m_factors = std::make_unique<YuvFactors>(YuvFactorsFor(width >= 1280 || height >= 720));
    if (IsOwnPartial(m_current)) {
        ::unlink(m_current.c_str());  // a failed render's, when no lock cleared it
    }
    auto encoder = std::make_unique<Encoder>();
    if (!encoder->Open(*this, m_wave.Loaded() ? &m_wave : nullptr)) {
        const bool created = encoder->Created();
        encoder.reset();
        // A file that never got its header is of no use to anyone.
        if (created) {
            ::unlink(m_current.c_str());
        }
        return false;
    }
    m_encoder = std::move(encoder);
    m_closing = false;
    m_failed = false;
    m_inserted = 0;
    // The audio of a frame: as in the AVI, the whole 1/25 second slices of the song.
    m_slice = m_encoder->HasSound()
                  ? std::size_t{m_wave.blockAlign} *
                        (std::size_t{m_wave.blockAlign} * m_wave.samplesPerSecond /
                         kFramesPerSecond / m_wave.blockAlign)
                  : 0;
    m_songStart = 0;
    m_songBytes = 0;
    m_songTaken = 0;
    try {
        m_thread = std::thread(&EncodedWriter::EncodeLoop, this);
        if (m_slice > 0) {
            m_soundThread = std::thread(&EncodedWriter::SoundLoop, this);
        }
    } catch (const std::system_error&) {
        PostLog(
            "Error (Encoder): Failed to create encoder: Failed to start the encoding thread.\n");
        StopThreads();
        m_encoder->Finish();
        m_encoder.reset();
        return false;
    }
    return true;
}

bool EncodedWriter::InsertFrame(std::uint32_t frameNumber) {
    if (!m_encoder) {
        PostLog("Error (Encoder): Failed to insert frame: No output file created.\n");
        return false;
    }
    if (!InOrder(frameNumber, m_inserted, "Encoder")) {
        return false;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_spare.empty() || m_failed; });
    if (m_failed) {
        return false;  // the encoding thread has posted why
    }
    Queued item{std::move(m_spare.back()), m_inserted};
    m_spare.pop_back();
    lock.unlock();
    // Converted here, straight from the composed frame: the queue holds the encoder's input.
    if (av_frame_make_writable(item.picture.get()) < 0) {
        PostLog("Error (Encoder): Failed to encode: Out of memory.\n");
        lock.lock();
        m_spare.push_back(std::move(item.picture));
        return false;
    }
    AVFrame& picture = *item.picture;
    BgrToYuv420(frameBitmap, *m_factors,
                {{picture.data[0], picture.data[1], picture.data[2]},
                 {picture.linesize[0], picture.linesize[1], picture.linesize[2]}});
    lock.lock();
    m_queue.push_back(std::move(item));
    ++m_inserted;
    m_changed.notify_all();
    if (m_slice > 0) {
        // The frame's slice of the song, none past its end: the sound runs from the first
        // rendered frame's slice on, one after the other.
        const std::uint64_t begin = std::uint64_t{frameNumber} * m_slice +
                                    SongLeadBytes(m_wave.samplesPerSecond, m_wave.blockAlign);
        if (m_inserted == 1) {
            m_songStart = begin;
        }
        if (begin + m_slice <= m_wave.dataSize) {
            m_songBytes = static_cast<std::size_t>(begin + m_slice - m_songStart);
            m_soundChanged.notify_all();
        }
    }
    return true;
}

void EncodedWriter::EncodeLoop() {
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty()) {
            return;
        }
        Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        const bool failed = m_failed;
        lock.unlock();

        if (!failed && !m_encoder->Write(*item.picture, item.position)) {
            m_failed = true;
        }
        lock.lock();
        m_spare.push_back(std::move(item.picture));
        m_changed.notify_all();
    }
}

// The sound on a thread of its own, beside the pictures' encoder (AAC costs about a quarter of
// x264's time here), as its frames fill; the rest waits for Close.
void EncodedWriter::SoundLoop() {
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_soundChanged.wait(lock, [this] { return m_songBytes > m_songTaken || m_closing; });
        const std::size_t bytes = m_songBytes;
        const std::uint64_t start = m_songStart;
        const bool closing = m_closing;
        m_songTaken = bytes;
        lock.unlock();
        if (!m_encoder->WriteSound(m_wave, start, bytes, false)) {
            lock.lock();
            m_failed = true;
            m_changed.notify_all();
            return;
        }
        if (closing) {
            return;
        }
    }
}

void EncodedWriter::StopThreads() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_soundChanged.notify_all();
    for (std::thread* thread : {&m_thread, &m_soundThread}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
}

bool EncodedWriter::Close(bool publish) {
    StopThreads();
    bool closed = !m_failed;
    if (m_encoder) {
        // Even after a failure, finish what was written so that it plays.
        if (m_slice > 0) {
            closed = m_encoder->WriteSound(m_wave, m_songStart, m_songBytes, true) && closed;
        }
        closed = m_encoder->Finish() && closed;
        m_encoder.reset();
        if (publish && closed) {
            // Replaces the previous render's file at once.
            if (!RenameOver(m_current, path)) {
                PostLog(Format("Error (Encoder): Failed to rename '%s' to '%s': %s.\n",
                               m_current.c_str(), path.c_str(), std::strerror(errno)));
                closed = false;
            } else {
                m_published = true;
            }
        }
    }
    m_queue.clear();
    m_spare.clear();
    m_wave.Free();
    frameBitmap.Reset();
    frameBits = nullptr;
    return closed;
}

std::vector<std::string> EncodedWriter::Files() const {
    std::error_code error;
    const std::string& file = m_published ? path : m_current;
    if (std::filesystem::is_regular_file(file, error)) {
        return {file};
    }
    return {};
}

}  // namespace zorvo
