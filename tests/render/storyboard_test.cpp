#include "render/Storyboard.h"
#include "RenderFixture.h"

namespace zorvo {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kThumb = 80;  // half the width: each thumbnail pixel averages a 2 x 2 square

// A short session at 128 bpm (two areas with a separator, an overlay, a fading span), rendered
// and taken as stills: each still is the rendered frame of its block, scaled down and captioned.
TEST(Storyboard, StillsAreTheRenderedFramesOnACaptionedSheet) {
    test::TempDir dir;
    test::MakeCamera(dir, "a.avi", 0, 200);
    test::MakeCamera(dir, "b.avi", 1000, 200);
    test::MakeCamera(dir, "c.avi", 1500, 40, kWidth, kHeight);
    const std::string script = test::WriteScript(
        dir, "song",
        "output( {dir}/song.avi, 160, 120 )\ninput( a, {dir}/a.avi, center, 300 ) { }\n"
        "input( b, {dir}/b.avi, top_left ) { contrast( 0.3 ); }\ninput( c, {dir}/c.avi ) { }\n"
        "group( g ) { a, b }\noverlay( c, 30 ) { }\n"
        "marker( 1, 1left_1right ) { tempo( 128 ) signature( 4, 4 ) separator( 4 ) "
        "effect( fade_out ) display( a, each_measure ) display( g, each_beat ) }\n"
        "marker( 3, 1fullscreen ) { display( b ) }\nmarker( 4 ) { }\n");
    ASSERT_TRUE(test::RunBuild(script).succeeded);
    const test::AviContents rendered = test::ReadBack(dir.File("song.avi"));
    ContactSheet sheet(kThumb, 4, true);
    {
        LogCollector log;
        CProject job(script, sheet, false);
        for (int i = 0; i < 120000 && log.BuildFinishedCount() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(job.Succeeded()) << ::testing::PrintToString(log.Texts());
    }

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

    // Four columns; span 1 has two rows, span 2 one, each span a header.
    const int row = ContactSheet::kGap + kHeight / 2 + ContactSheet::kCaptionHeight;
    EXPECT_EQ(picture.Width(), ContactSheet::kGap + 4 * (kThumb + ContactSheet::kGap));
    EXPECT_EQ(picture.Height(), 2 * ContactSheet::kHeaderHeight + 3 * row + ContactSheet::kGap);
    // The PNG is lossless: it holds the sheet exactly, top row first.
    ASSERT_TRUE(WritePng(picture, dir.File("sheet.png")));
    const test::AviContents png = test::ReadBack(dir.File("sheet.png"));
    ASSERT_EQ(png.pictures.size(), 1u);
    ASSERT_EQ(png.streams[0].width, picture.Width());
    ASSERT_EQ(png.streams[0].height, picture.Height());
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* line = picture.Row(picture.Height() - 1 - y);
        ASSERT_TRUE(std::equal(line, line + picture.Width() * 3,
                               png.pictures[0].begin() + y * picture.Width() * 3))
            << "row " << y;
    }
    EXPECT_FALSE(WritePng(picture, dir.File("missing/sheet.png")));
}

}  // namespace
}  // namespace zorvo
