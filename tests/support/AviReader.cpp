#include "support/AviReader.h"

#include "support/Owned.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace zorvo::test {
namespace {

// Takes every picture the decoder has ready.
bool ReceivePictures(AVCodecContext* decoder, AVFrame* frame, AviContents& contents,
                     std::string& error) {
    for (;;) {
        const int result = avcodec_receive_frame(decoder, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            error = "decoding failed: " + ErrorText(result);
            return false;
        }
        const bool rgb = frame->format == AV_PIX_FMT_RGB24;  // as PNG files hold it
        if (frame->format != AV_PIX_FMT_BGR24 && !rgb) {
            error = std::string("unexpected pixel format ") +
                    av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
            av_frame_unref(frame);
            return false;
        }
        const std::size_t rowBytes = static_cast<std::size_t>(frame->width) * 3;
        std::vector<std::uint8_t> picture(rowBytes * static_cast<std::size_t>(frame->height));
        for (int y = 0; y < frame->height; ++y) {
            // The line size is negative when the decoder flipped a bottom-up picture.
            const std::uint8_t* row =
                frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
            std::copy(row, row + rowBytes, picture.begin() + rowBytes * y);
            for (std::size_t x = 0; rgb && x < rowBytes; x += 3) {
                std::swap(picture[rowBytes * y + x], picture[rowBytes * y + x + 2]);
            }
        }
        contents.pictures.push_back(std::move(picture));
        av_frame_unref(frame);
    }
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, got);
        }
        const int status = ::pclose(pipe);
        if (status != 0) {
            output += "[exit status " + std::to_string(status) + "]\n";
        }
    } else {
        output = "[cannot run " + command + "]\n";
    }
    return output;
}

bool WalkChunks(const std::vector<std::uint8_t>& file, std::uint64_t begin, std::uint64_t end,
                const std::string& parent, std::vector<RiffChunk>& chunks, std::string& error) {
    std::uint64_t at = begin;
    while (at + 8 <= end) {
        RiffChunk chunk;
        chunk.id = FourCCAt(file, at);
        chunk.size = U32At(file, at + 4);
        chunk.offset = at;
        chunk.parent = parent;
        const std::uint64_t bodyEnd = at + 8 + chunk.size;
        if (bodyEnd > end) {
            error = "chunk '" + chunk.id + "' at " + std::to_string(at) + " runs past its list";
            return false;
        }
        const bool list = chunk.id == "RIFF" || chunk.id == "LIST";
        if (list) {
            chunk.listType = FourCCAt(file, at + 8);
        } else {
            chunk.body.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                              file.begin() + static_cast<std::ptrdiff_t>(bodyEnd));
        }
        const std::string type = chunk.listType;
        chunks.push_back(std::move(chunk));
        if (list && !WalkChunks(file, at + 12, bodyEnd, type, chunks, error)) {
            return false;
        }
        at = bodyEnd + (bodyEnd % 2 != 0 ? 1 : 0);
    }
    if (at < end) {
        error = "stray bytes at " + std::to_string(at) + " in list '" + parent + "'";
        return false;
    }
    return true;
}

}  // namespace

bool ReadAvi(const std::string& path, AviContents& contents, std::string& error) {
    contents = AviContents{};
    AVFormatContext* raw = nullptr;
    int result = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        error = "cannot open: " + ErrorText(result);
        return false;
    }
    const Owned<AVFormatContext> format(raw);
    if ((result = avformat_find_stream_info(format.get(), nullptr)) < 0) {
        error = "no stream info: " + ErrorText(result);
        return false;
    }
    Owned<AVCodecContext> decoder;
    int videoIndex = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* p = format->streams[i]->codecpar;
        AviStreamInfo info;
        info.type = p->codec_type == AVMEDIA_TYPE_VIDEO   ? "video"
                    : p->codec_type == AVMEDIA_TYPE_AUDIO ? "audio"
                                                          : "other";
        info.codec = avcodec_get_name(p->codec_id);
        info.width = p->width;
        info.height = p->height;
        info.sampleRate = p->sample_rate;
        info.channels = p->ch_layout.nb_channels;
        contents.streams.push_back(info);
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex < 0) {
            videoIndex = static_cast<int>(i);
            const AVCodec* codec = avcodec_find_decoder(p->codec_id);
            decoder.reset(avcodec_alloc_context3(codec));
            if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), p) < 0 ||
                avcodec_open2(decoder.get(), codec, nullptr) < 0) {
                error = "cannot open the video decoder";
                return false;
            }
        }
    }

    const Owned<AVPacket> packet(av_packet_alloc());
    const Owned<AVFrame> frame(av_frame_alloc());
    while ((result = av_read_frame(format.get(), packet.get())) >= 0) {
        const int index = packet->stream_index;
        bool ok = true;
        if (index == videoIndex) {
            ok = avcodec_send_packet(decoder.get(), packet.get()) >= 0 &&
                 ReceivePictures(decoder.get(), frame.get(), contents, error);
            if (!ok && error.empty()) {
                error = "the decoder refused a packet";
            }
        } else if (format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            contents.audio.insert(contents.audio.end(), packet->data, packet->data + packet->size);
        }
        av_packet_unref(packet.get());
        if (!ok) {
            return false;
        }
    }
    if (result != AVERROR_EOF) {
        error = "reading failed: " + ErrorText(result);
        return false;
    }
    if (decoder) {
        avcodec_send_packet(decoder.get(), nullptr);
        return ReceivePictures(decoder.get(), frame.get(), contents, error);
    }
    return true;
}

bool ReadRiffChunks(const std::string& path, std::vector<RiffChunk>& chunks, std::string& error) {
    chunks.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    return WalkChunks(file, 0, file.size(), "", chunks, error);
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::string FourCCAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    static_cast<void>(bytes.at(at + 3));  // throws past the end, like U32At
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    return std::string(begin, begin + 4);
}

bool FfmpegToolsAvailable() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") ==
           0;
}

std::string FfmpegToolWarnings(const std::string& path) {
    const std::string file = ShellQuoted(path);
    const std::string output =
        RunCommand("ffprobe -v warning " + file + " 2>&1") +
        RunCommand("ffmpeg -nostdin -v warning -i " + file + " -f null - 2>&1");
    // A PCM wave format has no channel mask, so ffmpeg notes the layout it assumes for every
    // such input, the song's own WAVE file included; that says nothing about the file.
    std::string warnings;
    std::size_t at = 0;
    while (at < output.size()) {
        std::size_t end = output.find('\n', at);
        end = end == std::string::npos ? output.size() : end + 1;
        const std::string line = output.substr(at, end - at);
        if (line.rfind("Guessed Channel Layout for Input Stream", 0) != 0) {
            warnings += line;
        }
        at = end;
    }
    return warnings;
}

}  // namespace zorvo::test
