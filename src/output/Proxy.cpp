#include "output/Proxy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "common/FfmpegFree.h"
#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "media/VideoProbe.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace zorvo {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProxySuffix = ".proxy.mkv";
// A run where the folder takes no unnamed files writes under the proxy's name, this and a
// random part.
constexpr const char* kPartialTag = ".partial-";

// FNV-1a: the same key on every run and machine, unlike std::hash.
std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// The system's FFmpeg is not built for ThreadSanitizer, which cannot see how its threads hand
// pictures over: those builds decode and encode on the caller's thread (as VideoDecoder does).
#if defined(__SANITIZE_THREAD__)
constexpr bool kLibraryThreads = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kLibraryThreads = false;
#else
constexpr bool kLibraryThreads = true;
#endif
#else
constexpr bool kLibraryThreads = true;
#endif

bool Valid(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

// The file being written (common/SafeFile), through FFmpeg's I/O on its descriptor.
class ProxyFile {
  public:
    ~ProxyFile() { m_io.reset(); }

    // An unnamed file in the folder of `path` where the file system has them, else a new file
    // beside it under a temporary name; it takes its name only at Publish.
    bool Create(const std::string& path) {
        if (!m_file.CreateBeside(path, kPartialTag)) {
            errno = m_file.Error();
            return false;
        }
        constexpr int kBufferBytes = 256 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
        m_io.reset(buffer ? avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr,
                                               &ProxyFile::Write, &ProxyFile::Seek)
                          : nullptr);
        if (!m_io) {
            av_free(buffer);
            errno = ENOMEM;
            return false;
        }
        return true;
    }

    AVIOContext* Io() const { return m_io.get(); }
    int WriteError() const { return m_error; }

    // Syncs the finished file and gives it its name.
    bool Publish(const std::string& path) {
        avio_flush(m_io.get());
        if (m_error != 0) {
            errno = m_error;
            return false;
        }
        if (!m_file.Publish(path)) {
            errno = m_file.Error();
            return false;
        }
        return true;
    }

  private:
    struct IoFree {
        void operator()(AVIOContext* io) const {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    };
    static int Write(void* opaque, std::uint8_t* data, int size) {
        auto* self = static_cast<ProxyFile*>(opaque);
        for (int done = 0; done < size;) {
            const ssize_t n =
                ::write(self->m_file.Fd(), data + done, static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                self->m_error = n < 0 ? errno : ENOSPC;
                return AVERROR(self->m_error);
            }
            done += static_cast<int>(n);
        }
        return size;
    }
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<ProxyFile*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat status {};
            return ::fstat(self->m_file.Fd(), &status) == 0 ? status.st_size : AVERROR(errno);
        }
        const off_t at = ::lseek(self->m_file.Fd(), offset, whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : at;
    }

    SafeFile m_file;
    int m_error = 0;
    std::unique_ptr<AVIOContext, IoFree> m_io;
};

struct OutputFree {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

// One camera file on its way into its proxy.
class ProxyMaker {
  public:
    ProxyMaker(const std::string& camera, const ProxySettings& settings)
        : m_camera(camera), m_settings(settings) {}

    bool Run(const std::string& proxyPath, const std::atomic<bool>& stop,
             const std::function<void(double)>& progress) {
        if (!OpenCamera() || !m_file.Create(proxyPath)) {
            if (m_reason.empty()) {
                m_reason = std::strerror(errno);
            }
            return Fail("Failed to create the proxy file");
        }
        m_packet.reset(av_packet_alloc());
        m_picture.reset(av_frame_alloc());
        m_scaled.reset(av_frame_alloc());
        if (!m_packet || !m_picture || !m_scaled) {
            m_reason = "out of memory";
            return Fail("Failed to make the proxy");
        }
        const double duration = Duration();
        double lastShare = -1;
        while (!stop.load()) {
            const int read = av_read_frame(m_in.get(), m_packet.get());
            if (read == AVERROR_EOF) {
                break;
            }
            if (read < 0) {
                m_reason = LibraryErrorText(read);
                return Fail("Failed to read the camera file");
            }
            const int index = m_packet->stream_index;
            bool ok = true;
            if (index == m_videoIn->index) {
                if (progress && m_packet->pts != AV_NOPTS_VALUE && duration > 0) {
                    const double share = std::clamp(static_cast<double>(m_packet->pts - m_origin) *
                                                        av_q2d(m_videoIn->time_base) / duration,
                                                    0.0, 1.0);
                    if (share - lastShare >= 0.005) {
                        lastShare = share;
                        progress(share);
                    }
                }
                ok = Decode(m_packet.get());
            } else if (m_audioIn && index == m_audioIn->index) {
                ok = Sound(m_packet.get());
            }
            av_packet_unref(m_packet.get());
            if (!ok) {
                return false;
            }
        }
        if (stop.load()) {
            return false;
        }
        if (!Decode(nullptr) || (m_encoder && !Encode(nullptr))) {
            return false;
        }
        if (!m_headerWritten) {
            m_reason = "no picture could be decoded";
            return Fail("Failed to make the proxy");
        }
        const int trailer = av_write_trailer(m_out.get());
        if (trailer < 0 || m_file.WriteError() != 0) {
            m_reason = LibraryErrorText(trailer < 0 ? trailer : AVERROR(m_file.WriteError()));
            return Fail("Failed to write the proxy file");
        }
        if (!m_file.Publish(proxyPath)) {
            m_reason = std::strerror(errno);
            return Fail("Failed to write the proxy file");
        }
        if (progress) {
            progress(1.0);
        }
        return true;
    }

  private:
    bool Fail(const char* what) {
        PostLog(Format("Error (Proxy): %s.\n", what));
        PostContext("Proxy", Format("file '%s': %s", m_camera.c_str(), m_reason.c_str()));
        return false;
    }

    double Duration() const {
        if (m_videoIn->duration != AV_NOPTS_VALUE && m_videoIn->duration > 0) {
            return static_cast<double>(m_videoIn->duration) * av_q2d(m_videoIn->time_base);
        }
        return m_in->duration > 0 ? static_cast<double>(m_in->duration) / AV_TIME_BASE : 0;
    }

    bool OpenCamera() {
        QuietLibraryLog();
        AVFormatContext* format = nullptr;
        if (const int r = avformat_open_input(&format, m_camera.c_str(), nullptr, nullptr);
            r != 0) {
            m_reason = LibraryErrorText(r);
            return false;
        }
        m_in.reset(format);
        if (const int r = avformat_find_stream_info(format, nullptr); r < 0) {
            m_reason = LibraryErrorText(r);
            return false;
        }
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            AVStream* stream = format->streams[i];
            const AVMediaType type = stream->codecpar->codec_type;
            if (type == AVMEDIA_TYPE_VIDEO && !m_videoIn) {
                m_videoIn = stream;
            } else if (type == AVMEDIA_TYPE_AUDIO && !m_audioIn) {
                m_audioIn = stream;
            }
        }
        if (!m_videoIn) {
            m_reason = "no video stream";
            return false;
        }
        // The rate the capture counts source frames by: the proxy keeps it.
        m_rate =
            Valid(m_videoIn->r_frame_rate) ? m_videoIn->r_frame_rate : m_videoIn->avg_frame_rate;
        if (!Valid(m_rate) || !Valid(m_videoIn->time_base)) {
            m_reason = "unknown frame rate";
            return false;
        }
        m_origin = m_videoIn->start_time != AV_NOPTS_VALUE ? m_videoIn->start_time : 0;
        const AVCodec* codec = avcodec_find_decoder(m_videoIn->codecpar->codec_id);
        m_decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), m_videoIn->codecpar) < 0) {
            m_reason = "no decoder for its pictures";
            return false;
        }
        m_decoder->pkt_timebase = m_videoIn->time_base;
        m_decoder->thread_count =
            !kLibraryThreads ? 1
            : m_settings.decoderThreads > 0
                ? m_settings.decoderThreads
                : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        m_decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        if (m_settings.fastDecode) {
            m_decoder->skip_loop_filter = AVDISCARD_ALL;
        }
        if (const int r = avcodec_open2(m_decoder.get(), codec, nullptr); r < 0) {
            m_reason = LibraryErrorText(r);
            return false;
        }
        return true;
    }

    // The encoder and the file's header, once the first picture tells the camera's format.
    bool OpenProxy(const AVFrame& first) {
        const int w = first.width;
        const int h = first.height;
        m_width = std::min(w, kProxyWidth) & ~1;
        m_height =
            std::max(2, static_cast<int>((static_cast<long long>(h) * m_width + w / 2) / w) & ~1);
        // Full-range 4:2:2 is the format the flip rule leaves upright: the proxy keeps it.
        const auto decoded = static_cast<AVPixelFormat>(first.format);
        const bool fullRange = decoded == AV_PIX_FMT_YUVJ420P || decoded == AV_PIX_FMT_YUVJ422P ||
                               decoded == AV_PIX_FMT_YUVJ444P ||
                               first.color_range == AVCOL_RANGE_JPEG;
        m_format = decoded == AV_PIX_FMT_YUVJ422P ? AV_PIX_FMT_YUVJ422P
                   : fullRange                    ? AV_PIX_FMT_YUVJ420P
                                                  : AV_PIX_FMT_YUV420P;
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        m_encoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!m_encoder) {
            m_reason = "no H.264 encoder";
            return Fail("Failed to make the proxy");
        }
        AVCodecContext& e = *m_encoder;
        e.width = m_width;
        e.height = m_height;
        e.pix_fmt = m_format;
        e.time_base = m_videoIn->time_base;
        e.framerate = m_rate;
        e.sample_aspect_ratio = first.sample_aspect_ratio;
        e.gop_size = m_settings.keyInterval;
        e.thread_count = kLibraryThreads ? 0 : 1;
        e.keyint_min = 1;
        e.max_b_frames = 0;
        // The camera's colours as its pictures were tagged; an untagged HD camera is BT.709,
        // which the proxy's small size would no longer tell.
        const bool hd = w >= 1280 || h >= 720;
        e.color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        e.colorspace = first.colorspace != AVCOL_SPC_UNSPECIFIED ? first.colorspace
                       : hd                                      ? AVCOL_SPC_BT709
                                                                 : AVCOL_SPC_UNSPECIFIED;
        e.color_primaries = first.color_primaries != AVCOL_PRI_UNSPECIFIED ? first.color_primaries
                            : hd                                           ? AVCOL_PRI_BT709
                                                                           : AVCOL_PRI_UNSPECIFIED;
        e.color_trc = first.color_trc != AVCOL_TRC_UNSPECIFIED ? first.color_trc
                      : hd                                     ? AVCOL_TRC_BT709
                                                               : AVCOL_TRC_UNSPECIFIED;
        e.field_order = AV_FIELD_PROGRESSIVE;

        AVFormatContext* out = nullptr;
        if (avformat_alloc_output_context2(&out, nullptr, "matroska", nullptr) < 0 || !out) {
            m_reason = "no Matroska muxer";
            return Fail("Failed to make the proxy");
        }
        m_out.reset(out);
        out->pb = m_file.Io();
        if (out->oformat->flags & AVFMT_GLOBALHEADER) {
            e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* options = nullptr;
        av_dict_set(&options, "preset", m_settings.preset, 0);
        av_dict_set_int(&options, "crf", m_settings.crf, 0);
        // A key frame exactly every interval, whatever the scenes do.
        av_dict_set(&options, "x264-params", "scenecut=0", 0);
        const int opened = avcodec_open2(&e, codec, &options);
        av_dict_free(&options);
        if (opened < 0) {
            m_reason = LibraryErrorText(opened);
            return Fail("Failed to make the proxy");
        }
        m_videoOut = avformat_new_stream(out, nullptr);
        if (!m_videoOut || avcodec_parameters_from_context(m_videoOut->codecpar, &e) < 0) {
            m_reason = "out of memory";
            return Fail("Failed to make the proxy");
        }
        m_videoOut->time_base = e.time_base;
        // Matroska keeps the rate as the track's default duration, and the demuxer reads it
        // back as the rate: frames are counted as in the camera.
        m_videoOut->avg_frame_rate = m_rate;
        m_videoOut->r_frame_rate = m_rate;
        size_t matrixBytes = 0;
        if (const std::uint8_t* matrix =
                av_stream_get_side_data(m_videoIn, AV_PKT_DATA_DISPLAYMATRIX, &matrixBytes)) {
            if (std::uint8_t* copy =
                    av_stream_new_side_data(m_videoOut, AV_PKT_DATA_DISPLAYMATRIX, matrixBytes)) {
                std::memcpy(copy, matrix, matrixBytes);
            }
        }
        if (m_audioIn) {
            if (avformat_query_codec(out->oformat, m_audioIn->codecpar->codec_id,
                                     FF_COMPLIANCE_NORMAL) == 1) {
                m_audioOut = avformat_new_stream(out, nullptr);
                if (!m_audioOut ||
                    avcodec_parameters_copy(m_audioOut->codecpar, m_audioIn->codecpar) < 0) {
                    m_reason = "out of memory";
                    return Fail("Failed to make the proxy");
                }
                m_audioOut->codecpar->codec_tag = 0;
                m_audioOut->time_base = m_audioIn->time_base;
            } else {
                PostQuoted("Warning (Proxy): The proxy of '", m_camera,
                           "' has no sound: Matroska does not take the camera's sound as it "
                           "is.\n");
                m_audioIn = nullptr;
            }
        }
        if (const int r = avformat_write_header(out, nullptr); r < 0) {
            m_reason = LibraryErrorText(r);
            return Fail("Failed to write the proxy file");
        }
        m_headerWritten = true;
        for (const auto& waiting : m_waitingSound) {
            if (!Sound(waiting.get())) {
                return false;
            }
        }
        m_waitingSound.clear();
        m_scaled->format = m_format;
        m_scaled->width = m_width;
        m_scaled->height = m_height;
        if (av_frame_get_buffer(m_scaled.get(), 0) < 0) {
            m_reason = "out of memory";
            return Fail("Failed to make the proxy");
        }
        return true;
    }

    bool Decode(const AVPacket* packet) {
        if (const int sent = avcodec_send_packet(m_decoder.get(), packet);
            sent < 0 && sent != AVERROR_EOF) {
            // A damaged packet costs its picture, as it would in the camera's own decoding.
            return true;
        }
        for (;;) {
            const int r = avcodec_receive_frame(m_decoder.get(), m_picture.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return true;
            }
            if (r < 0) {
                return true;
            }
            const bool ok = Picture(*m_picture);
            av_frame_unref(m_picture.get());
            if (!ok) {
                return false;
            }
        }
    }

    bool Picture(const AVFrame& picture) {
        if (!m_headerWritten && !OpenProxy(picture)) {
            return false;
        }
        std::int64_t pts = picture.best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) {
            // Counted on from the last one, as the capture counts pictures without a time.
            pts = m_lastPts == AV_NOPTS_VALUE
                      ? m_origin
                      : m_lastPts + av_rescale_q(1, av_inv_q(m_rate), m_videoIn->time_base);
        }
        if (m_lastPts != AV_NOPTS_VALUE && pts <= m_lastPts) {
            return true;  // the encoder takes only later times; the capture shows one of them
        }
        if (av_frame_make_writable(m_scaled.get()) < 0) {
            m_reason = "out of memory";
            return Fail("Failed to make the proxy");
        }
        m_scaler.reset(sws_getCachedContext(m_scaler.release(), picture.width, picture.height,
                                            static_cast<AVPixelFormat>(picture.format), m_width,
                                            m_height, m_format, SWS_FAST_BILINEAR, nullptr, nullptr,
                                            nullptr));
        if (!m_scaler || sws_scale(m_scaler.get(), picture.data, picture.linesize, 0,
                                   picture.height, m_scaled->data, m_scaled->linesize) <= 0) {
            m_reason = "its pictures cannot be scaled";
            return Fail("Failed to make the proxy");
        }
        if (m_lastPts == AV_NOPTS_VALUE && pts > m_origin) {
            // The camera counts its frames from the stream's start, which a picture that did
            // not decode may hold: the proxy starts there too, with the first picture.
            m_scaled->pts = m_origin;
            if (!Encode(m_scaled.get())) {
                return false;
            }
        }
        m_scaled->pts = pts;
        m_lastPts = pts;
        return Encode(m_scaled.get());
    }

    bool Encode(const AVFrame* frame) {
        if (const int sent = avcodec_send_frame(m_encoder.get(), frame); sent < 0) {
            m_reason = LibraryErrorText(sent);
            return Fail("Failed to encode the proxy");
        }
        for (;;) {
            const int r = avcodec_receive_packet(m_encoder.get(), m_packetOut.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return true;
            }
            if (r < 0) {
                m_reason = LibraryErrorText(r);
                return Fail("Failed to encode the proxy");
            }
            av_packet_rescale_ts(m_packetOut.get(), m_encoder->time_base, m_videoOut->time_base);
            m_packetOut->stream_index = m_videoOut->index;
            if (!Mux(m_packetOut.get())) {
                return false;
            }
        }
    }

    // Sound that comes before the first picture waits until the file's header is written.
    bool Sound(AVPacket* packet) {
        if (!m_headerWritten) {
            if (AVPacket* copy = av_packet_clone(packet)) {
                m_waitingSound.emplace_back(copy);
            }
            return true;
        }
        if (!m_audioOut) {
            return true;  // the muxer takes no sound of that kind
        }
        av_packet_rescale_ts(packet, m_audioIn->time_base, m_audioOut->time_base);
        packet->stream_index = m_audioOut->index;
        return Mux(packet);
    }

    bool Mux(AVPacket* packet) {
        if (const int r = av_interleaved_write_frame(m_out.get(), packet); r < 0) {
            m_reason = LibraryErrorText(r);
            return Fail("Failed to write the proxy file");
        }
        return true;
    }

    const std::string m_camera;
    const ProxySettings m_settings;
    std::string m_reason;
    ProxyFile m_file;
    std::unique_ptr<AVFormatContext, FfmpegFree> m_in;
    std::unique_ptr<AVCodecContext, FfmpegFree> m_decoder;
    std::unique_ptr<AVCodecContext, FfmpegFree> m_encoder;
    std::unique_ptr<SwsContext, FfmpegFree> m_scaler;
    std::unique_ptr<AVPacket, FfmpegFree> m_packet;
    std::unique_ptr<AVPacket, FfmpegFree> m_packetOut{av_packet_alloc()};
    std::unique_ptr<AVFrame, FfmpegFree> m_picture;
    std::unique_ptr<AVFrame, FfmpegFree> m_scaled;
    std::vector<std::unique_ptr<AVPacket, FfmpegFree>> m_waitingSound;
    // Declared after the file whose I/O it writes through, so it goes first.
    std::unique_ptr<AVFormatContext, OutputFree> m_out;
    AVStream* m_videoIn = nullptr;
    AVStream* m_audioIn = nullptr;
    AVStream* m_videoOut = nullptr;
    AVStream* m_audioOut = nullptr;
    AVRational m_rate{0, 1};
    std::int64_t m_origin = 0;
    std::int64_t m_lastPts = AV_NOPTS_VALUE;
    AVPixelFormat m_format = AV_PIX_FMT_YUV420P;
    int m_width = 0;
    int m_height = 0;
    bool m_headerWritten = false;
};

}  // namespace

std::string ProxyFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') {
        return (fs::path(cache) / "zorvo" / "proxies").string();
    }
    const char* home = std::getenv("HOME");
    return home && home[0] ? (fs::path(home) / ".cache" / "zorvo" / "proxies").string()
                           : std::string();
}

std::string ProxyPathFor(const std::string& cameraPath) {
    std::error_code error;
    const fs::path absolute = fs::absolute(cameraPath, error);
    struct stat status {};
    const std::string folder = ProxyFolder();
    if (error || folder.empty() || ::stat(absolute.c_str(), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return {};
    }
    const std::string key =
        Format("%s\n%lld\n%lld.%09ld", absolute.lexically_normal().c_str(),
               static_cast<long long>(status.st_size),
               static_cast<long long>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec);
    return (fs::path(folder) / Format("%s-%016llx%s", absolute.stem().c_str(),
                                      static_cast<unsigned long long>(Fnv1a(key)), kProxySuffix))
        .string();
}

bool MakeProxy(const std::string& cameraPath, const std::string& proxyPath,
               const std::atomic<bool>& stop, const std::function<void(double)>& progress,
               const ProxySettings& settings) {
    std::error_code error;
    fs::create_directories(fs::path(proxyPath).parent_path(), error);
    if (error) {
        PostLog("Error (Proxy): Failed to create the proxy folder.\n");
        PostContext("Proxy", Format("folder '%s': %s", fs::path(proxyPath).parent_path().c_str(),
                                    error.message().c_str()));
        return false;
    }
    RemoveStaleTemporaries(proxyPath, kPartialTag);
    ProxyMaker maker(cameraPath, settings);
    return maker.Run(proxyPath, stop, progress);
}

bool RemoveProxies(std::size_t& removed, std::uint64_t& bytes) {
    removed = 0;
    bytes = 0;
    const std::string folder = ProxyFolder();
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) {
        return true;
    }
    bool all = true;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const auto endsWith = [&](const std::string& suffix) {
            return name.size() > suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        const bool partial =
            name.find(std::string(kProxySuffix) + kPartialTag) != std::string::npos;
        if (!entry.is_regular_file(error) || !(endsWith(kProxySuffix) || partial)) {
            continue;
        }
        const std::uintmax_t size = entry.file_size(error);
        if (::unlink(entry.path().c_str()) != 0) {
            PostQuoted("Error (Proxy): Failed to remove the proxy '", entry.path().string(),
                       Format("': %s.\n", std::strerror(errno)));
            all = false;
            continue;
        }
        ++removed;
        bytes += error ? 0 : size;
    }
    return all;
}

}  // namespace zorvo
