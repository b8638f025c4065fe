#include "avi/AVIWriter.h"

#include <gtest/gtest.h>

#include <optional>

#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

struct AviCase {
    const char* name;
    int width;
    int height;
    std::optional<WaveFormat> wave;  // none: a silent file
    std::string codec;
    std::size_t bytesPerFrame;
    std::size_t waveBytes;
    std::uint32_t skipped;  // a render that starts later in the song
    std::uint32_t frames;
};

void PrintTo(const AviCase& c, std::ostream* os) {
    *os << c.name;
}

class AviWrite : public ::testing::TestWithParam<AviCase> {};

TEST_P(AviWrite, ReadsBackAsWritten) {
    const AviCase& c = GetParam();
    TempDir dir;
    const std::string avi = dir.File("song.avi");
    const std::string wav = c.wave ? dir.File("song.wav") : "";
    const std::vector<std::uint8_t> samples = PatternBytes(c.waveBytes);
    ASSERT_TRUE(!c.wave || WriteWaveFile(wav, *c.wave, samples));
    LogCollector log;
    {
        AVIWriter writer(avi, c.width, c.height, wav);
        ASSERT_TRUE(writer.Create(false));
        ASSERT_EQ(writer.frameBits, writer.frameBitmap.Bits());
        writer.skippedFrames = c.skipped;
        ASSERT_TRUE(InsertFrames(writer, c.skipped, c.frames));
        writer.Close();
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    // Each frame takes the audio of its song time, while the wave lasts, right after it.
    std::vector<std::uint8_t> audio;
    std::string order;
    for (std::size_t n = c.skipped; n < c.skipped + c.frames; ++n) {
        order += "V";
        if (c.wave && (n + 1) * c.bytesPerFrame <= samples.size()) {
            order += "A";
            audio.insert(audio.end(), samples.begin() + n * c.bytesPerFrame,
                         samples.begin() + (n + 1) * c.bytesPerFrame);
        }
    }
    AviContents contents;
    std::string error;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    ASSERT_EQ(contents.streams.size(), c.wave ? 2u : 1u);
    const AviStreamInfo& video = contents.streams.back();
    EXPECT_EQ(video.codec, "rawvideo");
    EXPECT_EQ(video.width, c.width);
    EXPECT_EQ(video.height, c.height);
    if (c.wave) {
        EXPECT_EQ(contents.streams[0].codec, c.codec);
        EXPECT_EQ(contents.streams[0].sampleRate, static_cast<int>(c.wave->sampleRate));
        EXPECT_EQ(contents.streams[0].channels, c.wave->channels);
    }
    ASSERT_EQ(contents.pictures.size(), c.frames);
    for (std::uint32_t i = 0; i < c.frames; ++i) {
        EXPECT_EQ(contents.pictures[i], ExpectedPicture(c.width, c.height, c.skipped + i))
            << "position " << i;
    }
    EXPECT_EQ(contents.audio, audio);

    // Rows of 3 x width bytes that are not a multiple of 4 are stored padded.
    std::vector<RiffChunk> chunks;
    ASSERT_TRUE(ReadRiffChunks(avi, chunks, error)) << error;
    const std::string videoId = c.wave ? "01db" : "00db";
    const std::size_t stride = (static_cast<std::size_t>(c.width) * 3 + 3) / 4 * 4;
    std::string stored;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.parent == "movi") {
            stored += chunk.id == videoId ? "V" : chunk.id == "00wb" ? "A" : "?";
            if (chunk.id == videoId) {
                EXPECT_EQ(chunk.size, stride * c.height);
            }
        }
    }
    EXPECT_EQ(stored, order);
    ExpectToolsQuiet(avi);
}

WaveFormat Wave(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits,
                bool extensible = false) {
    WaveFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerSample = bits;
    if (extensible) {
        format.extensibleSubFormat = 1;
    }
    return format;
}

WaveFormat WithExtraChunks(WaveFormat format) {
    format.extendedFormat = true;
    format.chunksBeforeData.push_back(ListInfoChunk());
    format.chunksAfterData.push_back(ListInfoChunk());
    return format;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AviWrite,
    ::testing::Values(
        // Half a frame of audio more than the video needs.
        AviCase{"cd_stereo", 64, 48, Wave(44100, 2, 16), "pcm_s16le", 7056, 7056 * 6 + 100, 0, 6},
        AviCase{"mono_8bit", 20, 10, Wave(22050, 1, 8), "pcm_u8", 882, 882 * 6 + 100, 0, 6},
        // The least a wave may hold: one sample a frame.
        AviCase{"one_sample_a_frame", 4, 4, Wave(25, 6, 24, true), "pcm_s24le", 18, 18 * 6, 0, 6},
        AviCase{"list_and_18_byte_fmt", 16, 8, WithExtraChunks(Wave(44100, 2, 16)), "pcm_s16le",
                7056, 7056 * 6 + 100, 0, 6},
        // What ffmpeg and most audio editors write beyond 16-bit stereo.
        AviCase{"extensible_24bit_96k", 8, 8, Wave(96000, 2, 24, true), "pcm_s24le", 23040,
                23040 * 6 + 100, 0, 6},
        AviCase{"past_the_wave_end", 8, 8, WaveFormat{}, "pcm_s16le", 7056, 7056 * 5 / 2, 0, 5},
        AviCase{"skipped_frames", 8, 4, Wave(22050, 1, 8), "pcm_u8", 882, 882 * 20, 7, 4},
        AviCase{"silent_641x481", 641, 481, std::nullopt, "", 0, 0, 0, 3},
        AviCase{"silent_1x1", 1, 1, std::nullopt, "", 0, 0, 0, 3},
        AviCase{"silent_5x3", 5, 3, std::nullopt, "", 0, 0, 0, 3}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorvo::test
