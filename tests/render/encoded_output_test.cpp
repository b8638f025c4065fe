#include <cmath>
#include <cstdlib>

#include "RenderFixture.h"
#include "support/MediaReader.h"

namespace zorvo {
namespace {

using test::RunBuild;

constexpr int kSide = 240;
constexpr int kSamplesPerFrame = 1764;  // 44100 Hz at 25 frames a second
constexpr int kAacFrame = 1024;
constexpr int kToneStart = 30000;  // first sample of the song that is not silent

// A song that is silent, then a loud tone, so that its start can be found in lossy audio too.
std::vector<std::uint8_t> Song(int frames) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < frames * kSamplesPerFrame; ++i) {
        const double tone = i < kToneStart ? 0 : 16000 * std::sin(i * 2 * M_PI * 1000 / 44100);
        const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(tone));
        for (int channel = 0; channel < 2; ++channel) {
            bytes.push_back(static_cast<std::uint8_t>(value));
            bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        }
    }
    return bytes;
}

// Index of the first sample frame louder than half the tone, or -1.
long Onset(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 8000) {
            return static_cast<long>(i / 2);
        }
    }
    return -1;
}

// Two cameras that take turns every beat at 140 bpm in 7/8 (a measure of 1500 ms), rendered
// once to AVI for reference.
class EncodedOutput : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        test::MakeCamera(*dir, "cam1.avi", 0, 200);
        test::MakeCamera(*dir, "cam2.avi", 1000, 200);
        ASSERT_TRUE(test::WriteWaveFile(dir->File("song.wav"), test::WaveFormat{}, Song(200)));
        reference = new test::MediaContents;
        ASSERT_TRUE(RunBuild(Script("song.avi")).succeeded);
        std::string error;
        ASSERT_TRUE(test::ReadMedia(dir->File("song.avi"), *reference, error)) << error;
    }
    static void TearDownTestSuite() {
        delete reference;
        delete dir;
    }
    static std::string Script(const std::string& output, const std::string& extra = "",
                              int width = kSide) {
        const std::string path = dir->File(output + ".txt");
        test::WriteTextFile(
            path, "output( " + dir->File(output) + ", " + std::to_string(width) + ", " +
                      std::to_string(kSide) + ", bicubic, " + dir->File("song.wav") +
                      " )\ninput( cam1, " + dir->File("cam1.avi") + " ) { }\ninput( cam2, " +
                      dir->File("cam2.avi") + " ) { }\ngroup( both ) { cam1, cam2 }\n" + extra +
                      "marker( 1, 1fullscreen ) { tempo( 140 ) signature( 7, 8 ) "
                      "display( both, each_beat ) }\nmarker( 2, 1fullscreen ) { display( both, "
                      "each_beat ) }\nmarker( 3 ) { }\n");
        return path;
    }
    static test::TempDir* dir;
    static test::MediaContents* reference;
};

test::TempDir* EncodedOutput::dir = nullptr;
test::MediaContents* EncodedOutput::reference = nullptr;

TEST_P(EncodedOutput, SameFramesAndSoundAsTheAvi) {
    const std::string name = std::string("song.") + GetParam();
    const auto result = RunBuild(Script(name));
    ASSERT_TRUE(result.succeeded);
    EXPECT_EQ(result.texts.back(), "Done without error.\n");
    test::MediaContents encoded;
    std::string error;
    ASSERT_TRUE(test::ReadMedia(dir->File(name), encoded, error)) << error;

    EXPECT_EQ(encoded.videoCodec, "h264");
    EXPECT_EQ(encoded.rateNum * 1.0 / encoded.rateDen, 25.0);
    EXPECT_EQ(encoded.colorSpace, "smpte170m");
    EXPECT_EQ(encoded.colorRange, "tv");
    ASSERT_GT(reference->pictures.size(), 60u);
    ASSERT_EQ(encoded.pictures.size(), reference->pictures.size());
    for (std::size_t k = 0; k < encoded.pictures.size(); ++k) {
        EXPECT_NEAR(encoded.pictureTimes[k], k / 25.0, 1e-6) << k;
        EXPECT_GE(test::Psnr(encoded.pictures[k], reference->pictures[k]), 40.0) << k;
        const int number = test::NumberIn(reference->pictures[k], kSide, 0, kSide, kSide);
        EXPECT_GE(number, 0) << k;
        EXPECT_EQ(test::NumberIn(encoded.pictures[k], kSide, 0, kSide, kSide), number) << k;
    }

    EXPECT_LE(std::filesystem::file_size(dir->File(name)) * 20,
              std::filesystem::file_size(dir->File("song.avi")));
    EXPECT_EQ(encoded.sampleRate, 44100);
    EXPECT_EQ(encoded.channels, 2);
    EXPECT_EQ(encoded.audioStart, 0.0);
    const std::vector<std::int16_t>& expected = reference->samples;
    ASSERT_EQ(expected.size(), reference->pictures.size() * kSamplesPerFrame * 2);
    if (encoded.audioCodec == "flac") {
        EXPECT_TRUE(encoded.samples == expected);
    } else {
        EXPECT_EQ(encoded.audioCodec, "aac");
        EXPECT_NEAR(static_cast<double>(encoded.samples.size()), expected.size(), 2 * kAacFrame);
        EXPECT_NEAR(Onset(encoded.samples), kToneStart, kAacFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, EncodedOutput, ::testing::Values("mkv", "mp4", "mov"));

TEST_F(EncodedOutput, RangeCarriesTheSoundOfItsOwnStretch) {
    const auto result = RunBuild(Script("stretch.mkv", "range( 2, 3 )\n"));
    ASSERT_TRUE(result.succeeded);
    test::MediaContents encoded;
    std::string error;
    ASSERT_TRUE(test::ReadMedia(dir->File("stretch.mkv"), encoded, error)) << error;
    // The second measure only.
    const std::size_t frames = encoded.pictures.size();
    ASSERT_LT(frames, reference->pictures.size() * 2 / 3);
    ASSERT_GT(frames, reference->pictures.size() / 3);
    const std::size_t skipped = reference->pictures.size() - frames;
    for (std::size_t k = 0; k < frames; ++k) {
        EXPECT_EQ(test::NumberIn(encoded.pictures[k], kSide, 0, kSide, kSide),
                  test::NumberIn(reference->pictures[skipped + k], kSide, 0, kSide, kSide))
            << k;
    }
    const std::vector<std::int16_t> stretch(
        reference->samples.begin() + static_cast<long>(skipped * kSamplesPerFrame * 2),
        reference->samples.end());
    EXPECT_TRUE(encoded.samples == stretch);
}

TEST_F(EncodedOutput, OddSizeIsRefused) {
    const auto result = RunBuild(Script("odd.mp4", "", kSide + 1));
    EXPECT_FALSE(result.succeeded);
    const std::vector<std::string> tail(result.texts.end() - 3, result.texts.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "Error (Encoder): Failed to create encoder: H.264 output needs an even "
                        "width and height.\n",
                        "Error (Project): Failed to create encoder.\n",
                        "Error (Project): Failed to build project.\n"}));
    EXPECT_FALSE(std::filesystem::exists(dir->File("odd.mp4")));
}

}  // namespace
}  // namespace zorvo
