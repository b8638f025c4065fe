#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "avi/AVIWriter.h"
#include "avi/FramePattern.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

// One file of 3 frames, 6 x 4 pixels (rows of 18 bytes stored as 20), with CD audio.
class AVIHeaders : public ::testing::Test {
  protected:
    static constexpr std::uint32_t kFrames = 3;
    static constexpr int kWidth = 6;
    static constexpr int kHeight = 4;
    static constexpr std::uint32_t kFrameBytes = 20 * kHeight;

    void SetUp() override {
        avi = dir.File("song.avi");
        const std::string wav = dir.File("song.wav");
        ASSERT_TRUE(WriteWaveFile(wav, WaveFormat{}, PatternBytes(7056 * 10)));
        {
            AVIWriter writer(avi, kWidth, kHeight, wav);
            ASSERT_TRUE(writer.Create(false));
            ASSERT_TRUE(InsertFrames(writer, 0, kFrames));
            writer.Close();
        }
        std::string error;
        ASSERT_TRUE(ReadRiffChunks(avi, chunks, error)) << error;
    }

    // The n-th chunk (0-based) with this id.
    const RiffChunk* Find(const std::string& id, int n = 0) const {
        for (const RiffChunk& chunk : chunks) {
            if (chunk.id == id && n-- == 0) {
                return &chunk;
            }
        }
        return nullptr;
    }

    TempDir dir;
    std::string avi;
    std::vector<RiffChunk> chunks;
};

TEST_F(AVIHeaders, ChunkTreeIsAvi10) {
    std::vector<std::string> tree;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.parent != "movi") {
            tree.push_back(chunk.id + (chunk.listType.empty() ? "" : ":" + chunk.listType));
        }
    }
    const std::vector<std::string> expected = {"RIFF:AVI ", "LIST:hdrl", "avih",      "LIST:strl",
                                               "strh",      "strf",      "LIST:strl", "strh",
                                               "strf",      "LIST:movi", "idx1"};
    EXPECT_EQ(tree, expected);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks[0].size + 8, std::filesystem::file_size(avi));
}

// A header body as its 32-bit little-endian words.
std::vector<std::uint32_t> Words(const RiffChunk* chunk) {
    std::vector<std::uint32_t> words;
    for (std::size_t at = 0; chunk && at + 4 <= chunk->body.size(); at += 4) {
        words.push_back(U32At(chunk->body, at));
    }
    return words;
}

TEST_F(AVIHeaders, StreamHeadersAndFormats) {
    const std::vector<std::uint32_t> avih = Words(Find("avih"));
    ASSERT_EQ(avih.size(), 14u);
    EXPECT_EQ(avih[0], 40000u);        // microseconds a frame
    EXPECT_EQ(avih[3] & 0x10, 0x10u);  // has an index
    EXPECT_EQ(avih[4], kFrames);
    EXPECT_EQ(avih[6], 2u);     // streams
    EXPECT_GE(avih[7], 7056u);  // suggested buffer: the largest chunk
    EXPECT_EQ(avih[8], std::uint32_t{kWidth});
    EXPECT_EQ(avih[9], std::uint32_t{kHeight});

    // Audio comes first: scale = block align, rate = bytes a second, length in samples.
    EXPECT_EQ(FourCCAt(Find("strh", 0)->body, 0), "auds");
    EXPECT_EQ(Words(Find("strh", 0)),
              (std::vector<std::uint32_t>{Words(Find("strh", 0))[0], 0, 0, 0, 0, 4, 176400, 0,
                                          kFrames * 1764, 0, 0xFFFFFFFFu, 4, 0, 0}));
    // The 18-byte wave format: the WAVE file's six fields and an extra size of 0.
    EXPECT_EQ(Find("strf", 0)->body, (std::vector<std::uint8_t>{1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                                                0xB1, 2, 0, 4, 0, 16, 0, 0, 0}));

    // Video: uncompressed bottom-up DIB at 25 frames a second, frame rectangle 0 0 w h.
    const RiffChunk* strh = Find("strh", 1);
    EXPECT_EQ(FourCCAt(strh->body, 0) + FourCCAt(strh->body, 4), "vidsDIB ");
    EXPECT_EQ(Words(strh),
              (std::vector<std::uint32_t>{Words(strh)[0], Words(strh)[1], 0, 0, 0, 40, 1000, 0,
                                          kFrames, kFrameBytes, 0, 0, 0, kWidth | kHeight << 16}));
    EXPECT_EQ(Words(Find("strf", 1)), (std::vector<std::uint32_t>{40, kWidth, kHeight, 1 | 24 << 16,
                                                                  0, kFrameBytes, 0, 0, 0, 0}));
}

// Each frame is followed by its audio slice; the index points at every chunk.
TEST_F(AVIHeaders, MoviAndIndexAgree) {
    const RiffChunk* movi = nullptr;
    std::vector<const RiffChunk*> data;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.listType == "movi") {
            movi = &chunk;
        } else if (chunk.parent == "movi") {
            data.push_back(&chunk);
        }
    }
    ASSERT_NE(movi, nullptr);
    ASSERT_EQ(data.size(), 2 * kFrames);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i]->id, i % 2 == 0 ? "01db" : "00wb") << "chunk " << i;
        EXPECT_EQ(data[i]->size, i % 2 == 0 ? kFrameBytes : 7056u) << "chunk " << i;
    }

    const RiffChunk* idx1 = Find("idx1");
    ASSERT_NE(idx1, nullptr);
    ASSERT_EQ(idx1->body.size(), 16 * data.size());
    const std::uint64_t moviType = movi->offset + 8;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t at = 16 * i;
        EXPECT_EQ(FourCCAt(idx1->body, at), data[i]->id);
        EXPECT_EQ(U32At(idx1->body, at + 4), 0x10u) << "key frame flag of entry " << i;
        EXPECT_EQ(moviType + U32At(idx1->body, at + 8), data[i]->offset) << "entry " << i;
        EXPECT_EQ(U32At(idx1->body, at + 12), data[i]->size);
    }
    EXPECT_EQ(movi->offset + 8 + movi->size, idx1->offset);
}

}  // namespace
}  // namespace zorvo::test
