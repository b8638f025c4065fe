#include <cstdlib>

#include "RenderFixture.h"
#include "support/MediaReader.h"

namespace zorvo {
namespace {

using test::RunBuild;
using EncodedOutput = test::RenderSuite;

constexpr int kSide = 240;
constexpr int kSamplesPerFrame = 1764;  // 44100 Hz at 25 frames a second
constexpr int kAacFrame = 1024;

// Index of the first sample frame louder than a quarter of full scale, or -1.
long Onset(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 8000) {
            return static_cast<long>(i / 2);
        }
    }
    return -1;
}

test::MediaContents ReadEncoded(const std::string& path) {
    test::MediaContents contents;
    std::string error;
    EXPECT_TRUE(test::ReadMedia(path, contents, error)) << error;
    return contents;
}

// Two cameras that take turns every beat at 140 bpm in 7/8 (a measure of 1500 ms), rendered to
// AVI for reference, then as H.264 in every container, with lossless FLAC or AAC sound. A range
// from measure 2 skips the 37 frames (1500 ms) before it, its sound included; H.264 refuses an
// odd size before any file exists.
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
                          ", 240, bicubic, {dir}/song.wav )\ninput( cam1, {dir}/cam1.avi ) { }\n"
                          "input( cam2, {dir}/cam2.avi ) { }\ngroup( both ) { cam1, cam2 }\n" +
                          extra +
                          "marker( 1, 1fullscreen ) { tempo( 140 ) signature( 7, 8 ) "
                          "display( both, each_beat ) }\nmarker( 2, 1fullscreen ) { display( both, "
                          "each_beat ) }\nmarker( 3 ) { }\n");
    };
    ASSERT_TRUE(RunBuild(script("song.avi", "", kSide)).succeeded);
    const test::MediaContents reference = ReadEncoded(dir->File("song.avi"));
    ASSERT_EQ(reference.pictures.size(), 75u);
    ASSERT_EQ(reference.samples.size(), 75u * kSamplesPerFrame * 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = RunBuild(script(c.name, c.extra, c.width));
        if (c.width % 2 != 0) {
            EXPECT_FALSE(result.succeeded);
            EXPECT_EQ(std::vector<std::string>(result.texts.end() - 3, result.texts.end()),
                      (std::vector<std::string>{
                          "Error (Encoder): Failed to create encoder: H.264 output needs an even "
                          "width and height.\n",
                          "Error (Project): Failed to create encoder.\n",
                          "Error (Project): Failed to build project.\n"}));
            EXPECT_FALSE(std::filesystem::exists(dir->File(c.name)));
            continue;
        }
        ASSERT_TRUE(result.succeeded);
        EXPECT_EQ(result.texts.back(), "Done without error.\n");
        const test::MediaContents encoded = ReadEncoded(dir->File(c.name));
        EXPECT_EQ(encoded.videoCodec, "h264");
        EXPECT_EQ(encoded.rateNum * 1.0 / encoded.rateDen, 25.0);
        EXPECT_EQ(encoded.colorSpace, "smpte170m");
        EXPECT_EQ(encoded.colorRange, "tv");
        ASSERT_EQ(encoded.pictures.size(), reference.pictures.size() - c.skipped);
        for (std::size_t k = 0; k < encoded.pictures.size(); ++k) {
            EXPECT_NEAR(encoded.pictureTimes[k], k / 25.0, 1e-6) << k;
            EXPECT_GE(test::Psnr(encoded.pictures[k], reference.pictures[c.skipped + k]), 40.0)
                << k;
        }
        if (c.skipped == 0) {
            EXPECT_LE(std::filesystem::file_size(dir->File(c.name)) * 20,
                      std::filesystem::file_size(dir->File("song.avi")));
        }
        EXPECT_EQ(encoded.sampleRate, 44100);
        EXPECT_EQ(encoded.channels, 2);
        EXPECT_EQ(encoded.audioStart, 0.0);
        const std::vector<std::int16_t> sound(
            reference.samples.begin() + static_cast<long>(c.skipped * kSamplesPerFrame * 2),
            reference.samples.end());
        if (encoded.audioCodec == "flac") {
            EXPECT_TRUE(encoded.samples == sound);
        } else {
            EXPECT_EQ(encoded.audioCodec, "aac");
            EXPECT_NEAR(static_cast<double>(encoded.samples.size()), sound.size(), 2 * kAacFrame);
            // The encoder's priming is dropped: the song's sound starts at once.
            EXPECT_LT(Onset(encoded.samples), kAacFrame / 2);
        }
    }
}

}  // namespace
}  // namespace zorvo
