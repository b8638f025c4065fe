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

TEST_F(AVIHeaders, MainHeader) {
    const RiffChunk* avih = Find("avih");
    ASSERT_NE(avih, nullptr);
    ASSERT_EQ(avih->body.size(), 56u);
    EXPECT_EQ(U32At(avih->body, 0), 40000u);         // microseconds a frame
    EXPECT_EQ(U32At(avih->body, 12) & 0x10, 0x10u);  // has an index
    EXPECT_EQ(U32At(avih->body, 16), kFrames);       // total frames
    EXPECT_EQ(U32At(avih->body, 24), 2u);            // streams
    EXPECT_GE(U32At(avih->body, 28), 7056u);         // suggested buffer: the largest chunk
    EXPECT_EQ(U32At(avih->body, 32), std::uint32_t{kWidth});
    EXPECT_EQ(U32At(avih->body, 36), std::uint32_t{kHeight});
}

TEST_F(AVIHeaders, AudioStreamComesFirst) {
    const RiffChunk* strh = Find("strh", 0);
    const RiffChunk* strf = Find("strf", 0);
    ASSERT_NE(strh, nullptr);
    ASSERT_NE(strf, nullptr);
    ASSERT_EQ(strh->body.size(), 56u);
    EXPECT_EQ(FourCCAt(strh->body, 0), "auds");
    EXPECT_EQ(U32At(strh->body, 4), 0u);               // handler
    EXPECT_EQ(U32At(strh->body, 20), 4u);              // scale: block align
    EXPECT_EQ(U32At(strh->body, 24), 176400u);         // rate: bytes a second
    EXPECT_EQ(U32At(strh->body, 32), kFrames * 1764);  // length in samples
    EXPECT_EQ(U32At(strh->body, 36), 0u);              // suggested buffer
    EXPECT_EQ(U32At(strh->body, 40), 0xFFFFFFFFu);     // quality: default
    EXPECT_EQ(U32At(strh->body, 44), 4u);              // sample size: block align
    EXPECT_EQ(U32At(strh->body, 48), 0u);              // frame rectangle
    EXPECT_EQ(U32At(strh->body, 52), 0u);

    // The 18-byte wave format: the WAVE file's six fields and an extra size of 0.
    const std::vector<std::uint8_t> expected = {1,    0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                                0xB1, 2, 0, 4, 0,    16,   0, 0, 0};
    EXPECT_EQ(strf->body, expected);
}

TEST_F(AVIHeaders, VideoStreamIsUncompressedBottomUpDib) {
    const RiffChunk* strh = Find("strh", 1);
    const RiffChunk* strf = Find("strf", 1);
    ASSERT_NE(strh, nullptr);
    ASSERT_NE(strf, nullptr);
    ASSERT_EQ(strh->body.size(), 56u);
    EXPECT_EQ(FourCCAt(strh->body, 0), "vids");
    EXPECT_EQ(FourCCAt(strh->body, 4), "DIB ");
    EXPECT_EQ(U32At(strh->body, 8), 0u);            // flags
    EXPECT_EQ(U32At(strh->body, 20), 40u);          // scale
    EXPECT_EQ(U32At(strh->body, 24), 1000u);        // rate: 25 frames a second
    EXPECT_EQ(U32At(strh->body, 28), 0u);           // start
    EXPECT_EQ(U32At(strh->body, 32), kFrames);      // length
    EXPECT_EQ(U32At(strh->body, 36), kFrameBytes);  // suggested buffer
    EXPECT_EQ(U32At(strh->body, 40), 0u);           // quality
    EXPECT_EQ(U32At(strh->body, 44), 0u);           // sample size
    EXPECT_EQ(U16At(strh->body, 48), 0u);           // left
    EXPECT_EQ(U16At(strh->body, 50), 0u);           // top
    EXPECT_EQ(U16At(strh->body, 52), kWidth);       // right
    EXPECT_EQ(U16At(strh->body, 54), kHeight);      // bottom

    ASSERT_EQ(strf->body.size(), 40u);
    EXPECT_EQ(U32At(strf->body, 0), 40u);
    EXPECT_EQ(U32At(strf->body, 4), std::uint32_t{kWidth});
    EXPECT_EQ(U32At(strf->body, 8), std::uint32_t{kHeight});  // positive: bottom-up
    EXPECT_EQ(U16At(strf->body, 12), 1u);                     // planes
    EXPECT_EQ(U16At(strf->body, 14), 24u);                    // bits a pixel
    EXPECT_EQ(U32At(strf->body, 16), 0u);                     // uncompressed RGB
    EXPECT_EQ(U32At(strf->body, 20), kFrameBytes);
    for (std::size_t at = 24; at < 40; at += 4) {
        EXPECT_EQ(U32At(strf->body, at), 0u) << "offset " << at;
    }
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

// Every chunk reaches the disk as it is written, which the split by file size relies on.
TEST(AVIWriterGrowth, FileGrowsWithEveryFrame) {
    TempDir dir;
    const std::string avi = dir.File("grow.avi");
    AVIWriter writer(avi, 10, 10, "");
    ASSERT_TRUE(writer.Create(false));
    std::uintmax_t previous = std::filesystem::file_size(avi);
    EXPECT_GT(previous, 0u);
    for (std::uint32_t n = 0; n < 4; ++n) {
        PaintFrame(writer.frameBitmap, n);
        ASSERT_TRUE(writer.InsertFrame(n));
        const std::uintmax_t size = std::filesystem::file_size(avi);
        EXPECT_EQ(size, previous + 8 + 32 * 10) << "frame " << n;
        previous = size;
    }
}

}  // namespace
}  // namespace zorvo::test
