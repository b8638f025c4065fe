#include <cstdlib>

#include "RenderFixture.h"
#include "render/Storyboard.h"
#include "render/TimelineWalk.h"

namespace zorvo {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kThumb = 80;  // half the width: each thumbnail pixel averages a 2 x 2 square

// Runs a storyboard job to its finish message; `decoded` receives the pictures it decoded.
bool RunStills(const std::string& scriptPath, ContactSheet& sheet, bool firstBlockOnly,
               std::uint64_t* decoded = nullptr) {
    LogCollector log;
    CProject job(scriptPath, sheet, firstBlockOnly);
    for (int i = 0; i < 120000 && log.BuildFinishedCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (decoded) {
        *decoded = job.DecodedPictures();
    }
    return job.Succeeded();
}

// A short session at 128 bpm: two areas with a separator, an overlay, and a fading span.
class Storyboard : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        test::MakeCamera(*dir, "a.avi", 0, 200);
        test::MakeCamera(*dir, "b.avi", 1000, 200);
        test::MakeCamera(*dir, "c.avi", 1500, 40, kWidth, kHeight);
        const std::string script =
            "output( " + dir->File("song.avi") + ", 160, 120 )\n" + "input( a, " +
            dir->File("a.avi") + ", center, 300 ) { }\n" + "input( b, " + dir->File("b.avi") +
            ", top_left ) { contrast( 0.3 ); }\n" + "input( c, " + dir->File("c.avi") + " ) { }\n" +
            "group( g ) { a, b }\n"
            "overlay( c, 30 ) { }\n"
            "marker( 1, 1left_1right ) { tempo( 128 ) signature( 4, 4 ) separator( 4 ) "
            "effect( fade_out ) display( a, each_measure ) display( g, each_beat ) }\n"
            "marker( 3, 1fullscreen ) { display( b ) }\n"
            "marker( 4 ) { }\n";
        ASSERT_TRUE(test::WriteTextFile(dir->File("song.txt"), script));
        render = new test::BuildResult(test::RunBuild(dir->File("song.txt")));
        contents = new test::AviContents;
        std::string error;
        ASSERT_TRUE(test::ReadAvi(dir->File("song.avi"), *contents, error)) << error;
        sheet = new ContactSheet(kThumb, 4, true);
        stillsOk = RunStills(dir->File("song.txt"), *sheet, false);
    }
    static void TearDownTestSuite() {
        delete sheet;
        delete contents;
        delete render;
        delete dir;
    }

    static test::TempDir* dir;
    static test::BuildResult* render;
    static test::AviContents* contents;
    static ContactSheet* sheet;
    static bool stillsOk;
};

test::TempDir* Storyboard::dir = nullptr;
test::BuildResult* Storyboard::render = nullptr;
test::AviContents* Storyboard::contents = nullptr;
ContactSheet* Storyboard::sheet = nullptr;
bool Storyboard::stillsOk = false;

TEST_F(Storyboard, EveryThumbnailIsTheRenderedFrameScaledDown) {
    ASSERT_TRUE(render->succeeded);
    ASSERT_TRUE(stillsOk);
    // Two measures of 1875 ms in blocks of 468.75 ms, then one block of a measure.
    const std::vector<Still>& stills = sheet->Stills();
    ASSERT_EQ(stills.size(), 9u);
    struct Expected {
        std::size_t still;
        std::int64_t frame;
        std::string position;
        std::string songTime;
        std::string cameras;
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
    for (const Still& still : stills) {
        ASSERT_LT(still.frame, static_cast<std::int64_t>(contents->pictures.size()));
        const std::vector<std::uint8_t>& frame = contents->pictures[still.frame];
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
    }
}

TEST_F(Storyboard, AreasShowingOneCameraDecodeItOnce) {
    // The second area of a block takes the decoder the first one left on the same picture.
    const std::string head = "output( " + dir->File("o.avi") + ", 160, 120 )\ninput( a, " +
                             dir->File("a.avi") + ", center, 300 ) { }\n";
    const std::string one =
        "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 7, 8 ) "
        "display( a, each_beat ) }\nmarker( 2 ) { }\n";
    const std::string two =
        "marker( 1, 1left_1right ) { tempo( 93 ) signature( 7, 8 ) "
        "display( a, each_beat ) display( a, each_measure ) }\n"
        "marker( 2 ) { }\n";
    std::uint64_t decoded[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string path = dir->File("areas" + std::to_string(i) + ".txt");
        ASSERT_TRUE(test::WriteTextFile(path, head + (i == 0 ? one : two)));
        ContactSheet stills(kThumb, 4, true);
        ASSERT_TRUE(RunStills(path, stills, false, &decoded[i]));
        EXPECT_EQ(stills.Stills().size(), 7u);  // a measure of seven beats
    }
    EXPECT_GT(decoded[0], 7u);
    EXPECT_EQ(decoded[1], decoded[0]);
}

TEST_F(Storyboard, SheetLayoutCaptionsAndPng) {
    ASSERT_TRUE(stillsOk);
    const FrameBitmap& picture = sheet->Sheet();  // composed by the run
    // Four columns of 80 + 8; span 1 has two rows of four, span 2 one row; each span has a
    // header, each row a caption under its thumbnails.
    const int row = ContactSheet::kGap + kHeight / 2 + ContactSheet::kCaptionHeight;
    EXPECT_EQ(picture.Width(), ContactSheet::kGap + 4 * (kThumb + ContactSheet::kGap));
    EXPECT_EQ(picture.Height(), 2 * ContactSheet::kHeaderHeight + 3 * row + ContactSheet::kGap);
    EXPECT_EQ(sheet->ThumbnailRect(5),
              (Rect{ContactSheet::kGap + kThumb + ContactSheet::kGap,
                    ContactSheet::kHeaderHeight + row + ContactSheet::kGap,
                    2 * (ContactSheet::kGap + kThumb),
                    ContactSheet::kHeaderHeight + row + ContactSheet::kGap + kHeight / 2}));
    EXPECT_EQ(sheet->ThumbnailRect(8).top,
              2 * ContactSheet::kHeaderHeight + 2 * row + ContactSheet::kGap);

    // Caption text is drawn, white on black, under each thumbnail.
    for (std::size_t i = 0; i < sheet->Stills().size(); ++i) {
        const Rect r = sheet->ThumbnailRect(i);
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

    const std::string png = dir->File("sheet.png");
    ASSERT_TRUE(WritePng(picture, png));
    test::AviContents read;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(png, read, error)) << error;
    ASSERT_EQ(read.pictures.size(), 1u);
    ASSERT_EQ(read.streams[0].width, picture.Width());
    ASSERT_EQ(read.streams[0].height, picture.Height());
    // Lossless: the file holds the sheet exactly, top row first.
    for (int y = 0; y < picture.Height(); y += 37) {
        const std::uint8_t* line = picture.Row(picture.Height() - 1 - y);
        EXPECT_TRUE(std::equal(line, line + picture.Stride(),
                               read.pictures[0].begin() + y * picture.Stride()))
            << "row " << y;
    }
    EXPECT_FALSE(WritePng(picture, dir->File("missing/sheet.png")));
}

}  // namespace
}  // namespace zorvo
