#include "support/TestVideo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <numeric>
#include <vector>

#include <unistd.h>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"

namespace zorvo::test {

namespace {

// The encoder and its settings: B-frames where the codec has them, and a fine fixed quantiser
// that keeps the band edges sharp.
std::string EncoderOptions(TestCodec codec) {
    switch (codec) {
        case TestCodec::Mpeg4:
            return "-c:v mpeg4 -pix_fmt yuv420p -bf 0 -q:v 2";
        case TestCodec::MjpegYuvj420p:
            return "-c:v mjpeg -pix_fmt yuvj420p -q:v 2";
        case TestCodec::MjpegYuvj422p:
            return "-c:v mjpeg -pix_fmt yuvj422p -q:v 2";
        case TestCodec::H264:
            // Key frames exactly every interval, so seeking has somewhere to land.
            return "-c:v libx264 -pix_fmt yuv420p -preset ultrafast -qp 8 -bf 2 "
                   "-x264-params scenecut=0:min-keyint=1";
        case TestCodec::Mpeg2:
            return "-c:v mpeg2video -pix_fmt yuv420p -bf 2 -q:v 2";
        case TestCodec::Ffv1:
            return "-c:v ffv1 -pix_fmt yuv420p";
        case TestCodec::Ffv1Bgr0:
            return "-c:v ffv1 -pix_fmt bgr0";
    }
    return "";
}

// Whether source row `row` is white in the frame that shows `number`.
bool BandIsWhite(int number, int row, int bandHeight) {
    const int unit = row / bandHeight % kBandCycle;
    if (unit < 8) {
        return unit != 0 && (unit <= 3 || unit == 7);  // guard, sync, guard
    }
    // Data from unit 8 on, two units a bit; 1 starts white.
    const int bit = (number >> (kNumberBits - 1 - (unit - 8) / 2)) & 1;
    return (unit % 2 == 0) == (bit == 1);
}

// Paints one source picture, packed BGR, top row first.
void Paint(const TestVideo& video, int index, int bandHeight, std::string& bgr) {
    const int number = video.firstNumber + index;
    bgr.resize(static_cast<size_t>(video.width) * video.height * 3);
    for (int y = 0; y < video.height; ++y) {
        auto* row =
            reinterpret_cast<std::uint8_t*>(bgr.data()) + static_cast<size_t>(y) * video.width * 3;
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

// ctest runs every test in a process of its own, and the tests of one program often make the
// same videos: each is made once per build of the program, under build/bin/test-media, and
// copied from there. A rebuilt program starts afresh, so a changed maker is never served stale.
std::string CachedVideoPath(const std::string& path, const TestVideo& video) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path program = fs::read_symlink("/proc/self/exe", ignored);
    const auto built = fs::last_write_time(program, ignored).time_since_epoch().count();
    const fs::path folder = fs::path(BinDir()) / "test-media" /
                            (program.filename().string() + "-" + std::to_string(built));
    if (!fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder.parent_path(), ignored)) {
            if (entry.path() != folder &&
                entry.path().filename().string().starts_with(program.filename().string() + "-")) {
                fs::remove_all(entry.path(), ignored);
            }
        }
        fs::create_directories(folder, ignored);
    }
    const std::string name =
        std::to_string(static_cast<int>(video.codec)) + "_" +
        std::to_string(static_cast<int>(video.pattern)) + "_" + std::to_string(video.width) + "x" +
        std::to_string(video.height) + "_" + std::to_string(video.rateNum) + "_" +
        std::to_string(video.rateDen) + "_" + std::to_string(video.frameCount) + "_" +
        std::to_string(video.keyFrameInterval) + "_" + std::to_string(video.firstNumber) + "_" +
        std::to_string(video.dropEvery);
    return (folder / (name + fs::path(path).extension().string())).string();
}

}  // namespace

bool WriteTestVideo(const std::string& path, const TestVideo& video, std::string* error) {
    if (video.width <= 0 || video.height <= 0 || video.rateNum <= 0 || video.rateDen <= 0 ||
        video.frameCount < 0) {
        if (error) {
            *error = "invalid test video parameters";
        }
        return false;
    }
    namespace fs = std::filesystem;
    const std::string cached = CachedVideoPath(path, video);
    std::error_code failed;
    if (fs::copy_file(cached, path, fs::copy_options::overwrite_existing, failed)) {
        return true;
    }
    // Made beside the cache entry and renamed into place, so a parallel test never sees half.
    const std::string made =
        cached + "." + std::to_string(::getpid()) + fs::path(path).extension().string();
    const int bandHeight = std::max(3, video.height / 68);
    // Raw pictures in on standard input; point sampling to the encoder's format, one thread.
    std::vector<std::string> argv =
        Words("ffmpeg -nostdin -v error -y -f rawvideo -pixel_format bgr24 -video_size " +
              std::to_string(video.width) + "x" + std::to_string(video.height) + " -framerate " +
              std::to_string(video.rateNum) + "/" + std::to_string(video.rateDen) +
              " -i - -sws_flags neighbor -threads 1 -g " + std::to_string(video.keyFrameInterval) +
              " " + EncoderOptions(video.codec));
    if (video.dropEvery > 1) {
        const std::string every = std::to_string(video.dropEvery);
        argv.insert(argv.end(), {"-vf", "select=not(eq(mod(n\\," + every + ")\\,1))", "-fps_mode",
                                 "passthrough"});
    }
    argv.push_back(made);
    int painted = 0;
    const ProgramRun run = RunProgram(argv, [&](std::string& bgr) {
        if (painted == video.frameCount) {
            return false;
        }
        Paint(video, painted++, bandHeight, bgr);
        return true;
    });
    if (run.status != 0) {
        if (error) {
            *error = "ffmpeg cannot write " + path + ": " + run.err;
        }
        fs::remove(made, failed);
        return false;
    }
    fs::rename(made, cached, failed);
    if (!failed) {
        fs::copy_file(cached, path, fs::copy_options::overwrite_existing, failed);
    }
    if (failed && error) {
        *error = "cannot copy " + cached + " to " + path + ": " + failed.message();
    }
    return !failed;
}

namespace {

struct Run {
    bool white;
    int length;
};

// Units of the complete runs starting at `first` and walking by `step` (+1 or -1), up to
// `wanted` units; stops before the partial runs at either end of the picture.
std::optional<std::vector<bool>> CollectUnits(const std::vector<Run>& runs, int first, int step,
                                              double unit, int wanted) {
    std::vector<bool> units;
    for (int i = first;
         i > 0 && i + 1 < static_cast<int>(runs.size()) && static_cast<int>(units.size()) < wanted;
         i += step) {
        const long count = std::lround(runs[i].length / unit);
        if (count < 1 || count > 2) {
            // Inside the code no run is longer than two units; anything else is not our code.
            return std::nullopt;
        }
        units.insert(units.end(), count, runs[i].white);
    }
    return units;
}

// Decodes a code read top to bottom; every complete sync gives one candidate.
void DecodeRuns(const std::vector<Run>& runs, std::vector<int>& numbers) {
    constexpr int kDataUnits = 2 * kNumberBits;
    for (int i = 1; i + 2 < static_cast<int>(runs.size()); ++i) {
        // The sync: a white run and a black one of about the same length.
        const int white = runs[i].length;
        const int black = runs[i + 1].length;
        if (!runs[i].white || runs[i + 1].white || std::min(white, black) < 4 ||
            std::max(white, black) > 1.5 * std::min(white, black)) {
            continue;
        }
        const double unit = (white + black) / 6.0;
        // The guards beside the sync are one or two units: clearly shorter than the sync.
        if (runs[i - 1].length > 2.5 * unit || runs[i + 2].length > 2.5 * unit) {
            continue;
        }
        // Forward: white guard, then this period's data. Backward: black guard, then the
        // previous period's data from its end; both periods carry the same number.
        const auto forward = CollectUnits(runs, i + 2, +1, unit, 1 + kDataUnits);
        const auto backward = CollectUnits(runs, i - 1, -1, unit, 1 + kDataUnits);
        // A side that reaches the edge of the picture only contributes what it saw.
        if (!forward || !backward || (!forward->empty() && !forward->front()) ||
            (!backward->empty() && backward->front())) {
            continue;
        }
        const int fromFront = std::clamp(static_cast<int>(forward->size()) - 1, 0, kDataUnits);
        const int fromBack = std::clamp(static_cast<int>(backward->size()) - 1, 0, kDataUnits);
        if (fromFront + fromBack < kDataUnits) {
            continue;
        }
        std::vector<int> data(kDataUnits, -1);
        for (int k = 0; k < fromFront; ++k) {
            data[k] = (*forward)[1 + k];
        }
        bool consistent = true;
        for (int j = 0; j < fromBack; ++j) {
            int& value = data[kDataUnits - 1 - j];
            consistent = consistent && (value < 0 || value == (*backward)[1 + j]);
            value = (*backward)[1 + j];
        }
        // Each bit is a pair of different units.
        int number = 0;
        for (int bit = 0; bit < kNumberBits; ++bit) {
            consistent = consistent && data[2 * bit] != data[2 * bit + 1];
            number = number * 2 + data[2 * bit];
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
    if (votes.empty()) {
        return std::nullopt;
    }
    return std::max_element(votes.begin(), votes.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
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
        profile[static_cast<size_t>(line)] =
            std::accumulate(row, row + bitmap.Stride(), 0.0) / bitmap.Stride();
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
    const bool up = upright.size() >= flipped.size();
    if (const auto number = MostCommon(up ? upright : flipped)) {
        return FrameMark{*number, up};
    }
    return std::nullopt;
}

}  // namespace zorvo::test
