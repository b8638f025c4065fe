#include <filesystem>
#include <fstream>

#include "RenderFixture.h"
#include "render/Storyboard.h"

namespace zorvo {
namespace {

using test::RunBuild;
using Texts = std::vector<std::string>;

using test::kNumberRange;

using Build = test::RenderSuite;

// The guide's typical script: cam1 from 1200 ms in beside both cameras taking turns every beat,
// then cam2 fading out; the song is exactly as long as the render.
TEST_F(Build, TypicalScriptFrameByFrame) {
    constexpr int kSide = 240;
    constexpr int kHalf = kSide / 2;
    test::CountingSink sink;
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
    EXPECT_EQ(test::DoneLineFrames(result.texts[expected.size()]), 600);
    EXPECT_EQ(result.texts.back(), "Done without error.\n");
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.finished, 1);
    EXPECT_EQ(sink.frames.load(), 600);

    const test::AviContents avi = test::ReadBack(Output("typical"));
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
        EXPECT_EQ(test::NumberIn(avi.pictures[k], kSide, 0, kHalf - 3, kSide), cam1) << k;
        EXPECT_EQ(test::NumberIn(avi.pictures[k], kSide, kHalf + 3, kSide, kSide),
                  right % kNumberRange)
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
            EXPECT_EQ(test::NumberIn(picture, kSide, 0, kSide, kSide), (1400 + j) % kNumberRange)
                << j;
        }
        EXPECT_NEAR(*std::max_element(picture.begin(), picture.end()), 255 * (199 - j) / 199, 3)
            << j;
    }
    // Every frame carries its slice of the song, the last one included.
    EXPECT_TRUE(avi.audio == song);
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
    const test::AviContents avi = test::ReadBack(Output("speeds"));
    ASSERT_EQ(avi.pictures.size(), 125u);
    const auto left = [&](int k) { return test::NumberIn(avi.pictures[k], 240, 0, 117, 240); };
    const auto right = [&](int k) { return test::NumberIn(avi.pictures[k], 240, 123, 240, 240); };
    for (int j = 0; j < 50; ++j) {
        // Odd frames at half speed are blends, whose bands read as one of the two neighbours
        // or not at all.
        const int slow = left(j);
        if (j % 2 == 0) {
            EXPECT_EQ(slow, j / 2) << j;
        } else {
            EXPECT_TRUE(slow == -1 || slow == j / 2 || slow == j / 2 + 1) << j << ": " << slow;
        }
        EXPECT_EQ(right(j), 2 * j) << j;
    }
    // Strobe each beat at 120 bpm: the first picture at or after every 500 ms of the block
    // flashes; a flashed picture has no black left (every byte at least 64).
    for (int j = 0; j < 50; ++j) {
        const auto& picture = avi.pictures[50 + j];
        const int darkest = *std::min_element(picture.begin(), picture.end());
        if (j == 0 || j == 13 || j == 25 || j == 38) {
            EXPECT_GE(darkest, 60) << j;
        } else {
            EXPECT_LT(darkest, 30) << j;
        }
        EXPECT_EQ(test::NumberIn(picture, 240, 0, 240, 240), 50 + j) << j;
    }
    // A 240 bpm measure from 4000 ms (source frame 100): 25 frames.
    for (int j = 0; j < 25; ++j) {
        EXPECT_EQ(left(100 + j), 100 + 8 * j) << j;
        EXPECT_EQ(right(100 + j), (100 + 16 * j) % kNumberRange) << j;
    }
}

// Junk in the middle of a file its headers cannot show: the render fails on the way and says
// which valid files it left.
TEST_F(Build, JunkInACameraStopsTheRender) {
    const std::string junk = test::MakeCamera(*dir, "junk-cam.avi", 0, 100, 64, 64);
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
                     "Error (Project): files left: '" + Output("junk") + "'.\n",
                     "Error (Project): Failed to build project.\n"}));
    EXPECT_GT(test::ReadBack(Output("junk")).pictures.size(), 0u);
}

TEST_F(Build, CancelMidBlockLeavesAReadableFile) {
    test::CountingSink sink;
    const auto result = test::RunJob(
        [&sink] { return sink.frames.load() >= 30; },
        Script("cancel",
               "output( {dir}/cancel.avi, 160, 240 )\ninput( cam, {dir}/cam1.avi ) { }\n"
               "marker( 1, 1fullscreen ) { tempo( 60 ) signature( 4, 4 ) display( cam ) }\n"
               "marker( 7 ) { }\n"),
        static_cast<FrameSink*>(&sink));
    ASSERT_GE(result.texts.size(), 2u);
    EXPECT_EQ(result.texts.back(), "Done without error.\n");
    const int written = test::DoneLineFrames(result.texts[result.texts.size() - 2]);
    EXPECT_GE(written, 30);
    EXPECT_LT(written, 600);  // one block of 600 frames, cut short
    const test::AviContents avi = test::ReadBack(Output("cancel"));
    ASSERT_EQ(static_cast<int>(avi.pictures.size()), written);
    EXPECT_EQ(test::NumberIn(avi.pictures.back(), 160, 0, 160, 240), (written - 1) % kNumberRange);
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
    ASSERT_TRUE(test::RunBuild(script).succeeded);
    const test::AviContents rendered = test::ReadBack(Output("stills"));
    ContactSheet sheet(kThumb, 4, true);
    ASSERT_TRUE(test::RunJob({}, script, sheet, false).succeeded);

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

    // The PNG is lossless: it holds the sheet exactly, top row first.
    ASSERT_TRUE(WritePng(picture, dir->File("sheet.png")));
    const test::AviContents png = test::ReadBack(dir->File("sheet.png"));
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

}  // namespace
}  // namespace zorvo
