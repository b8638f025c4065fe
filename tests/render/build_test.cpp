#include "RenderFixture.h"

namespace zorvo {
namespace {

using test::BuildResult;
using test::RunBuild;
using Texts = std::vector<std::string>;

constexpr int kWidth = 240;
constexpr int kHeight = 240;
constexpr int kNumberRange = 1 << test::kNumberBits;

// The two cameras and the song of the typical two-camera script, made once for the suite.
class TypicalScript : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        test::MakeCamera(*dir, "cam1.avi", 0, 640);
        test::MakeCamera(*dir, "cam2.avi", 1000, 640);
        song = test::PatternBytes(600 * 7056, 7);
        ASSERT_TRUE(test::WriteWaveFile(dir->File("song.wav"), test::WaveFormat{}, song));
        const std::string script =
            "output( " + dir->File("song.avi") + ", 240, 240, bicubic, " + dir->File("song.wav") +
            " )\n"
            "input( cam1, " +
            dir->File("cam1.avi") +
            ", center, 1200, 0 ) { }\n"
            "input( cam2, " +
            dir->File("cam2.avi") +
            ", top_left ) { }\n"
            "group( all ) { cam1, cam2 }\n"
            "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); separator( 4 ); "
            "display( cam1, each_measure ); display( all, each_beat ); }\n"
            "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
            "marker( 13 ) { }\n";
        ASSERT_TRUE(test::WriteTextFile(dir->File("song.txt"), script));
        result = new BuildResult(RunBuild(dir->File("song.txt"), &sink));
        std::string error;
        contents = new test::AviContents;
        ASSERT_TRUE(test::ReadAvi(dir->File("song.avi"), *contents, error)) << error;
    }
    static void TearDownTestSuite() {
        delete contents;
        delete result;
        delete dir;
    }

    static test::TempDir* dir;
    static std::vector<std::uint8_t> song;
    static BuildResult* result;
    static test::AviContents* contents;
    static test::CountingSink sink;
};

test::TempDir* TypicalScript::dir = nullptr;
std::vector<std::uint8_t> TypicalScript::song;
BuildResult* TypicalScript::result = nullptr;
test::AviContents* TypicalScript::contents = nullptr;
test::CountingSink TypicalScript::sink;

TEST_F(TypicalScript, LogSequence) {
    Texts expected = {"* Parsing script...\n",
                      "* Building timeline markers 1 to 9 (end@13) - 4/4 @ 120bpm\n",
                      "32 block(s) of 500ms (12 frames) to compute\n"};
    for (int b = 1; b <= 32; ++b) {
        expected.push_back("[Block " + std::to_string(b) + "/32]\n");
    }
    expected.push_back("* Building timeline markers 9 to 13 (end@13) - 4/4 @ 120bpm\n");
    expected.push_back("1 block(s) of 8000ms (200 frames) to compute\n");
    expected.push_back("[Block 1/1]\n");
    ASSERT_EQ(result->texts.size(), expected.size() + 2);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(result->texts[i], expected[i]) << i;
    }
    EXPECT_EQ(test::DoneLineFrames(result->texts[expected.size()]), 600)
        << result->texts[expected.size()];
    EXPECT_EQ(result->texts.back(), "Done without error.\n");
    EXPECT_TRUE(result->succeeded);
    EXPECT_EQ(result->finished, 1);
    EXPECT_EQ(result->messages.back().kind, LogKind::BuildFinished);
    EXPECT_EQ(sink.frames.load(), 600);
    EXPECT_EQ(sink.lastWidth.load(), kWidth);
}

TEST_F(TypicalScript, EveryFrameShowsTheExpectedCameraAndSourceFrame) {
    ASSERT_EQ(contents->streams.size(), 2u);
    ASSERT_EQ(contents->pictures.size(), 600u);
    const int half = kWidth / 2;
    for (int k = 0; k < 400; ++k) {
        // Block b starts at the song frame of its start, 500 b ms: 12.5 b, truncated.
        int b = 0;
        while (500 * (b + 1) / 40 <= k) {
            ++b;
        }
        const int j = k - 500 * b / 40;
        // Block b starts 500 b ms into the span; cam1 plays from 1200 ms in.
        const int cam1 = (1200 + 500 * b) / 40 + j;
        const int cam2 = 1000 + (500 * b) / 40 + j;
        const auto& picture = contents->pictures[k];
        // Keep clear of the separator columns.
        EXPECT_EQ(test::NumberIn(picture, kWidth, 0, half - 3, kHeight), cam1) << "frame " << k;
        const int right = b % 2 == 0 ? cam1 : cam2;
        EXPECT_EQ(test::NumberIn(picture, kWidth, half + 3, kWidth, kHeight), right % kNumberRange)
            << "frame " << k;
    }
    // The faded span: only its bright first part can be read.
    for (int k = 400; k < 400 + 120; ++k) {
        const int j = k - 400;
        EXPECT_EQ(test::NumberIn(contents->pictures[k], kWidth, 0, kWidth, kHeight),
                  (1000 + 400 + j) % kNumberRange)
            << "frame " << k;
    }
}

TEST_F(TypicalScript, SeparatorAndFadeOut) {
    const int half = kWidth / 2;
    for (int k : {0, 13, 200, 399}) {
        const auto& picture = contents->pictures[k];
        for (int y = 0; y < kHeight; ++y) {
            for (int x = half - 2; x <= half + 1; ++x) {
                const std::uint8_t* p = picture.data() + (static_cast<size_t>(y) * kWidth + x) * 3;
                ASSERT_EQ(p[0] + p[1] + p[2], 0) << "frame " << k << " x " << x << " y " << y;
            }
        }
        // Next to the line the bands are not all black.
        int bright = 0;
        for (int y = 0; y < kHeight; ++y) {
            bright += picture[(static_cast<size_t>(y) * kWidth + half - 3) * 3] > 128;
        }
        EXPECT_GT(bright, kHeight / 4) << "frame " << k;
    }
    // The brightest byte of a fade_out frame follows the level 255 (199 - j) / 199.
    for (int j : {0, 50, 100, 150, 199}) {
        const auto& picture = contents->pictures[400 + j];
        const int brightest = *std::max_element(picture.begin(), picture.end());
        const int level = 255 * (199 - j) / 199;
        EXPECT_NEAR(brightest, level, 3) << "frame " << j << " of the fade";
    }
}

TEST_F(TypicalScript, AudioSlicesFollowTheFrames) {
    ASSERT_EQ(contents->streams[0].type, "audio");
    const size_t bytes = 600u * 7056u;
    ASSERT_EQ(contents->audio.size(), bytes);
    EXPECT_TRUE(std::equal(contents->audio.begin(), contents->audio.end(), song.begin()));
}

}  // namespace
}  // namespace zorvo
