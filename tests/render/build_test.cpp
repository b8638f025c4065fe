#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/LogCollector.h"
#include "output/OutputFiles.h"
#include "preview/FrameEngine.h"
#include "render/Project.h"
#include "render/Storyboard.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"
#include "timeline/TimelineWalk.h"

namespace zorvo::test {
namespace {

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
    std::vector<std::string> texts;    // up to the lines naming the written files
    std::vector<std::string> written;  // those lines
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
    while (!result.texts.empty() && result.texts.back().starts_with("Written: ")) {
        result.written.insert(result.written.begin(), result.texts.back());
        result.texts.pop_back();
    }
    result.finished = log.BuildFinishedCount();
    return result;
}

BuildResult RunBuild(const std::string& scriptPath, FrameSink* sink = nullptr,
                     DecoderPool::Limits decoders = {}) {
    return RunJob({}, scriptPath, sink, AVIWriter::kSplitBytes, std::string(), decoders);
}

// Writes a script in which "{dir}" stands for the folder; returns its path.
std::string WriteScript(const TempDir& dir, const std::string& name, std::string body) {
    for (size_t at = body.find("{dir}"); at != std::string::npos; at = body.find("{dir}", at)) {
        body.replace(at, 5, dir.Path().string());
    }
    const std::string path = dir.File(name + ".txt");
    EXPECT_TRUE(WriteTextFile(path, body));
    return path;
}

// The file as libavformat reads it; a file it cannot read fails the test and reads as empty.
MediaContents ReadBack(const std::string& path) {
    MediaContents contents;
    std::string error;
    EXPECT_TRUE(ReadMedia(path, contents, error)) << error;
    return contents;
}

// A camera whose frame k shows the number first + k.
std::string MakeCamera(const TempDir& dir, const std::string& name, int first, int frames,
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
int NumberIn(const std::vector<std::uint8_t>& topDown, int width, int left, int right, int height) {
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
int DoneLineFrames(const std::string& text) {
    static const std::regex line(
        R"(Done in \d+\.\d{6} secs \[\d+ min\(s\) [0-5]\d\] for (\d+) frames\.\n)");
    std::smatch match;
    return std::regex_match(text, match, line) ? std::stoi(match[1]) : -1;
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

using Texts = std::vector<std::string>;

// End-to-end renders over the same cameras and song.
using Build = RenderSuite;
using EncodedOutput = RenderSuite;
using SongSync = RenderSuite;

constexpr int kSide = 240;
constexpr int kSamplesPerFrame = 1764;  // 44100 Hz at 25 frames a second
constexpr int kAacFrame = 1024;

// The guide's typical script: cam1 from 1200 ms in beside both cameras taking turns every beat,
// then cam2 fading out; the song is exactly as long as the render.
TEST_F(Build, TypicalScriptFrameByFrame) {
    constexpr int kHalf = kSide / 2;
    CountingSink sink;
    const auto result = RunBuild(
        Script("typical",
               "output( {dir}/typical.avi, 240, 240, bicubic, {dir}/song.wav )\n"
               "input( cam1, {dir}/cam1.avi, center, 1200, 0 ) { }\n"
               "input( cam2, {dir}/cam2.avi, top_left ) { }\ngroup( all ) { cam1, cam2 }\n"
               "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); separator( 4 ); "
               "display( cam1, each_measure ); display( all, each_beat ); }\n"
               "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
               "marker( 13 ) { }\n"),
        &sink);
    Texts expected = {"* Parsing script...\n",
                      "* Building timeline markers 1 to 9 (end@13) - 4/4 @ 120bpm\n",
                      "32 block(s) of 500ms (12 frames) to compute\n"};
    for (int b = 1; b <= 32; ++b) {
        expected.push_back("[Block " + std::to_string(b) + "/32]\n");
    }
    expected.push_back("* Building timeline markers 9 to 13 (end@13) - 4/4 @ 120bpm\n");
    expected.push_back("1 block(s) of 8000ms (200 frames) to compute\n");
    expected.push_back("[Block 1/1]\n");
    ASSERT_EQ(result.texts.size(), expected.size() + 2) << ::testing::PrintToString(result.texts);
    EXPECT_EQ(Texts(result.texts.begin(), result.texts.end() - 2), expected);
    EXPECT_EQ(DoneLineFrames(result.texts[expected.size()]), 600);
    EXPECT_EQ(result.texts.back(), "Done without error.\n");
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.finished, 1);
    EXPECT_EQ(sink.frames.load(), 600);
    // The render names its file and its size.
    EXPECT_EQ(result.written,
              Texts{Format("Written: %s (%.1f MiB).\n", Output("typical").c_str(),
                           std::filesystem::file_size(Output("typical")) / 1048576.0)});

    const MediaContents avi = ReadBack(Output("typical"));
    ASSERT_EQ(avi.pictures.size(), 600u);
    for (int k = 0; k < 400; ++k) {
        // Block b starts at the song frame of 500 b ms (12.5 b, truncated); cam1 runs 1200 ms
        // ahead of the song.
        int b = 0;
        while (500 * (b + 1) / 40 <= k) {
            ++b;
        }
        const int j = k - 500 * b / 40;
        const int cam1 = (1200 + 500 * b) / 40 + j;
        const int right = b % 2 == 0 ? cam1 : 1000 + (500 * b) / 40 + j;
        // Clear of the separator columns.
        EXPECT_EQ(NumberIn(avi.pictures[k], kSide, 0, kHalf - 3, kSide), cam1) << k;
        EXPECT_EQ(NumberIn(avi.pictures[k], kSide, kHalf + 3, kSide, kSide), right % kNumberRange)
            << k;
    }
    // Four black columns between the areas (the numbers beside them read above).
    for (int k : {0, 13, 200, 399}) {
        for (int y = 0; y < kSide; ++y) {
            const auto row = avi.pictures[k].begin() + static_cast<long>(y) * kSide * 3;
            ASSERT_TRUE(std::all_of(row + (kHalf - 2) * 3, row + (kHalf + 2) * 3,
                                    [](std::uint8_t v) { return v == 0; }))
                << k << " row " << y;
        }
    }
    // The fade: only its bright first part can be read; the brightest byte follows the level
    // 255 (199 - j) / 199.
    for (int j = 0; j < 200; ++j) {
        const auto& picture = avi.pictures[400 + j];
        if (j < 120) {
            EXPECT_EQ(NumberIn(picture, kSide, 0, kSide, kSide), (1400 + j) % kNumberRange) << j;
        }
        EXPECT_NEAR(*std::max_element(picture.begin(), picture.end()), 255 * (199 - j) / 199, 3)
            << j;
    }
    // Every frame carries its slice of the song, the last one included.
    EXPECT_TRUE(avi.audioBytes == song);
}

// Slow motion blends, fast inputs skip, and a fast capture runs ahead of the furthest frame asked
// for, so frames 16 apart still come (speed 8 once hung). Speeds hold only in their own marker.
TEST_F(Build, SpeedsAndStrobe) {
    const auto result =
        RunBuild(Script("speeds",
                        "output( {dir}/speeds.avi, 240, 240 )\ninput( slow, {dir}/cam1.avi ) { }\n"
                        "input( fast, {dir}/cam1.avi ) { }\n"
                        "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) "
                        "display( slow ) display( fast ) speed( slow, 0.5 ) speed( fast, 2 ) }\n"
                        "marker( 2, 1fullscreen ) { effect( strobe, each_beat ) display( fast ) }\n"
                        "marker( 3, 1left_1right ) { tempo( 240 ) display( slow ) display( fast ) "
                        "speed( slow, 8 ) speed( fast, 16 ) }\nmarker( 4 ) { }\n"));
    ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
    const MediaContents avi = ReadBack(Output("speeds"));
    ASSERT_EQ(avi.pictures.size(), 125u);
    const auto left = [&](int k) { return NumberIn(avi.pictures[k], 240, 0, 117, 240); };
    const auto right = [&](int k) { return NumberIn(avi.pictures[k], 240, 123, 240, 240); };
    for (int j = 0; j < 50; ++j) {
        // Odd frames at half speed are blends, whose bands read as one of the two neighbours
        // or not at all.
        const int slow = left(j);
        EXPECT_TRUE(j % 2 == 0 ? slow == j / 2 : slow == -1 || slow == j / 2 || slow == j / 2 + 1)
            << j << ": " << slow;
        EXPECT_EQ(right(j), 2 * j) << j;
    }
    // Strobe each beat at 120 bpm: the first picture at or after every 500 ms of the block
    // flashes; a flashed picture has no black left (every byte at least 64).
    for (int j = 0; j < 50; ++j) {
        const auto& picture = avi.pictures[50 + j];
        const int darkest = *std::min_element(picture.begin(), picture.end());
        EXPECT_EQ(darkest >= 60, j == 0 || j == 13 || j == 25 || j == 38) << j << ": " << darkest;
        EXPECT_EQ(NumberIn(picture, 240, 0, 240, 240), 50 + j) << j;
    }
    // A 240 bpm measure from 4000 ms (source frame 100): 25 frames.
    for (int j = 0; j < 25; ++j) {
        EXPECT_EQ(left(100 + j), 100 + 8 * j) << j;
        EXPECT_EQ(right(100 + j), (100 + 16 * j) % kNumberRange) << j;
    }
}

// A strobe flashes a copy of the picture, so the slow input's next frame blends the picture as
// it came: flashed frames are the plain render's brightened by 64, the others the same.
TEST_F(Build, StrobeLeavesTheCapturedPictureAlone) {
    const auto render = [](const std::string& name, const std::string& effect) {
        EXPECT_TRUE(RunBuild(Script(name, "output( {dir}/" + name +
                                              ".avi, 64, 96 )\ninput( slow, {dir}/cam1.avi ) { }\n"
                                              "marker( 1, 1fullscreen ) { tempo( 120 ) signature( "
                                              "4, 4 ) speed( slow, 0.5 ) display( slow ) " +
                                              effect + " }\nmarker( 2 ) { }\n"))
                        .succeeded);
        return ReadBack(Output(name)).pictures;
    };
    const auto plain = render("unflashed", "");
    const auto strobe = render("flashed", "effect( strobe, each_beat )");
    ASSERT_EQ(plain.size(), 50u);
    ASSERT_EQ(strobe.size(), plain.size());
    std::vector<std::size_t> flashed;
    for (std::size_t k = 0; k < plain.size(); ++k) {
        std::vector<std::uint8_t> bright = plain[k];
        for (std::uint8_t& v : bright) {
            v = static_cast<std::uint8_t>(std::min(255, v + 64));
        }
        if (strobe[k] == bright) {
            flashed.push_back(k);
        } else {
            EXPECT_TRUE(strobe[k] == plain[k]) << k;
        }
    }
    // Source pictures 0 and 13 flash (each 500 ms), each shown for two frames.
    EXPECT_EQ(flashed, (std::vector<std::size_t>{0, 1, 26, 27}));
}

// Junk in the middle of a file its headers cannot show: the render fails on the way and says
// which valid files it left, under their partial names.
TEST_F(Build, JunkInACameraStopsTheRender) {
    const std::string junk = MakeCamera(*dir, "junk-cam.avi", 0, 100, 64, 64);
    {
        std::fstream file(junk, std::ios::in | std::ios::out | std::ios::binary);
        const auto size = static_cast<std::streamoff>(std::filesystem::file_size(junk));
        file.seekp(size / 3);
        for (std::streamoff i = size / 3; i < 2 * size / 3; ++i) {
            file.put(static_cast<char>(i * 7 % 251));
        }
    }
    const auto result = RunBuild(
        Script("junk",
               "output( {dir}/junk.avi, 64, 64 )\ninput( cam, {dir}/junk-cam.avi ) { }\n"
               "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
               "marker( 3 ) { }\n"));
    EXPECT_FALSE(result.succeeded);
    ASSERT_NE(std::find(result.texts.begin(), result.texts.end(),
                        "Error (FFMPEGCapture): Failed to decode frame.\n"),
              result.texts.end())
        << ::testing::PrintToString(result.texts);
    EXPECT_EQ(Texts(result.texts.end() - 3, result.texts.end()),
              (Texts{"Error (Project): Failed to capture source video frames.\n",
                     "Error (Project): files left: '" + PartialName(Output("junk")) + "'.\n",
                     "Error (Project): Failed to build project.\n"}));
    EXPECT_GT(ReadBack(PartialName(Output("junk"))).pictures.size(), 0u);
}

// A stop in the middle of a block, also while the next block's captures run (or, launched late,
// do not yet), leaves the frames written so far, whole.
TEST_F(Build, CancelMidBlockLeavesAReadableFile) {
    const struct {
        std::string display;
        bool early;
        int odd;  // what blocks of odd number add to the number a frame shows
    } cases[] = {{"a", true, 0}, {"ab, each_beat", true, 1000}, {"ab, each_beat", false, 1000}};
    for (const auto& c : cases) {
        CountingSink sink;
        const auto result =
            RunJob([&sink] { return sink.frames.load() >= 30; },
                   Script("cancel",
                          "output( {dir}/cancel.avi, 160, 240 )\ninput( a, {dir}/cam1.avi ) { }\n"
                          "input( b, {dir}/cam2.avi ) { }\ngroup( ab ) { a, b }\n"
                          "marker( 1, 1fullscreen ) { tempo( 60 ) signature( 4, 4 ) display( " +
                              c.display + " ) }\nmarker( 7 ) { }\n"),
                   static_cast<FrameSink*>(&sink), AVIWriter::kSplitBytes, std::string(),
                   DecoderPool::Limits{.launchEarly = c.early});
        ASSERT_GE(result.texts.size(), 3u);
        EXPECT_EQ(result.texts[result.texts.size() - 2], "Done without error.\n");
        const int written = DoneLineFrames(result.texts[result.texts.size() - 3]);
        EXPECT_EQ(result.texts.back(), "Render stopped before its end: the output holds " +
                                           std::to_string(written) + " frames.\n");
        EXPECT_GE(written, 30);
        EXPECT_LT(written, 600);  // cut short
        const MediaContents avi = ReadBack(Output("cancel"));
        ASSERT_EQ(static_cast<int>(avi.pictures.size()), written);
        EXPECT_EQ(NumberIn(avi.pictures.back(), 160, 0, 160, 240),
                  (written - 1 + (written - 1) / 25 % 2 * c.odd) % kNumberRange);
    }
}

// A short session at 128 bpm (two areas with a separator, an overlay, a fading span), rendered
// and taken as stills: each still is the rendered frame of its block, scaled down and captioned.
TEST_F(Build, StoryboardStillsAreTheRenderedFramesOnACaptionedSheet) {
    constexpr int kWidth = 160;
    constexpr int kHeight = 120;
    constexpr int kThumb = 80;  // half the width: each thumbnail pixel averages a 2 x 2 square
    const std::string script =
        Script("stills",
               "output( {dir}/stills.avi, 160, 120 )\ninput( a, {dir}/cam1.avi, center, 300 ) { }\n"
               "input( b, {dir}/cam2.avi, top_left ) { contrast( 0.3 ); }\ninput( c, "
               "{dir}/cam1.avi ) { }\n"
               "group( g ) { a, b }\noverlay( c, 30 ) { }\n"
               "marker( 1, 1left_1right ) { tempo( 128 ) signature( 4, 4 ) separator( 4 ) "
               "effect( fade_out ) display( a, each_measure ) display( g, each_beat ) }\n"
               "marker( 3, 1fullscreen ) { display( b ) }\nmarker( 4 ) { }\n");
    ASSERT_TRUE(RunBuild(script).succeeded);
    const MediaContents rendered = ReadBack(Output("stills"));
    ContactSheet sheet(kThumb, 4, true);
    ASSERT_TRUE(RunJob({}, script, sheet, false).succeeded);

    // Two measures of 1875 ms in blocks of 468.75 ms, then one block of a measure.
    const std::vector<Still>& stills = sheet.Stills();
    ASSERT_EQ(stills.size(), 9u);
    struct Expected {
        std::size_t still;
        std::int64_t frame;
        std::string position, songTime, cameras;
    };
    for (const Expected& e : std::vector<Expected>{{0, 0, "1.1", "00:00.000", "a a"},
                                                   {1, 11, "1.2", "00:00.469", "a b"},
                                                   {4, 46, "2.1", "00:01.875", "a a"},
                                                   {7, 82, "2.4", "00:03.281", "a b"},
                                                   {8, 93, "3.1", "00:03.750", "b"}}) {
        const Still& still = stills[e.still];
        EXPECT_EQ(still.frame, e.frame) << e.still;
        EXPECT_EQ(still.position, e.position) << e.still;
        EXPECT_EQ(still.songTime, e.songTime) << e.still;
        EXPECT_EQ(still.cameras, e.cameras) << e.still;
    }
    const FrameBitmap& picture = sheet.Sheet();
    for (std::size_t i = 0; i < stills.size(); ++i) {
        const Still& still = stills[i];
        ASSERT_LT(still.frame, static_cast<std::int64_t>(rendered.pictures.size()));
        const std::vector<std::uint8_t>& frame = rendered.pictures[still.frame];
        ASSERT_EQ(still.thumbnail.Width(), kThumb);
        ASSERT_EQ(still.thumbnail.Height(), kHeight / 2);
        // A few pixels in each area and on the separator, against the 2 x 2 average.
        for (const auto& [x, y] :
             {std::pair{10, 10}, {20, 45}, {39, 30}, {40, 30}, {60, 15}, {70, 50}}) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        sum += frame[((2 * y + dy) * kWidth + 2 * x + dx) * 3 + c];
                    }
                }
                const int thumb = still.thumbnail.Row(kHeight / 2 - 1 - y)[x * 3 + c];
                EXPECT_NEAR(thumb, sum / 4.0, 3.0)
                    << "frame " << still.frame << " at " << x << "," << y << " channel " << c;
            }
        }
        // Its caption, white on black, under it.
        const Rect r = sheet.ThumbnailRect(i);
        int white = 0;
        int black = 0;
        for (int y = r.bottom; y < r.bottom + ContactSheet::kCaptionHeight; ++y) {
            const std::uint8_t* line = picture.Row(picture.Height() - 1 - y);
            for (int x = r.left; x < r.right; ++x) {
                white += line[3 * x] > 200 && line[3 * x + 1] > 200 && line[3 * x + 2] > 200;
                black += line[3 * x] < 20 && line[3 * x + 1] < 20 && line[3 * x + 2] < 20;
            }
        }
        EXPECT_GT(white, 40) << "caption of still " << i;
        EXPECT_GT(black, 40) << "caption of still " << i;
    }

    // The sheet drawn still by still as the run went is the one composed whole at the end.
    FrameBitmap composed;
    ASSERT_TRUE(sheet.Compose(composed));
    ASSERT_EQ(composed.SizeBytes(), picture.SizeBytes());
    EXPECT_TRUE(
        std::equal(composed.Bits(), composed.Bits() + composed.SizeBytes(), picture.Bits()));

    // The PNG is lossless: it holds the sheet exactly, top row first.
    ASSERT_TRUE(WritePng(picture, dir->File("sheet.png")));
    const MediaContents png = ReadBack(dir->File("sheet.png"));
    ASSERT_EQ(png.pictures.size(), 1u);
    ASSERT_EQ(png.streams[0].width, picture.Width());
    ASSERT_EQ(png.streams[0].height, picture.Height());
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* line = picture.Row(picture.Height() - 1 - y);
        ASSERT_TRUE(std::equal(line, line + picture.Width() * 3,
                               png.pictures[0].begin() + y * picture.Width() * 3))
            << "row " << y;
    }
    EXPECT_FALSE(WritePng(picture, dir->File("missing/sheet.png")));
}

// Every still of a storyboard is the rendered frame of its block, byte for byte, at odd tempos,
// over three files: one with B-frames (passed over on the way to a still), one shown at two
// moments in the same block, all captured ahead of the still being composed. The overlay
// converts only the loop frames the stills show, unless its noise reduction needs them all.
TEST_F(Build, StoryboardStillsAreTheRenderedFramesByteForByte) {
    struct KeptStills : StillSink {
        bool TakeStill(const FrameBitmap& frame, const TimelineSpan&,
                       const TimelineBlock& block) override {
            std::vector<std::uint8_t> topDown;
            for (int y = frame.Height() - 1; y >= 0; --y) {
                topDown.insert(topDown.end(), frame.Row(y), frame.Row(y) + frame.Stride());
            }
            stills.emplace_back(block.firstFrame, std::move(topDown));
            return true;
        }
        std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> stills;
    };
    MakeCamera(*dir, "cam3.mp4", 2000, 400, 160, 240, 25, 1, TestCodec::H264);
    for (const auto& [name, tempo, overlay, count] :
         std::vector<std::tuple<std::string, std::string, std::string, size_t>>{
             {"board93", "tempo( 93 ) signature( 4, 4 )", "", 24},
             {"board140", "tempo( 140 ) signature( 7, 8 )", "noise_reduction( 9 );", 42}}) {
        const std::string script = Script(
            name,
            "output( {dir}/" + name +
                ".avi, 160, 120 )\ninput( a, {dir}/cam1.avi, center, 300 ) { }\ninput( b, "
                "{dir}/cam2.avi, top_left ) { saturation( 1.4 ); }\ninput( h, {dir}/cam3.mp4, "
                "center, 700 ) { noise_reduction( 5 ); }\ninput( c, {dir}/cam1.avi ) { " +
                overlay +
                " }\ngroup( g ) { c, b, h }\noverlay( c, 30 ) { }\nmarker( 1, 2top_1bottom ) { " +
                tempo +
                " display( h, each_measure ) display( a ) display( g, every_half_beat ) "
                "speed( h, 0.5 ) }\nmarker( 3, 1left_1right ) { separator( 2 ) effect( "
                "fade_out ) display( c ) display( h, each_beat ) }\nmarker( 5 ) { }\n");
        ASSERT_TRUE(RunBuild(script).succeeded) << name;
        const MediaContents rendered = ReadBack(Output(name));
        KeptStills kept;
        ASSERT_TRUE(RunJob({}, script, static_cast<StillSink&>(kept), false).succeeded) << name;
        EXPECT_EQ(kept.stills.size(), count) << name;
        for (const auto& [frame, picture] : kept.stills) {
            ASSERT_LT(frame, static_cast<std::int64_t>(rendered.pictures.size())) << name;
            EXPECT_TRUE(picture == rendered.pictures[frame]) << name << " frame " << frame;
        }
    }
}

// Stills are the rendered frames, at song times and beats, asked for out of order so that the
// engine's open captures are reused and replaced; `zorvo still` writes the same picture. Under a
// range the overlay's loop starts with the range, in the render and in a still alike.
TEST_F(Build, StillsAreTheRenderedFrames) {
    struct Case {
        std::string name, tempo, range;
        std::int64_t skipped;  // frames before the range
        std::vector<std::string> when;
        std::vector<std::int64_t> frames;  // the song frame of each, -1: none
    };
    const std::vector<Case> cases = {
        {"still128",
         "tempo( 128 ) signature( 4, 4 )",
         "",
         0,
         {"2.1", "2.2", "2.5s", "0", "00:01.000", "1.3", "3.3", "3.4", "4.4", "4.1", "7.48s"},
         {46, 58, 62, 0, 25, 23, 117, 128, 175, 140, -1}},
        {"still140",
         "tempo( 140 ) signature( 7, 8 )",
         "range( 2, 0 )\n",
         37,
         {"1.7", "2.1", "2.4", "3.4", "3.2", "4.7", "0:05.960", "5.1", "2.8"},
         {32, 37, 53, 91, 80, 144, 149, -1, -1}},
    };
    const auto topDown = [](const FrameBitmap& picture) {
        std::vector<std::uint8_t> bytes;
        for (int y = picture.Height() - 1; y >= 0; --y) {
            bytes.insert(bytes.end(), picture.Row(y), picture.Row(y) + picture.Stride());
        }
        return bytes;
    };
    for (const Case& c : cases) {
        // The same session rendered at half the size is what a preview 80 pixels wide shows.
        std::string scripts[2];
        for (const char* size : {"160, 120", "80, 60"}) {
            const std::string name = c.name + (size[0] == '8' ? "small" : "");
            scripts[size[0] == '8'] = Script(
                name, "output( {dir}/" + name + ".avi, " + size +
                          " )\ninput( a, {dir}/cam1.avi, center, 300 ) { noise_reduction( 5 ); "
                          "}\ninput( b, {dir}/cam2.avi, top_left ) { contrast( 0.3 ); "
                          "saturation( 1.4 ); }\ninput( c, {dir}/cam1.avi ) { }\ngroup( g ) { a, "
                          "b }\noverlay( c, 30 ) { }\ndebug()\n" +
                          c.range + "marker( 1, 1left_1right ) { " + c.tempo +
                          " separator( 4 ) effect( fade_in ) display( a, each_measure ) display( "
                          "g, each_beat ) }\nmarker( 2, 2top_1bottom ) { effect( strobe, "
                          "each_beat ) display( b ) display( a ) display( g, every_half_beat ) "
                          "speed( a, 0.5 ) }\nmarker( 3, 1fullscreen ) { effect( fade_out ) "
                          "display( g, each_beat ) resize( b, 60 ) }\nmarker( 5 ) { }\n");
            ASSERT_TRUE(RunBuild(scripts[size[0] == '8']).succeeded) << name;
        }
        const MediaContents rendered = ReadBack(Output(c.name));
        const MediaContents small = ReadBack(Output(c.name + "small"));
        LogCollector log;
        const auto engine = FrameEngine::Open(scripts[0]);
        ASSERT_TRUE(engine) << ::testing::PrintToString(log.Texts());
        EXPECT_EQ(engine->FrameCount(),
                  c.skipped + static_cast<std::int64_t>(rendered.pictures.size()));
        FrameBitmap picture;
        for (size_t i = 0; i < c.when.size(); ++i) {
            SongMoment moment;
            std::int64_t frame = -1;
            ASSERT_TRUE(ParseSongMoment(c.when[i], moment)) << c.when[i];
            log.Clear();
            EXPECT_EQ(SongFrameOf(engine->Script(), moment, frame) ? frame : -1, c.frames[i])
                << c.when[i];
            // A refusal gives the whole song's length, wherever the moment was looked for.
            EXPECT_EQ(log.Joined().find(" the song has " + std::to_string(engine->FrameCount()) +
                                        " frames") != std::string::npos,
                      c.frames[i] < 0)
                << c.when[i] << log.Joined();
            if (c.frames[i] >= c.skipped) {
                const auto k = static_cast<std::size_t>(frame - c.skipped);
                ASSERT_TRUE(engine->Compose(frame, picture)) << c.when[i];
                EXPECT_TRUE(topDown(picture) == rendered.pictures[k]) << c.name << c.when[i];
                ASSERT_TRUE(engine->Compose(frame, picture, 80)) << c.when[i];
                EXPECT_TRUE(topDown(picture) == small.pictures[k]) << c.name << c.when[i];
            }
        }
        const std::string png = dir->File(c.name + ".png");
        EXPECT_EQ(RunZorvo("still --at " + c.when[1] + " -o " + png + " " + scripts[0]).status, 0);
        EXPECT_TRUE(ReadBack(png).pictures.at(0) == rendered.pictures[c.frames[1] - c.skipped])
            << c.name;
    }
}

// Played from the start, the engine composes every frame as the render wrote it while the next
// block's captures start early: one camera file in two areas from two moments (a turn per
// block, not per capture), noise reduction, half speed; stills after playback still match.
TEST_F(Build, PlayedFramesAreTheRenderedFrames) {
    const std::string script =
        Script("played",
               "output( {dir}/played.avi, 160, 120 )\ninput( a, {dir}/cam1.avi, center, 300 ) "
               "{ noise_reduction( 5 ); }\ninput( b, {dir}/cam2.avi ) { }\ninput( c, "
               "{dir}/cam1.avi ) { }\ngroup( g ) { a, b }\ngroup( h ) { c, b }\nmarker( 1, "
               "1left_1right ) { tempo( 128 ) signature( 4, 4 ) display( g, each_beat ) display( "
               "h, each_beat ) "
               "}\nmarker( 2, 1fullscreen ) { display( g, every_half_beat ) speed( a, 0.5 ) "
               "}\nmarker( 3 ) { }\n");
    const auto result = RunBuild(script);
    ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
    const MediaContents rendered = ReadBack(Output("played"));
    LogCollector log;
    const auto engine = FrameEngine::Open(script);
    ASSERT_TRUE(engine) << ::testing::PrintToString(log.Texts());
    ASSERT_EQ(engine->FrameCount(), static_cast<std::int64_t>(rendered.pictures.size()));
    FrameBitmap picture;
    const auto same = [&](std::int64_t frame) {
        std::vector<std::uint8_t> bytes;
        for (int y = picture.Height() - 1; y >= 0; --y) {
            bytes.insert(bytes.end(), picture.Row(y), picture.Row(y) + picture.Stride());
        }
        return bytes == rendered.pictures[static_cast<std::size_t>(frame)];
    };
    engine->SetPlaying(true);
    for (std::int64_t frame = 0; frame < engine->FrameCount(); ++frame) {
        ASSERT_TRUE(engine->Compose(frame, picture)) << frame;
        EXPECT_TRUE(same(frame)) << "frame " << frame;
    }
    engine->SetPlaying(false);
    for (const std::int64_t frame : {30, 5, 60}) {
        ASSERT_TRUE(engine->Compose(frame, picture)) << frame;
        EXPECT_TRUE(same(frame)) << "still " << frame;
    }
}

// Sessions whose beats are not whole numbers of frames. Two cameras heard the song from its
// first moment (camera frame k = song frame k); the cut alternates between them on every block,
// so each output frame tells both which block it belongs to and which moment of the camera it
// shows.
TEST_F(SongSync, EveryFrameShowsTheMomentOfItsSound) {
    struct Case {
        std::string name;
        int tempo;
        int count;
        int unit;
        int perBeat;                // blocks a beat: 1 each beat, 2 every half beat
        std::vector<int> measures;  // marker measures from 1, the last one terminal
        int rangeStart;             // 0: the whole song
        std::int64_t frames;        // frames the render writes
    };
    const std::vector<Case> cases = {
        // 32 beats of 468.75 ms: 15 s of music, 375 frames.
        {"beats128", 128, 4, 4, 1, {1, 5, 9}, 0, 375},
        {"halfbeats128", 128, 4, 4, 2, {1, 3}, 0, 93},
        // Block 6 starts at 1999.9999999999998 ms as the block lengths add up: song frame 50.
        {"halfbeats90", 90, 4, 4, 2, {1, 2}, 0, 66},
        {"beats93", 93, 4, 4, 1, {1, 3, 4}, 0, 193},
        {"sevenEight140", 140, 7, 8, 1, {1, 3, 6}, 0, 187},
        // The range starts in the second span at song frame 46 (1875 ms).
        {"skip128", 128, 4, 4, 1, {1, 2, 3, 4}, 2, 94},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = "output( {dir}/" + c.name +
                             ".avi, 160, 240, point, {dir}/song.wav )\ninput( a, {dir}/cam1.avi ) "
                             "{ }\ninput( b, {dir}/cam2.avi ) { }\ngroup( ab ) { a, b }\n";
        if (c.rangeStart != 0) {
            script += "range( " + std::to_string(c.rangeStart) + ", " +
                      std::to_string(c.measures.back()) + " )\n";
        }
        const std::string span = ", 1fullscreen ) { tempo( " + std::to_string(c.tempo) +
                                 " ) signature( " + std::to_string(c.count) + ", " +
                                 std::to_string(c.unit) + " ) display( ab, " +
                                 (c.perBeat == 1 ? "each_beat" : "every_half_beat") + " ) }\n";
        for (size_t i = 0; i + 1 < c.measures.size(); ++i) {
            script += "marker( " + std::to_string(c.measures[i]) + span;
        }
        script += "marker( " + std::to_string(c.measures.back()) + " ) { }\n";
        const auto result = RunBuild(Script(c.name, script));
        ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
        // The finish line counts the frames written, not the song frames a range skips.
        EXPECT_EQ(DoneLineFrames(result.texts[result.texts.size() - 2]), c.frames);

        const MediaContents avi = ReadBack(Output(c.name));
        ASSERT_EQ(static_cast<std::int64_t>(avi.pictures.size()), c.frames);
        // Every span here holds whole cycles, so block b starts at the song frame of b periods:
        // a beat is 6000 / (tempo x unit) frames, counted here in exact integers.
        const std::int64_t perFrames = std::int64_t{c.tempo} * c.unit * c.perBeat;
        const auto blockStart = [&](std::int64_t b) { return b * 6000 / perFrames; };
        const std::int64_t skipped =
            blockStart(std::int64_t{std::max(c.rangeStart - 1, 0)} * c.count * c.perBeat);
        for (size_t i = 0; i < avi.pictures.size(); ++i) {
            const std::int64_t k = skipped + static_cast<std::int64_t>(i);
            std::int64_t block = 0;
            while (blockStart(block + 1) <= k) {
                ++block;
            }
            const int expected = static_cast<int>((block % 2 == 0 ? 0 : 1000) + k);
            ASSERT_EQ(NumberIn(avi.pictures[i], 160, 0, 160, 240), expected % kNumberRange)
                << "output frame " << i;
        }
        // Each frame carries the song's slice of its own moment.
        ASSERT_EQ(avi.audioBytes.size(), static_cast<size_t>(c.frames) * 7056);
        EXPECT_TRUE(std::equal(avi.audioBytes.begin(), avi.audioBytes.end(),
                               song.begin() + skipped * 7056));
    }
}

// A clip that holds exactly the frames a build shows is enough; one frame less fails, before any
// file exists, with the clock of the clip's end rounded down and of the need rounded up, and
// advice. A camera that starts 0.4 s late or ends early shows black or its nearest picture there
// when its input says fill( black ) or fill( hold ).
TEST_F(SongSync, ClipsOfExactlyTheNeededLength) {
    struct Case {
        std::string name;
        int cameraFrames;
        int overlayFrames;             // 0: no overlay
        int rateDen;                   // of 30000: 1200 stands for 25 fps
        int keepTenths;                // 0: the whole file; else cut, losing its index
        std::string failure;           // the media check's line; empty: the build succeeds
        std::string input = " ) { }";  // after the camera's file name
        // Output frames and the camera frame each shows; -1: black.
        std::vector<std::pair<int, int>> shown = {};
    };
    const std::string advice =
        "Error (Project): Add fill( hold ) or fill( black ) to the input's block to show its first "
        "or last picture, or black, where the recording does not reach.\n";
    // One 120 bpm measure cut on every beat: the last block starts at 1500 ms (camera frame 37)
    // and shows 13 frames, so the camera must reach frame 49; the overlay loops 50 frames. At
    // 29.97 fps the last block needs source frames 44 to 58, which end at 1968.6 ms.
    const std::vector<Case> cases = {
        {"exact", 50, 50, 1200, 0, ""},
        {"cameraShort", 49, 50, 1200, 0,
         "Error (Project): Input 'cam' ends at 00:01.96 but marker 1 needs it until 00:02.00, "
         "0.04 s more (block at 00:01.50 of the song; file {dir}/cameraShort-cam.avi).\n" +
             advice},
        {"overlayShort", 50, 49, 1200, 0,
         "Error (Project): Input 'ov' ends at 00:01.96 but the overlay needs it until 00:02.00, "
         "0.04 s more (file {dir}/overlayShort-ov.avi).\n" +
             advice},
        {"ntsc", 50, 50, 1001, 0,
         "Error (Project): Input 'cam' ends at 00:01.66 but marker 1 needs it until 00:01.97, "
         "0.30 s more (block at 00:01.50 of the song; file {dir}/ntsc-cam.avi).\n" +
             advice},
        // The last packet of a cut file tells how far it goes.
        {"cut", 100, 50, 1200, 4,
         "Error (Project): Input 'cam' ends at 00:01.60 but marker 1 needs it until 00:02.00, "
         "0.40 s more (block at 00:01.50 of the song; file {dir}/cut-cam.avi).\n" +
             advice},
        {"late", 50, 0, 1200, 0,
         "Error (Project): Input 'cam' starts before its beginning: marker 1 needs it from 0.40 s "
         "before (block at 00:00.00 of the song; file {dir}/late-cam.avi).\n" +
             advice,
         ", center, 0, 400 ) { }"},
        {"lateBlack",
         50,
         0,
         1200,
         0,
         "",
         ", center, 0, 400 ) { fill( black ); }",
         {{0, -1}, {9, -1}, {10, 0}, {11, 1}, {49, 39}}},
        {"lateHold",
         50,
         0,
         1200,
         0,
         "",
         ", center, 0, 400 ) { fill( hold ); }",
         {{0, 0}, {9, 0}, {10, 0}, {11, 1}, {49, 39}}},
        {"shortHold", 45, 0, 1200, 0, "", " ) { fill( hold ); }", {{0, 0}, {44, 44}, {49, 44}}},
        {"shortBlack", 45, 0, 1200, 0, "", " ) { fill( black ); }", {{44, 44}, {45, -1}, {49, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cam =
            MakeCamera(*dir, c.name + "-cam.avi", 0, c.cameraFrames, 64, 96, 30000, c.rateDen);
        if (c.keepTenths != 0) {
            std::filesystem::resize_file(cam, std::filesystem::file_size(cam) * c.keepTenths / 10);
        }
        std::string overlay;
        if (c.overlayFrames > 0) {
            MakeCamera(*dir, c.name + "-ov.avi", 500, c.overlayFrames, 64, 96);
            overlay = "input( ov, {dir}/" + c.name + "-ov.avi ) { }\noverlay( ov, 50 ) { }\n";
        }
        const auto result = RunBuild(
            Script(c.name, "output( {dir}/" + c.name + ".avi, 64, 96 )\ninput( cam, {dir}/" +
                               c.name + "-cam.avi" + c.input + "\n" + overlay +
                               "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                               "display( cam, each_beat ) }\nmarker( 2 ) { }\n"));
        if (c.failure.empty()) {
            EXPECT_TRUE(result.succeeded);
            EXPECT_EQ(result.texts.back(), "Done without error.\n");
            const MediaContents video = ReadBack(Output(c.name));
            ASSERT_EQ(video.pictures.size(), 50u);
            for (const auto& [frame, number] : c.shown) {
                const auto& picture = video.pictures[static_cast<size_t>(frame)];
                if (number < 0) {
                    EXPECT_EQ(*std::max_element(picture.begin(), picture.end()), 0) << frame;
                } else {
                    EXPECT_EQ(NumberIn(picture, 64, 0, 64, 96), number) << frame;
                }
            }
            continue;
        }
        EXPECT_FALSE(result.succeeded);
        Texts expected{"* Parsing script..."};
        std::string failure = c.failure;
        failure.replace(failure.find("{dir}"), 5, dir->Path().string());
        for (size_t at = 0, end = 0; (end = failure.find('\n', at)) != std::string::npos;
             at = end + 1) {
            expected.push_back(failure.substr(at, end - at + 1));
        }
        expected.front() += "\n";
        expected.insert(expected.end(), {"Error (Project): Failed to check media.\n",
                                         "Error (Project): Failed to build project.\n"});
        EXPECT_EQ(result.texts, expected);
        EXPECT_FALSE(std::filesystem::exists(Output(c.name)));
    }
}

MediaContents ReadEncoded(const std::string& path) {
    MediaContents contents;
    std::string error;
    EXPECT_TRUE(ReadMedia(path, contents, error)) << error;
    return contents;
}

// Two cameras that take turns every beat at 140 bpm in 7/8 (a measure of 1500 ms), rendered to
// AVI for reference, then as H.264 in every container, with lossless FLAC or AAC sound stored
// beside the pictures of its time. A range from measure 2 skips the 37 frames (1500 ms) before
// it, its sound included; the check refuses an odd size for H.264 before any file exists. The song
// ends with the last frame, whose sound slice is kept too.
TEST_F(EncodedOutput, SameFramesAndSoundAsTheAvi) {
    struct Case {
        std::string name;
        std::string extra;
        std::size_t skipped;
        int width = kSide;
    };
    const std::vector<Case> cases = {
        {"song.mkv", "", 0},           {"song.mp4", "", 0},
        {"song.mov", "", 0},           {"stretch.mkv", "range( 2, 3 )\n", 37},
        {"odd.mp4", "", 0, kSide + 1},
    };
    const auto script = [](const std::string& output, const std::string& extra, int width) {
        return Script(output,
                      "output( {dir}/" + output + ", " + std::to_string(width) +
                          ", 240, bicubic, {dir}/song3s.wav )\ninput( cam1, {dir}/cam1.avi ) { }\n"
                          "input( cam2, {dir}/cam2.avi ) { }\ngroup( both ) { cam1, cam2 }\n" +
                          extra +
                          "marker( 1, 1fullscreen ) { tempo( 140 ) signature( 7, 8 ) "
                          "display( both, each_beat ) }\nmarker( 2, 1fullscreen ) { display( both, "
                          "each_beat ) }\nmarker( 3 ) { }\n");
    };
    ASSERT_TRUE(WriteWaveFile(dir->File("song3s.wav"), WaveFormat{},
                              std::vector<std::uint8_t>(song.begin(), song.begin() + 75 * 7056)));
    ASSERT_TRUE(RunBuild(script("song.avi", "", kSide)).succeeded);
    const MediaContents reference = ReadEncoded(dir->File("song.avi"));
    ASSERT_EQ(reference.pictures.size(), 75u);
    ASSERT_EQ(reference.samples.size(), 75u * kSamplesPerFrame * 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = RunBuild(script(c.name, c.extra, c.width));
        if (c.width % 2 != 0) {
            EXPECT_FALSE(result.succeeded);
            EXPECT_EQ(std::vector<std::string>(result.texts.end() - 3, result.texts.end()),
                      (std::vector<std::string>{
                          "Error (Project): Output size 241x240 cannot be written as H.264, which "
                          "needs an even width and height (file " +
                              dir->File(c.name) + ").\n",
                          "Error (Project): Failed to check media.\n",
                          "Error (Project): Failed to build project.\n"}));
            EXPECT_FALSE(std::filesystem::exists(dir->File(c.name)));
            continue;
        }
        ASSERT_TRUE(result.succeeded);
        EXPECT_EQ(result.texts.back(), "Done without error.\n");
        const MediaContents encoded = ReadEncoded(dir->File(c.name));
        EXPECT_EQ(encoded.video.codec, "h264");
        EXPECT_EQ(encoded.rateNum * 1.0 / encoded.rateDen, 25.0);
        EXPECT_EQ(encoded.colorSpace, "smpte170m");
        EXPECT_EQ(encoded.colorRange, "tv");
        ASSERT_EQ(encoded.pictures.size(), reference.pictures.size() - c.skipped);
        for (std::size_t k = 0; k < encoded.pictures.size(); ++k) {
            EXPECT_NEAR(encoded.pictureTimes[k], k / 25.0, 1e-6) << k;
            EXPECT_GE(Psnr(encoded.pictures[k], reference.pictures[c.skipped + k]), 40.0) << k;
        }
        if (c.skipped == 0) {
            EXPECT_LE(std::filesystem::file_size(dir->File(c.name)) * 20,
                      std::filesystem::file_size(dir->File("song.avi")));
        }
        EXPECT_EQ(encoded.audio.sampleRate, 44100);
        EXPECT_EQ(encoded.audio.channels, 2);
        EXPECT_EQ(encoded.audioStart, 0.0);
        // Sound and pictures stored side by side, a sound frame or so apart.
        EXPECT_LT(encoded.audioApart, 0.25);
        const std::vector<std::int16_t> sound(
            reference.samples.begin() + static_cast<long>(c.skipped * kSamplesPerFrame * 2),
            reference.samples.end());
        if (encoded.audio.codec == "flac") {
            EXPECT_TRUE(encoded.samples == sound);
        } else {
            EXPECT_EQ(encoded.audio.codec, "aac");
            EXPECT_NEAR(static_cast<double>(encoded.samples.size()), sound.size(), 2 * kAacFrame);
            // The encoder's priming is dropped: the song's sound (louder than a quarter of full
            // scale) starts within half a frame of stereo samples.
            const auto loud = std::find_if(encoded.samples.begin(), encoded.samples.end(),
                                           [](std::int16_t s) { return std::abs(s) > 8000; });
            EXPECT_LT(loud - encoded.samples.begin(), kAacFrame);
        }
    }
}

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Loads another script when the render shows its first frame: on the build thread, before the
// captures of the later blocks are made.
class LoadingSink : public FrameSink {
  public:
    explicit LoadingSink(std::string path) : m_path(std::move(path)) {}
    void ShowFrame(const std::uint8_t*, int, int) override {
        if (!loaded) {
            CScript other(m_path);
            loaded = other.Load();
        }
    }
    bool loaded = false;  // touched by the build thread only, read after it has ended

  private:
    std::string m_path;
};

// A script's interpolation is its own: a script loaded while a render runs (the window's check
// of a saved script, a preview) leaves the render's scaler as it was.
TEST_F(Build, InterpolationBelongsToTheScript) {
    const auto script = [](const std::string& name, const std::string& interpolation) {
        return Script(name,
                      "output( {dir}/" + name + ".avi, 100, 70, " + interpolation +
                          " )\ninput( a, {dir}/cam1.avi ) { }\ninput( b, {dir}/cam2.avi ) "
                          "{ }\ngroup( ab ) { a, b }\nmarker( 1, 1fullscreen ) { tempo( 120 ) "
                          "signature( 4, 4 ) display( ab, each_beat ) }\nmarker( 2 ) { }\n");
    };
    ASSERT_TRUE(RunBuild(script("point", "point")).succeeded);
    ASSERT_TRUE(RunBuild(script("bicubic", "bicubic")).succeeded);
    LoadingSink sink(script("other", "bicubic"));
    ASSERT_TRUE(RunBuild(script("pointBeside", "point"), &sink).succeeded);
    EXPECT_TRUE(sink.loaded);
    EXPECT_FALSE(FileBytes(Output("point")) == FileBytes(Output("bicubic")));
    EXPECT_TRUE(FileBytes(Output("point")) == FileBytes(Output("pointBeside")));
}

// Decoders kept from block to block, and one capture for the areas that show an input from the
// same moment, give the very file that fresh decoders for every area and block give, and each
// decodes fewer pictures.
TEST(DecoderReuse, WritesTheSameFileAsFreshDecoders) {
    struct Case {
        std::string name;
        TestCodec codec;
        int rateNum, rateDen;
        std::string input;  // after the file name, through the input's statements
        std::string rest;   // the overlay, if any, and the first marker
    };
    const std::vector<Case> cases = {
        // Speed 2 reads ahead into the next block, so each block starts behind the last one.
        {"speeds", TestCodec::H264, 25, 1, " ) {",
         "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( b, each_beat ) speed( a, 0.5 ) speed( b, 2 ) }"},
        {"sync2997", TestCodec::H264, 30000, 1001, ", center, 1230, 170 ) {",
         "marker( 1, 1fullscreen ) { tempo( 128 ) signature( 4, 4 ) display( ab, each_beat ) }"},
        {"fifty", TestCodec::Mpeg2, 50, 1, ", top, 420 ) {",
         "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 4, 4 ) "
         "display( a, every_half_beat ) }"},
        // Three areas of two sizes show `a` at once (the third every other half beat), zoomed
        // and noise-reduced: one decode, three scalings, a running picture for each.
        {"areasShareInput", TestCodec::Mpeg4, 25, 1, ", center, 700 ) { noise_reduction( 5 );",
         "marker( 1, 1left_2right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( a, each_measure ) display( ab, every_half_beat ) resize( a, 70 ) }"},
        {"laidOver", TestCodec::Mpeg4, 25, 1, " ) {",
         "overlay( b, 20 ) { }\nmarker( 1, 1fullscreen ) { tempo( 140 ) signature( 7, 8 ) "
         "display( ab, each_beat ) }"},
    };
    TempDir dir;
    // Fresh decoders that decode every picture, fresh ones that pass over what is not shown,
    // kept ones, kept ones and shared captures, all that with each block's captures launched
    // only when it starts.
    const DecoderPool::Limits ways[] = {
        {0, 0, false, false}, {0, 0, false}, {3, 8, false}, {}, {.launchEarly = false}};
    constexpr int kWays = std::size(ways);
    std::uint64_t decoded[kWays] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string inputs;
        for (const std::string id : {"a", "b"}) {
            MakeCamera(dir, c.name + id + ".mp4", id == "a" ? 0 : 1000, 300, 96, 144, c.rateNum,
                       c.rateDen, c.codec);
            inputs += "input( " + id + ", {dir}/" + c.name + id + ".mp4" + c.input + " }\n";
        }
        std::vector<char> files[kWays];
        std::uint64_t caseDecoded[kWays] = {};
        for (int way = 0; way < kWays; ++way) {
            const std::string out = c.name + std::to_string(way);
            const auto result =
                RunBuild(WriteScript(dir, out,
                                     "output( {dir}/" + out + ".avi, 64, 96 )\n" + inputs +
                                         "group( ab ) { a, b }\n" + c.rest + "\nmarker( 3 ) { }\n"),
                         nullptr, ways[way]);
            ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
            caseDecoded[way] = result.decodedPictures;
            decoded[way] += result.decodedPictures;
            files[way] = FileBytes(dir.File(out + ".avi"));
        }
        EXPECT_GT(files[0].size(), 10000u);
        for (int way = 1; way < kWays; ++way) {
            EXPECT_TRUE(files[0] == files[way]) << way;
        }
        if (c.name == "areasShareInput") {
            EXPECT_LT(caseDecoded[3] * 3, caseDecoded[2] * 2);
        }
    }
    EXPECT_LT(decoded[1], decoded[0]);
    EXPECT_LT(decoded[2], decoded[1]) << decoded[0];
}

}  // namespace
}  // namespace zorvo::test
