#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/LogCollector.h"
#include "render/Project.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo::test {

// Counts the frames handed to the preview.
class CountingSink : public FrameSink {
  public:
    void ShowFrame(const std::uint8_t*, int width, int height) override {
        ++frames;
        lastWidth = width;
        lastHeight = height;
    }
    std::atomic<int> frames{0};
    std::atomic<int> lastWidth{0};
    std::atomic<int> lastHeight{0};
};

// Runs one build job to its finish message and returns what it posted.
struct BuildResult {
    bool succeeded = false;
    std::vector<LogMessage> messages;
    std::vector<std::string> texts;
    std::vector<int> upper;
    std::vector<int> lower;
    std::vector<std::string> statuses;
    int finished = 0;
    std::uint64_t decodedPictures = 0;
    std::uint64_t distinctPictures = 0;
};

inline BuildResult RunBuild(const std::string& scriptPath, FrameSink* sink = nullptr,
                            std::uint64_t splitBytes = AVIWriter::kSplitBytes,
                            DecoderPool::Limits decoders = {}) {
    LogCollector log;
    BuildResult result;
    {
        CProject job(scriptPath, sink, splitBytes, {}, decoders);
        for (int i = 0; i < 120000 && log.BuildFinishedCount() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        result.succeeded = job.Succeeded();
        result.decodedPictures = job.DecodedPictures();
        result.distinctPictures = job.DistinctPictures();
    }
    result.messages = log.Messages();
    result.texts = log.Texts();
    result.upper = log.Progress(0);
    result.lower = log.Progress(1);
    result.statuses = log.Statuses();
    result.finished = log.BuildFinishedCount();
    return result;
}

// A camera whose frame k shows the number first + k.
inline std::string MakeCamera(const TempDir& dir, const std::string& name, int first, int frames,
                              int width = 160, int height = 240) {
    TestVideo video;
    video.codec = TestCodec::Mpeg4;
    video.width = width;
    video.height = height;
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
    char end[3] = {};
    const int read = std::sscanf(text.c_str(), "Done in %lf secs [%d min(s) %d] for %d frames%2c",
                                 &seconds, &minutes, &rest, &frames, end);
    const size_t dot = text.find('.');
    const bool sixDecimals = dot != std::string::npos && text.find(' ', dot) == dot + 7;
    if (read != 5 || std::string(end) != ".\n" || !sixDecimals || rest < 0 || rest > 59) {
        return -1;
    }
    return frames;
}

}  // namespace zorvo::test
