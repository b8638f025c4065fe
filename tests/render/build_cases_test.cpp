#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "RenderFixture.h"

namespace zorvo {
namespace {

using test::RunBuild;
using Texts = std::vector<std::string>;

constexpr int kNumberRange = 1 << test::kNumberBits;

class BuildCases : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        cam = test::MakeCamera(*dir, "cam.avi", 0, 700);
    }
    static void TearDownTestSuite() { delete dir; }

    std::string Script(const std::string& name, const std::string& body) {
        const std::string path = dir->File(name + ".txt");
        EXPECT_TRUE(test::WriteTextFile(path, body));
        return path;
    }
    std::string Output(const std::string& name) { return dir->File(name + ".avi"); }

    static test::TempDir* dir;
    static std::string cam;
};

test::TempDir* BuildCases::dir = nullptr;
std::string BuildCases::cam;

Texts WithoutDoneLine(const Texts& texts) {
    Texts out;
    for (const std::string& t : texts) {
        if (t.rfind("Done in ", 0) != 0) {
            out.push_back(t);
        }
    }
    return out;
}

TEST_F(BuildCases, RangeRendersOnlyItsMeasures) {
    // 240 bpm in 4/4: a measure is 1000 ms, a span of four measures 100 frames.
    test::WriteWaveFile(dir->File("stretch.wav"), test::WaveFormat{},
                        test::PatternBytes(500 * 7056, 3));
    const std::string script =
        Script("stretch",
               "output( " + Output("stretch") + ", 120, 240, point, " + dir->File("stretch.wav") +
                   " )\ninput( cam, " + cam +
                   " ) { }\nrange( 5, 9 )\n"
                   "marker( 1, 1fullscreen ) { tempo( 240 ) signature( 4, 4 ) display( cam ) }\n"
                   "marker( 5, 1fullscreen ) { display( cam ) }\n"
                   "marker( 9, 1fullscreen ) { display( cam ) }\n"
                   "marker( 13 ) { }\n");
    const auto result = RunBuild(script);
    const Texts expected = {"* Parsing script...\n",
                            "* Building timeline markers 1 to 5 (end@9) - 4/4 @ 240bpm\n",
                            "1 block(s) of 4000ms (100 frames) to compute\n",
                            "* Building timeline markers 5 to 9 (end@9) - 4/4 @ 240bpm\n",
                            "1 block(s) of 4000ms (100 frames) to compute\n",
                            "[Block 1/1]\n",
                            "Done without error.\n"};
    EXPECT_EQ(WithoutDoneLine(result.texts), expected);
    // The finish line counts the frames this render wrote, not the song frames before them.
    ASSERT_GE(result.texts.size(), 2u);
    EXPECT_EQ(test::DoneLineFrames(result.texts[result.texts.size() - 2]), 100);
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(Output("stretch"), avi, error)) << error;
    ASSERT_EQ(avi.pictures.size(), 100u);
    // The file starts with the span of measure 5, 4000 ms into the song.
    for (int k : {0, 1, 50, 99}) {
        EXPECT_EQ(test::NumberIn(avi.pictures[k], 120, 0, 120, 240), 100 + k) << k;
    }
    const auto song = test::PatternBytes(500 * 7056, 3);
    ASSERT_EQ(avi.audio.size(), 100u * 7056u);
    EXPECT_TRUE(std::equal(avi.audio.begin(), avi.audio.end(), song.begin() + 100 * 7056));
}

TEST_F(BuildCases, SlowFastAndStrobe) {
    const std::string script = Script(
        "speeds", "output( " + Output("speeds") + ", 240, 240 )\ninput( slow, " + cam +
                      " ) { }\ninput( fast, " + cam +
                      " ) { }\n"
                      "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) "
                      "display( slow ) display( fast ) speed( slow, 0.5 ) speed( fast, 2 ) }\n"
                      "marker( 2, 1fullscreen ) { effect( strobe, each_beat ) display( fast ) }\n"
                      "marker( 3 ) { }\n");
    const auto result = RunBuild(script);
    ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(Output("speeds"), avi, error)) << error;
    ASSERT_EQ(avi.pictures.size(), 100u);
    for (int j = 0; j < 50; ++j) {
        // The slow half shows every source frame twice; odd frames are blends, whose bands
        // read as one of the two neighbours or not at all.
        const int slow = test::NumberIn(avi.pictures[j], 240, 0, 117, 240);
        if (j % 2 == 0) {
            EXPECT_EQ(slow, j / 2) << j;
        } else {
            EXPECT_TRUE(slow == -1 || slow == j / 2 || slow == j / 2 + 1) << j << ": " << slow;
        }
        EXPECT_EQ(test::NumberIn(avi.pictures[j], 240, 123, 240, 240), 2 * j) << j;
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
        // Fast input keeps its speed only in its own marker: here it plays at 1.0.
        EXPECT_EQ(test::NumberIn(picture, 240, 0, 240, 240), 50 + j) << j;
    }
}

// The capture runs ahead of the furthest frame asked for, so frames far apart still come.
TEST_F(BuildCases, FastSpeedsShowEveryNthSourceFrame) {
    for (const int speed : {8, 16}) {
        const std::string name = "fast" + std::to_string(speed);
        // 240 bpm in 4/4: one measure is 25 frames.
        const auto result = RunBuild(
            Script(name, "output( " + Output(name) + ", 120, 240 )\ninput( cam, " + cam +
                             " ) { }\nmarker( 1, 1fullscreen ) { tempo( 240 ) signature( 4, 4 ) "
                             "display( cam ) speed( cam, " +
                             std::to_string(speed) + " ) }\nmarker( 2 ) { }\n"));
        ASSERT_TRUE(result.succeeded) << speed << ::testing::PrintToString(result.texts);
        test::AviContents avi;
        std::string error;
        ASSERT_TRUE(test::ReadAvi(Output(name), avi, error)) << error;
        ASSERT_EQ(avi.pictures.size(), 25u) << speed;
        for (int j = 0; j < 25; ++j) {
            EXPECT_EQ(test::NumberIn(avi.pictures[j], 120, 0, 120, 240), speed * j)
                << speed << " " << j;
        }
    }
}

TEST_F(BuildCases, Failures) {
    // A file cut short has lost the index that gave its length: its last packet tells.
    const std::string cut = test::MakeCamera(*dir, "cut-cam.avi", 0, 100, 64, 64);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) * 6 / 10);
    const auto result = RunBuild(
        Script("cut", "output( " + Output("cut") + ", 64, 64 )\ninput( cam, " + cut + " ) { }\n" +
                          "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                          "display( cam, each_beat ) }\nmarker( 3 ) { }\n"));
    EXPECT_FALSE(result.succeeded);
    ASSERT_EQ(result.texts.size(), 4u) << ::testing::PrintToString(result.texts);
    // 60 frames are left; the block at 2000 ms shows song frames 50 to 61.
    EXPECT_EQ(result.texts[1],
              "Error (Project): Input 'cam' ends at 00:02.40 but marker 1 needs it "
              "until 00:02.48, 0.08 s more (block at 00:02.00 of the song; file " +
                  cut + ").\n");
    EXPECT_FALSE(std::filesystem::exists(Output("cut")));

    // Junk in the middle of a file its headers cannot show: the render fails on the way, names
    // the file, and says which valid files it left.
    const std::string junk = test::MakeCamera(*dir, "junk-cam.avi", 0, 100, 64, 64);
    {
        std::fstream file(junk, std::ios::in | std::ios::out | std::ios::binary);
        const auto size = static_cast<std::streamoff>(std::filesystem::file_size(junk));
        file.seekp(size / 3);
        for (std::streamoff i = size / 3; i < 2 * size / 3; ++i) {
            file.put(static_cast<char>(i * 7 % 251));
        }
    }
    const auto broken = RunBuild(Script(
        "junk", "output( " + Output("junk") + ", 64, 64 )\ninput( cam, " + junk + " ) { }\n" +
                    "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                    "display( cam ) }\nmarker( 3 ) { }\n"));
    EXPECT_FALSE(broken.succeeded);
    const auto decode = std::find(broken.texts.begin(), broken.texts.end(),
                                  std::string("Error (FFMPEGCapture): Failed to decode frame.\n"));
    ASSERT_NE(decode, broken.texts.end()) << ::testing::PrintToString(broken.texts);
    EXPECT_EQ(decode[1].rfind("Error (FFMPEGCapture): input 'cam', file '" + junk +
                                  "': the file ends before source frame ",
                              0),
              0u)
        << decode[1];
    const Texts tail(broken.texts.end() - 3, broken.texts.end());
    EXPECT_EQ(tail, (Texts{"Error (Project): Failed to capture source video frames.\n",
                           "Error (Project): files left: '" + Output("junk") + "'.\n",
                           "Error (Project): Failed to build project.\n"}));
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(Output("junk"), avi, error)) << error;
    EXPECT_GT(avi.pictures.size(), 0u);
}

TEST_F(BuildCases, CancelMidBlockLeavesAReadableFile) {
    const std::string script = Script(
        "cancel", "output( " + Output("cancel") + ", 160, 240 )\ninput( cam, " + cam +
                      " ) { }\n"
                      "marker( 1, 1fullscreen ) { tempo( 60 ) signature( 4, 4 ) display( cam ) }\n"
                      "marker( 7 ) { }\n");
    test::CountingSink sink;
    LogCollector log;
    {
        CProject job(script, &sink);
        while (sink.frames.load() < 30 && log.BuildFinishedCount() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }  // destroying the job stops it
    const Texts texts = log.Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.back(), "Done without error.\n");
    const std::string& done = texts[texts.size() - 2];
    const int written = test::DoneLineFrames(done);
    EXPECT_GE(written, 30);
    EXPECT_LT(written, 600);  // one block of 600 frames, cut short
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(Output("cancel"), avi, error)) << error;
    ASSERT_EQ(static_cast<int>(avi.pictures.size()), written);
    EXPECT_EQ(test::NumberIn(avi.pictures.back(), 160, 0, 160, 240), (written - 1) % kNumberRange);
}

}  // namespace
}  // namespace zorvo
