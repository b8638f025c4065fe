#include "avi/AVIWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

struct AudioCase {
    const char* name;
    int width;
    int height;
    WaveFormat wave;
    std::string codec;
    std::size_t bytesPerFrame;
};

void PrintTo(const AudioCase& c, std::ostream* os) {
    *os << c.name;
}

class AudioAndVideo : public ::testing::TestWithParam<AudioCase> {};

TEST_P(AudioAndVideo, ReadsBackAsWritten) {
    const AudioCase& c = GetParam();
    TempDir dir;
    const std::string avi = dir.File("song.avi");
    const std::string wav = dir.File("song.wav");
    constexpr std::uint32_t kFrames = 6;
    // Half a frame more than the video needs.
    const std::vector<std::uint8_t> samples = PatternBytes(c.bytesPerFrame * kFrames + 100);
    ASSERT_TRUE(WriteWaveFile(wav, c.wave, samples));

    LogCollector log;
    {
        AVIWriter writer(avi, c.width, c.height, wav);
        ASSERT_TRUE(writer.Create(false));
        ASSERT_EQ(writer.frameBits, writer.frameBitmap.Bits());
        ASSERT_EQ(writer.frameBitmap.Width(), c.width);
        ASSERT_EQ(writer.frameBitmap.Height(), c.height);
        ASSERT_TRUE(InsertFrames(writer, 0, kFrames));
        writer.Close();
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    AviContents contents;
    std::string error;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    ASSERT_EQ(contents.streams.size(), 2u);
    const AviStreamInfo& audio = contents.streams[0];
    const AviStreamInfo& video = contents.streams[1];
    EXPECT_EQ(audio.type, "audio");
    EXPECT_EQ(audio.codec, c.codec);
    EXPECT_EQ(audio.sampleRate, static_cast<int>(c.wave.sampleRate));
    EXPECT_EQ(audio.channels, c.wave.channels);
    EXPECT_EQ(video.type, "video");
    EXPECT_EQ(video.codec, "rawvideo");
    EXPECT_EQ(video.width, c.width);
    EXPECT_EQ(video.height, c.height);
    EXPECT_EQ(video.packets, kFrames);

    ASSERT_EQ(contents.pictures.size(), kFrames);
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        EXPECT_EQ(contents.pictures[n], ExpectedPicture(c.width, c.height, n)) << "frame " << n;
    }
    const std::vector<std::uint8_t> expectedAudio(
        samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(c.bytesPerFrame * kFrames));
    EXPECT_EQ(contents.audio, expectedAudio);
    ExpectToolsQuiet(avi);
}

WaveFormat Wave(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    WaveFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerSample = bits;
    return format;
}

WaveFormat Extensible(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    WaveFormat format = Wave(rate, channels, bits);
    format.extensibleSubFormat = 1;
    return format;
}

WaveFormat WithExtraChunks(WaveFormat format) {
    format.extendedFormat = true;
    format.chunksBeforeData.push_back(ListInfoChunk());
    format.chunksAfterData.push_back(ListInfoChunk());
    return format;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AudioAndVideo,
    ::testing::Values(AudioCase{"cd_stereo", 64, 48, Wave(44100, 2, 16), "pcm_s16le", 7056},
                      AudioCase{"mono_8bit", 20, 10, Wave(22050, 1, 8), "pcm_u8", 882},
                      // The least a wave may hold: one sample a frame.
                      AudioCase{"one_sample_a_frame", 4, 4, Extensible(25, 6, 24), "pcm_s24le", 18},
                      AudioCase{"list_and_18_byte_fmt", 16, 8, WithExtraChunks(Wave(44100, 2, 16)),
                                "pcm_s16le", 7056},
                      // What ffmpeg and most audio editors write beyond 16-bit stereo.
                      AudioCase{"extensible_24bit_96k", 8, 8, Extensible(96000, 2, 24), "pcm_s24le",
                                23040}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
    int width;
    int height;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height;
}

class OddSizes : public ::testing::TestWithParam<SizeCase> {};

// Rows of 3 x width bytes that are not a multiple of 4 are stored padded; every reader then
// shows the picture straight.
TEST_P(OddSizes, PicturesComeBackStraight) {
    const SizeCase c = GetParam();
    TempDir dir;
    const std::string avi = dir.File("odd.avi");
    LogCollector log;
    {
        AVIWriter writer(avi, c.width, c.height, "");
        ASSERT_TRUE(writer.Create(false));
        ASSERT_TRUE(InsertFrames(writer, 0, 3));
        writer.Close();
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    AviContents contents;
    std::string error;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    ASSERT_EQ(contents.streams.size(), 1u);
    EXPECT_EQ(contents.streams[0].width, c.width);
    EXPECT_EQ(contents.streams[0].height, c.height);
    ASSERT_EQ(contents.pictures.size(), 3u);
    for (std::uint32_t n = 0; n < 3; ++n) {
        EXPECT_EQ(contents.pictures[n], ExpectedPicture(c.width, c.height, n)) << "frame " << n;
    }

    std::vector<RiffChunk> chunks;
    ASSERT_TRUE(ReadRiffChunks(avi, chunks, error)) << error;
    const std::size_t stride = (static_cast<std::size_t>(c.width) * 3 + 3) / 4 * 4;
    int frames = 0;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.id == "00db") {
            EXPECT_EQ(chunk.size, stride * c.height);
            ++frames;
        }
    }
    EXPECT_EQ(frames, 3);
    ExpectToolsQuiet(avi);
}

INSTANTIATE_TEST_SUITE_P(Widths, OddSizes,
                         ::testing::Values(SizeCase{641, 481}, SizeCase{1, 1}, SizeCase{5, 3}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(AVIWriterAudio, FramesPastTheWaveEndGetNoAudio) {
    TempDir dir;
    const std::string avi = dir.File("short.avi");
    const std::string wav = dir.File("short.wav");
    constexpr std::size_t kBytesPerFrame = 7056;
    // Two and a half frames of audio for five frames of video.
    const std::vector<std::uint8_t> samples = PatternBytes(kBytesPerFrame * 5 / 2);
    ASSERT_TRUE(WriteWaveFile(wav, WaveFormat{}, samples));
    LogCollector log;
    {
        AVIWriter writer(avi, 8, 8, wav);
        ASSERT_TRUE(writer.Create(false));
        ASSERT_TRUE(InsertFrames(writer, 0, 5));
        writer.Close();
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    std::vector<RiffChunk> chunks;
    std::string error;
    ASSERT_TRUE(ReadRiffChunks(avi, chunks, error)) << error;
    std::string order;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.parent == "movi") {
            order += chunk.id == "01db" ? "V" : chunk.id == "00wb" ? "A" : "?";
        }
    }
    EXPECT_EQ(order, "VAVAVVV");

    AviContents contents;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    EXPECT_EQ(contents.pictures.size(), 5u);
    EXPECT_EQ(contents.audio,
              std::vector<std::uint8_t>(samples.begin(), samples.begin() + 2 * kBytesPerFrame));
    ExpectToolsQuiet(avi);
}

// A render that starts later in the song takes the audio of the song time of its frames.
TEST(AVIWriterAudio, SkippedFramesShiftTheAudio) {
    TempDir dir;
    const std::string avi = dir.File("late.avi");
    const std::string wav = dir.File("late.wav");
    constexpr std::size_t kBytesPerFrame = 882;
    const std::vector<std::uint8_t> samples = PatternBytes(kBytesPerFrame * 20);
    ASSERT_TRUE(WriteWaveFile(wav, Wave(22050, 1, 8), samples));
    {
        AVIWriter writer(avi, 8, 4, wav);
        ASSERT_TRUE(writer.Create(false));
        writer.skippedFrames = 7;
        ASSERT_TRUE(InsertFrames(writer, 7, 4));
        writer.Close();
    }
    AviContents contents;
    std::string error;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    ASSERT_EQ(contents.pictures.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(contents.pictures[i], ExpectedPicture(8, 4, 7 + i)) << "position " << i;
    }
    EXPECT_EQ(contents.audio, std::vector<std::uint8_t>(samples.begin() + 7 * kBytesPerFrame,
                                                        samples.begin() + 11 * kBytesPerFrame));
    ExpectToolsQuiet(avi);
}

}  // namespace
}  // namespace zorvo::test
