#include "avi/WaveFile.h"

#include <gtest/gtest.h>

#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

struct LayoutCase {
    const char* name;
    WaveFormat format;
    std::size_t sampleCount;
    // Applied to the written bytes: the declared 'data' size, when set.
    std::optional<std::uint32_t> declaredDataSize;
    std::optional<std::size_t> dataOffset;  // checked when set
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

WaveFormat Extended() {
    WaveFormat format;
    format.extendedFormat = true;
    return format;
}

WaveFormat WithList(WaveFormat format) {
    format.chunksBeforeData.push_back(ListInfoChunk());
    return format;
}

WaveFormat WithTrailer(WaveFormat format) {
    format.chunksAfterData.push_back(ListInfoChunk());
    format.chunksAfterData.push_back(WaveChunk{"id3 ", {1, 2, 3, 4, 5, 6}});
    return format;
}

WaveFormat Mono8(std::uint32_t rate) {
    WaveFormat format;
    format.sampleRate = rate;
    format.channels = 1;
    format.bitsPerSample = 8;
    return format;
}

// Where the declared 'data' size sits: the chunk header right before the samples.
std::size_t DataSizeField(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t at = 12; at + 8 <= bytes.size(); ++at) {
        if (bytes[at] == 'd' && bytes[at + 1] == 'a' && bytes[at + 2] == 't' &&
            bytes[at + 3] == 'a') {
            return at + 4;
        }
    }
    return 0;
}

class WaveLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(WaveLayouts, FindsFormatAndSamples) {
    const LayoutCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File("song.wav");
    const std::vector<std::uint8_t> samples = PatternBytes(c.sampleCount, 7);
    std::vector<std::uint8_t> bytes = WaveBytes(c.format, samples);
    if (c.declaredDataSize) {
        const std::size_t field = DataSizeField(bytes);
        ASSERT_NE(field, 0u);
        for (int i = 0; i < 4; ++i) {
            bytes[field + i] = static_cast<std::uint8_t>(*c.declaredDataSize >> (8 * i));
        }
    }
    ASSERT_TRUE(WriteBinaryFile(path, bytes));

    LogCollector log;
    WaveFile wave;
    ASSERT_TRUE(wave.Load(path));
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});
    EXPECT_EQ(wave.channels, c.format.channels);
    EXPECT_EQ(wave.samplesPerSecond, c.format.sampleRate);
    EXPECT_EQ(wave.blockAlign, BlockAlignOf(c.format));
    EXPECT_EQ(wave.bitsPerSample, c.format.bitsPerSample);
    EXPECT_EQ(wave.FileSize(), bytes.size());
    if (c.dataOffset) {
        EXPECT_EQ(wave.dataOffset, *c.dataOffset);
    }
    ASSERT_EQ(wave.dataSize, samples.size());
    ASSERT_LE(wave.dataOffset + wave.dataSize, wave.FileSize());
    EXPECT_EQ(std::vector<std::uint8_t>(wave.Data() + wave.dataOffset,
                                        wave.Data() + wave.dataOffset + wave.dataSize),
              samples);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WaveLayouts,
    ::testing::Values(
        LayoutCase{"canonical_8bit_mono_odd_length", Mono8(22050), 1001, {}, 44},
        LayoutCase{"list_and_18_byte_fmt", WithList(Extended()), 4000, {}, {}},
        // Whatever follows the samples is not audio.
        LayoutCase{"odd_data_then_chunks", WithTrailer(Mono8(8000)), 999, {}, 44},
        // Writers that cannot seek back leave the size unknown: the samples run to the end.
        LayoutCase{"data_size_unknown", WaveFormat{}, 4000, 0xFFFFFFFFu, 44},
        LayoutCase{"data_size_zero", WaveFormat{}, 4000, 0u, 44}),
    [](const auto& info) { return std::string(info.param.name); });

// A 'data' chunk that claims more than the file holds ends at the end of the file.
TEST(WaveFile, TruncatedDataRunsToTheEnd) {
    TempDir dir;
    const std::string path = dir.File("cut.wav");
    const std::vector<std::uint8_t> samples = PatternBytes(1000, 3);
    std::vector<std::uint8_t> bytes = WaveBytes(WaveFormat{}, samples);
    bytes.resize(bytes.size() - 300);
    ASSERT_TRUE(WriteBinaryFile(path, bytes));
    WaveFile wave;
    ASSERT_TRUE(wave.Load(path));
    EXPECT_EQ(wave.dataOffset, 44u);
    EXPECT_EQ(wave.dataSize, 700u);
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 700, wave.Data() + 44));
}

// The format may follow the samples; both chunks are found in any order.
TEST(WaveFile, FormatAfterData) {
    TempDir dir;
    const std::string path = dir.File("late_fmt.wav");
    const std::vector<std::uint8_t> canonical = WaveBytes(WaveFormat{}, PatternBytes(64, 5));
    // RIFF header, then 'data' (8 + 64 bytes), then 'fmt ' (8 + 16 bytes).
    std::vector<std::uint8_t> bytes(canonical.begin(), canonical.begin() + 12);
    bytes.insert(bytes.end(), canonical.begin() + 36, canonical.end());
    bytes.insert(bytes.end(), canonical.begin() + 12, canonical.begin() + 36);
    ASSERT_TRUE(WriteBinaryFile(path, bytes));
    WaveFile wave;
    ASSERT_TRUE(wave.Load(path));
    EXPECT_EQ(wave.dataOffset, 20u);
    EXPECT_EQ(wave.dataSize, 64u);
    EXPECT_EQ(wave.channels, 2);
    EXPECT_EQ(wave.samplesPerSecond, 44100u);
}

}  // namespace
}  // namespace zorvo::test
