#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/LogCollector.h"
#include "render/Project.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo::test {

// Frame numbers shown by test videos wrap at this.
constexpr int kNumberRange = 1 << kNumberBits;

// Counts the frames handed to the preview.
class CountingSink : public FrameSink {
  public:
    void ShowFrame(const std::uint8_t*, int, int) override { ++frames; }
    std::atomic<int> frames{0};
};

// What a build job posted.
struct BuildResult {
    bool succeeded = false;
    std::vector<std::string> texts;
    int finished = 0;
    std::uint64_t decodedPictures = 0;
};

// Runs a job (CProject's arguments: a render or a storyboard) to its finish message, or until
// `stop` holds (then destroying the job stops it), and returns what it posted.
template <typename... Args>
BuildResult RunJob(const std::function<bool()>& stop, Args&&... args) {
    LogCollector log;
    BuildResult result;
    {
        CProject job(std::forward<Args>(args)...);
        for (int i = 0; i < 120000 && log.BuildFinishedCount() == 0 && !(stop && stop()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        result.succeeded = job.Succeeded();
        result.decodedPictures = job.DecodedPictures();
    }
    result.texts = log.Texts();
    result.finished = log.BuildFinishedCount();
    return result;
}

inline BuildResult RunBuild(const std::string& scriptPath, FrameSink* sink = nullptr,
                            DecoderPool::Limits decoders = {}) {
    return RunJob({}, scriptPath, sink, AVIWriter::kSplitBytes, std::string(), decoders);
}

// Writes a script in which "{dir}" stands for the folder; returns its path.
inline std::string WriteScript(const TempDir& dir, const std::string& name, std::string body) {
    for (size_t at = body.find("{dir}"); at != std::string::npos; at = body.find("{dir}", at)) {
        body.replace(at, 5, dir.Path().string());
    }
    const std::string path = dir.File(name + ".txt");
    EXPECT_TRUE(WriteTextFile(path, body));
    return path;
}

// The file as libavformat reads it; a file it cannot read fails the test and reads as empty.
inline MediaContents ReadBack(const std::string& path) {
    MediaContents contents;
    std::string error;
    EXPECT_TRUE(ReadMedia(path, contents, error)) << error;
    return contents;
}

// A camera whose frame k shows the number first + k.
inline std::string MakeCamera(const TempDir& dir, const std::string& name, int first, int frames,
                              int width = 160, int height = 240, int rateNum = 25, int rateDen = 1,
                              TestCodec codec = TestCodec::Mpeg4) {
    TestVideo video;
    video.codec = codec;
    video.width = width;
    video.height = height;
    video.rateNum = rateNum;
    video.rateDen = rateDen;
    video.frameCount = frames;
    video.firstNumber = first;
    video.keyFrameInterval = 25;
    const std::string path = dir.File(name);
    std::string error;
    EXPECT_TRUE(WriteTestVideo(path, video, &error)) << error;
    return path;
}

// Reads the number a picture region shows (rows from the top), or -1.
inline int NumberIn(const std::vector<std::uint8_t>& topDown, int width, int left, int right,
                    int height) {
    FrameBitmap region;
    if (!region.Allocate(right - left, height)) {
        return -1;
    }
    for (int y = 0; y < height; ++y) {
        // FrameBitmap rows are bottom-up.
        const std::uint8_t* from = topDown.data() + (static_cast<size_t>(y) * width + left) * 3;
        std::copy(from, from + static_cast<size_t>(right - left) * 3, region.Row(height - 1 - y));
    }
    const auto mark = ReadFrameMark(region);
    return mark && mark->upright ? mark->number : -1;
}

// The frame count of a finish line "Done in %f secs [%i min(s) %.2i] for %i frames.\n", or -1
// when the text is not one.
inline int DoneLineFrames(const std::string& text) {
    double seconds = 0;
    int minutes = 0;
    int rest = 0;
    int frames = -1;
    int end = 0;
    const size_t dot = text.find('.');
    const int read = std::sscanf(text.c_str(), "Done in %lf secs [%d min(s) %d] for %d frames.%n",
                                 &seconds, &minutes, &rest, &frames, &end);
    const bool sixDecimals = dot != std::string::npos && text.find(' ', dot) == dot + 7;
    return read == 4 && text.substr(end) == "\n" && sixDecimals && rest >= 0 && rest < 60 ? frames
                                                                                          : -1;
}

// Two cameras whose frame k shows k and 1000 + k, and a song of 24 s, made once for each suite
// that uses them.
class RenderSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<TempDir>();
        MakeCamera(*dir, "cam1.avi", 0, 700);
        MakeCamera(*dir, "cam2.avi", 1000, 700);
        song = PatternBytes(600 * 7056, 7);
        ASSERT_TRUE(WriteWaveFile(dir->File("song.wav"), WaveFormat{}, song));
    }
    static void TearDownTestSuite() { dir.reset(); }

    static std::string Script(const std::string& name, const std::string& body) {
        return WriteScript(*dir, name, body);
    }
    static std::string Output(const std::string& name) { return dir->File(name + ".avi"); }

    static inline std::unique_ptr<TempDir> dir;
    static inline std::vector<std::uint8_t> song;
};

}  // namespace zorvo::test
