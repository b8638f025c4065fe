#include "support/TestVideo.h"

#include "support/Owned.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace zorvo::test {

namespace {

bool Fail(std::string* error, const std::string& reason, int code = 0) {
    if (error) {
        *error = reason;
        if (code < 0) {
            *error += ": " + ErrorText(code);
        }
    }
    return false;
}

// Test runs stay readable: encoders and decoders report only real errors.
void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

struct EncoderChoice {
    const char* name;
    AVPixelFormat format;
};

EncoderChoice ChooseEncoder(TestCodec codec) {
    switch (codec) {
        case TestCodec::Mpeg4:
            return {"mpeg4", AV_PIX_FMT_YUV420P};
        case TestCodec::MjpegYuvj420p:
            return {"mjpeg", AV_PIX_FMT_YUVJ420P};
        case TestCodec::MjpegYuvj422p:
            return {"mjpeg", AV_PIX_FMT_YUVJ422P};
        case TestCodec::H264:
            return {"libx264", AV_PIX_FMT_YUV420P};
        case TestCodec::Mpeg2:
            return {"mpeg2video", AV_PIX_FMT_YUV420P};
        case TestCodec::Ffv1:
            return {"ffv1", AV_PIX_FMT_YUV420P};
        case TestCodec::Ffv1Bgr0:
            return {"ffv1", AV_PIX_FMT_0RGB32};
    }
    return {"mpeg4", AV_PIX_FMT_YUV420P};
}

void Configure(AVCodecContext& c, TestCodec codec, const TestVideo& video) {
    c.width = video.width;
    c.height = video.height;
    c.time_base = AVRational{video.rateDen, video.rateNum};
    c.framerate = AVRational{video.rateNum, video.rateDen};
    c.gop_size = video.keyFrameInterval;
    c.max_b_frames = 0;
    switch (codec) {
        case TestCodec::H264:
            c.max_b_frames = 2;
            av_opt_set(c.priv_data, "preset", "ultrafast", 0);
            av_opt_set(c.priv_data, "qp", "8", 0);
            // One key frame every interval, so seeking has somewhere to land.
            av_opt_set(c.priv_data, "x264-params", "scenecut=0:min-keyint=1", 0);
            break;
        case TestCodec::Mpeg2:
            c.max_b_frames = 2;
            [[fallthrough]];
        case TestCodec::Mpeg4:
        case TestCodec::MjpegYuvj420p:
        case TestCodec::MjpegYuvj422p:
            // A fine fixed quantiser keeps the band edges sharp.
            c.flags |= AV_CODEC_FLAG_QSCALE;
            c.global_quality = FF_QP2LAMBDA * 2;
            break;
        case TestCodec::Ffv1:
        case TestCodec::Ffv1Bgr0:
            break;
    }
}

// Paints one source picture, packed BGR, top row first.
void Paint(const TestVideo& video, int index, int bandHeight, std::vector<std::uint8_t>& bgr) {
    const int number = video.firstNumber + index;
    for (int y = 0; y < video.height; ++y) {
        std::uint8_t* row = bgr.data() + static_cast<size_t>(y) * video.width * 3;
        if (video.pattern == TestPattern::FrameNumber) {
            std::fill(row, row + video.width * 3, BandIsWhite(number, y, bandHeight) ? 255 : 0);
            continue;
        }
        for (int x = 0; x < video.width; ++x) {
            row[3 * x] = 128;
            row[3 * x + 1] = static_cast<std::uint8_t>((4 * y) & 0xFF);
            row[3 * x + 2] = static_cast<std::uint8_t>((4 * x) & 0xFF);
        }
    }
}

}  // namespace

int DefaultBandHeight(int height) {
    return std::max(3, height / 68);
}

bool BandIsWhite(int number, int row, int bandHeight) {
    const int unit = (row / std::max(1, bandHeight)) % kBandCycle;
    if (unit == 0) {
        return false;
    }
    if (unit <= 3) {
        return true;
    }
    if (unit <= 6) {
        return false;
    }
    if (unit == 7) {
        return true;
    }
    const int data = unit - 8;
    const int bit = (number >> (kNumberBits - 1 - data / 2)) & 1;
    const bool firstHalf = data % 2 == 0;
    return firstHalf == (bit == 1);
}

bool WriteTestVideo(const std::string& path, const TestVideo& video, std::string* error) {
    QuietLibraries();
    if (video.width <= 0 || video.height <= 0 || video.rateNum <= 0 || video.rateDen <= 0 ||
        video.frameCount < 0) {
        return Fail(error, "invalid test video parameters");
    }
    const EncoderChoice choice = ChooseEncoder(video.codec);
    const AVCodec* codec = avcodec_find_encoder_by_name(choice.name);
    if (!codec) {
        return Fail(error, std::string("no encoder ") + choice.name);
    }

    AVFormatContext* rawOutput = nullptr;
    int result = avformat_alloc_output_context2(&rawOutput, nullptr, nullptr, path.c_str());
    if (result < 0 || !rawOutput) {
        return Fail(error, "no container for " + path, result);
    }
    OwnedOutput output(rawOutput);
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    Owned<AVCodecContext> encoder(avcodec_alloc_context3(codec));
    if (!stream || !encoder) {
        return Fail(error, "out of memory");
    }
    Configure(*encoder, video.codec, video);
    encoder->pix_fmt = choice.format;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if ((result = avcodec_open2(encoder.get(), codec, nullptr)) < 0) {
        return Fail(error, std::string("cannot open encoder ") + choice.name, result);
    }
    if ((result = avcodec_parameters_from_context(stream->codecpar, encoder.get())) < 0) {
        return Fail(error, "cannot describe the stream", result);
    }
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    stream->r_frame_rate = encoder->framerate;
    if (!(output->oformat->flags & AVFMT_NOFILE) &&
        (result = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        return Fail(error, "cannot create " + path, result);
    }
    if ((result = avformat_write_header(output.get(), nullptr)) < 0) {
        return Fail(error, "cannot write the header", result);
    }

    Owned<AVFrame> frame(av_frame_alloc());
    Owned<AVPacket> packet(av_packet_alloc());
    if (!frame || !packet) {
        return Fail(error, "out of memory");
    }
    frame->format = choice.format;
    frame->width = video.width;
    frame->height = video.height;
    if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
        return Fail(error, "cannot allocate a picture", result);
    }
    Owned<SwsContext> scaler(sws_getContext(video.width, video.height, AV_PIX_FMT_BGR24,
                                            video.width, video.height, choice.format, SWS_POINT,
                                            nullptr, nullptr, nullptr));
    if (!scaler) {
        return Fail(error, "cannot convert to the encoder's format");
    }
    const int bandHeight =
        video.bandHeight > 0 ? video.bandHeight : DefaultBandHeight(video.height);
    std::vector<std::uint8_t> bgr(static_cast<size_t>(video.width) * video.height * 3);
    for (int i = 0; i < video.frameCount; ++i) {
        if ((result = av_frame_make_writable(frame.get())) < 0) {
            return Fail(error, "cannot write a picture", result);
        }
        Paint(video, i, bandHeight, bgr);
        const std::uint8_t* source[1] = {bgr.data()};
        const int sourceStride[1] = {video.width * 3};
        sws_scale(scaler.get(), source, sourceStride, 0, video.height, frame->data,
                  frame->linesize);
        frame->pts = i;
        if (encoder->flags & AV_CODEC_FLAG_QSCALE) {
            frame->quality = encoder->global_quality;
        }
        if ((result = EncodeAndWrite(encoder.get(), output.get(), stream, frame.get(),
                                     packet.get())) < 0) {
            return Fail(error, "encoding failed", result);
        }
    }
    if ((result = EncodeAndWrite(encoder.get(), output.get(), stream, nullptr, packet.get())) < 0) {
        return Fail(error, "flushing the encoder failed", result);
    }
    if ((result = av_write_trailer(output.get())) < 0) {
        return Fail(error, "cannot finish " + path, result);
    }
    return true;
}

namespace {

struct Run {
    bool white;
    int length;
};

// Units of the complete runs starting at `first` and walking by `step` (+1 or -1), up to
// `wanted` units; stops before the partial runs at either end of the picture.
std::vector<bool> CollectUnits(const std::vector<Run>& runs, int first, int step, double unit,
                               int wanted, bool& valid) {
    std::vector<bool> units;
    valid = true;
    for (int i = first;
         i > 0 && i + 1 < static_cast<int>(runs.size()) && static_cast<int>(units.size()) < wanted;
         i += step) {
        const long count = std::lround(runs[i].length / unit);
        if (count < 1 || count > 2) {
            // Inside the code no run is longer than two units; anything else is not our code.
            valid = false;
            break;
        }
        for (long k = 0; k < count; ++k) {
            units.push_back(runs[i].white);
        }
    }
    return units;
}

// Decodes a code read top to bottom; every complete sync gives one candidate.
void DecodeRuns(const std::vector<Run>& runs, std::vector<int>& numbers) {
    constexpr int kDataUnits = 2 * kNumberBits;
    for (int i = 1; i + 2 < static_cast<int>(runs.size()); ++i) {
        const Run& white = runs[i];
        const Run& black = runs[i + 1];
        if (!white.white || black.white) {
            continue;
        }
        const double larger = std::max(white.length, black.length);
        const double smaller = std::min(white.length, black.length);
        if (smaller < 4 || larger > 1.5 * smaller) {
            continue;
        }
        const double unit = (white.length + black.length) / 6.0;
        // The guards beside the sync are one or two units: clearly shorter than the sync.
        if (runs[i - 1].length > 2.5 * unit || runs[i + 2].length > 2.5 * unit) {
            continue;
        }
        bool forwardValid = false;
        bool backwardValid = false;
        // Forward: white guard, then this period's data. Backward: black guard, then the
        // previous period's data from its end; both periods carry the same number.
        std::vector<bool> forward =
            CollectUnits(runs, i + 2, +1, unit, 1 + kDataUnits, forwardValid);
        std::vector<bool> backward =
            CollectUnits(runs, i - 1, -1, unit, 1 + kDataUnits, backwardValid);
        // A side that reaches the edge of the picture only contributes what it saw.
        if (!forwardValid || !backwardValid || (!forward.empty() && !forward[0]) ||
            (!backward.empty() && backward[0])) {
            continue;
        }
        const int fromFront = std::clamp(static_cast<int>(forward.size()) - 1, 0, kDataUnits);
        const int fromBack = std::clamp(static_cast<int>(backward.size()) - 1, 0, kDataUnits);
        if (fromFront + fromBack < kDataUnits) {
            continue;
        }
        std::vector<int> data(kDataUnits, -1);
        bool consistent = true;
        for (int k = 0; k < fromFront; ++k) {
            data[k] = forward[1 + k] ? 1 : 0;
        }
        for (int j = 0; j < fromBack; ++j) {
            const int k = kDataUnits - 1 - j;
            const int value = backward[1 + j] ? 1 : 0;
            if (data[k] >= 0 && data[k] != value) {
                consistent = false;
            }
            data[k] = value;
        }
        int number = 0;
        for (int bit = 0; bit < kNumberBits && consistent; ++bit) {
            const int first = data[2 * bit];
            const int second = data[2 * bit + 1];
            if (first == second) {
                consistent = false;
            }
            number = number * 2 + first;
        }
        if (consistent) {
            numbers.push_back(number);
        }
    }
}

std::vector<Run> ToRuns(const std::vector<double>& profile, double threshold) {
    std::vector<Run> runs;
    for (double value : profile) {
        const bool white = value >= threshold;
        if (runs.empty() || runs.back().white != white) {
            runs.push_back({white, 0});
        }
        ++runs.back().length;
    }
    return runs;
}

std::optional<int> MostCommon(const std::vector<int>& numbers) {
    std::map<int, int> votes;
    for (int n : numbers) {
        ++votes[n];
    }
    std::optional<int> best;
    int bestVotes = 0;
    for (const auto& [number, count] : votes) {
        if (count > bestVotes) {
            best = number;
            bestVotes = count;
        }
    }
    return best;
}

}  // namespace

std::optional<FrameMark> ReadFrameMark(const FrameBitmap& bitmap) {
    if (bitmap.Empty()) {
        return std::nullopt;
    }
    // Brightness of every displayed line, top first (row 0 of the bitmap is the bottom line).
    std::vector<double> profile(static_cast<size_t>(bitmap.Height()));
    for (int line = 0; line < bitmap.Height(); ++line) {
        const std::uint8_t* row = bitmap.Row(bitmap.Height() - 1 - line);
        long sum = 0;
        for (size_t k = 0; k < bitmap.Stride(); ++k) {
            sum += row[k];
        }
        profile[static_cast<size_t>(line)] = static_cast<double>(sum) / bitmap.Stride();
    }
    const auto [low, high] = std::minmax_element(profile.begin(), profile.end());
    if (*high - *low < 64) {
        return std::nullopt;
    }
    const double threshold = (*low + *high) / 2;

    std::vector<int> upright;
    DecodeRuns(ToRuns(profile, threshold), upright);
    std::vector<int> flipped;
    std::reverse(profile.begin(), profile.end());
    DecodeRuns(ToRuns(profile, threshold), flipped);
    if (upright.size() >= flipped.size()) {
        if (const auto number = MostCommon(upright)) {
            return FrameMark{*number, true};
        }
        return std::nullopt;
    }
    return FrameMark{*MostCommon(flipped), false};
}

}  // namespace zorvo::test
