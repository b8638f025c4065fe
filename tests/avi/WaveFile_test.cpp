#include "avi/WaveFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

struct LayoutCase {
    const char* name;
    WaveFormat format;
    std::size_t sampleCount;
    std::function<void(std::vector<std::uint8_t>&)> edit;  // applied to the written bytes
    std::optional<std::size_t> dataOffset;                 // checked when set
    std::size_t cut = 0;                                   // samples missing at the end of the file
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

// Sets the declared 'data' size: the chunk header right before the samples.
std::function<void(std::vector<std::uint8_t>&)> DeclaredSize(std::uint32_t size) {
    return [size](std::vector<std::uint8_t>& bytes) {
        for (std::size_t at = 12; at + 8 <= bytes.size(); ++at) {
            if (std::equal(bytes.begin() + at, bytes.begin() + at + 4, "data")) {
                for (int i = 0; i < 4; ++i) {
                    bytes[at + 4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
                }
                return;
            }
        }
    };
}

// The canonical file with 'fmt ' moved after 'data'.
void FormatLast(std::vector<std::uint8_t>& bytes) {
    std::rotate(bytes.begin() + 12, bytes.begin() + 36, bytes.end());
}

class WaveLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(WaveLayouts, FindsFormatAndSamples) {
    const LayoutCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File("song.wav");
    const std::vector<std::uint8_t> samples = PatternBytes(c.sampleCount, 7);
    std::vector<std::uint8_t> bytes = WaveBytes(c.format, samples);
    if (c.edit) {
        c.edit(bytes);
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
    ASSERT_EQ(wave.dataSize, samples.size() - c.cut);
    ASSERT_LE(wave.dataOffset + wave.dataSize, wave.FileSize());
    EXPECT_EQ(std::vector<std::uint8_t>(wave.Data() + wave.dataOffset,
                                        wave.Data() + wave.dataOffset + wave.dataSize),
              std::vector<std::uint8_t>(samples.begin(), samples.end() - c.cut));
}

INSTANTIATE_TEST_SUITE_P(
    Files, WaveLayouts,
    ::testing::Values(
        LayoutCase{"canonical_8bit_mono_odd_length", Mono8(22050), 1001, {}, 44},
        LayoutCase{"list_and_18_byte_fmt", WithList(Extended()), 4000, {}, {}},
        // Whatever follows the samples is not audio.
        LayoutCase{"odd_data_then_chunks", WithTrailer(Mono8(8000)), 999, {}, 44},
        // Writers that cannot seek back leave the size unknown: the samples run to the end.
        LayoutCase{"data_size_unknown", WaveFormat{}, 4000, DeclaredSize(0xFFFFFFFFu), 44},
        LayoutCase{"data_size_zero", WaveFormat{}, 4000, DeclaredSize(0), 44},
        // A 'data' chunk that claims more than the file holds ends at the end of the file.
        LayoutCase{"truncated_data", WaveFormat{}, 1000,
                   [](std::vector<std::uint8_t>& b) { b.resize(b.size() - 300); }, 44, 300},
        // The chunks are found in any order.
        LayoutCase{"format_after_data", WaveFormat{}, 64, FormatLast, 20}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorvo::test
