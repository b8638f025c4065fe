#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "avi/EncodedWriter.h"
#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(EncodedWriter, ExtensionChoosesTheWriter) {
    const std::pair<const char*, OutputKind> cases[] = {
        {"/clips/song.avi", OutputKind::Avi},
        {"/clips/song.mkv", OutputKind::Matroska},
        {"/clips/Song.MKV", OutputKind::Matroska},
        {"song.mp4", OutputKind::Mp4},
        {"/a/song.mov", OutputKind::Mov},
        {"/a/song.mkv.avi", OutputKind::Avi},
        {"/a.mkv/song", OutputKind::Avi},
        {"/a/song.mpg", OutputKind::Avi},
        {"song", OutputKind::Avi},
    };
    for (const auto& [path, kind] : cases) {
        EXPECT_EQ(OutputKindOf(path), kind) << path;
        EXPECT_EQ(dynamic_cast<EncodedWriter*>(MakeFrameWriter(path, 8, 8, "", 0).get()) != nullptr,
                  kind != OutputKind::Avi)
            << path;
    }
}

TEST(EncodedWriter, OpenRefusesWhatItCannotWrite) {
    TempDir dir;
    WaveFormat wide;
    wide.bitsPerSample = 32;
    ASSERT_TRUE(WriteWaveFile(dir.File("wide.wav"), wide, PatternBytes(8 * 1764)));
    struct Case {
        std::string output;
        int width;
        std::string wave;
        Lines lines;
    };
    const Case cases[] = {
        {"odd.mp4",
         31,
         "",
         {"Error (Encoder): Failed to create encoder: H.264 output needs an even width and "
          "height.\n"}},
        {"wide.mkv",
         32,
         dir.File("wide.wav"),
         {"Error (Encoder): Failed to create encoder: FLAC cannot carry 32-bit integer audio "
          "with 2 channels.\n"}},
        {"nowave.mkv", 32, dir.File("none.wav"), {"Error (Script): Failed to open wave file.\n"}},
        {"missing/folder.mp4",
         32,
         "",
         {"Error (Encoder): Failed to create encoder: Failed to create output file: No such "
          "file or directory.\n"}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        const std::string path = dir.File(c.output);
        auto writer = MakeFrameWriter(path, c.width, 32, c.wave, 0);
        EXPECT_FALSE(writer->Open()) << c.output;
        EXPECT_FALSE(writer->InsertFrame(0)) << c.output;
        EXPECT_EQ(log.Texts().front(), c.lines.front()) << c.output;
        EXPECT_EQ(log.Texts().back(),
                  "Error (Encoder): Failed to insert frame: No output file created.\n");
        EXPECT_FALSE(fs::exists(path)) << c.output;
    }
}

TEST(EncodedWriter, FramesMustComeInOrder) {
    TempDir dir;
    LogCollector log;
    EncodedWriter writer(dir.File("order.mkv"), 32, 32, "", OutputKind::Matroska);
    writer.skippedFrames = 5;
    ASSERT_TRUE(writer.Open());
    EXPECT_FALSE(writer.InsertFrame(0));
    EXPECT_TRUE(InsertFrames(writer, 5, 2));
    EXPECT_FALSE(writer.InsertFrame(8));
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(log.Texts(), Lines(2,
                                 "Error (Encoder): Failed to insert frame: Frame is out of "
                                 "order.\n"));
    MediaContents contents;
    std::string error;
    ASSERT_TRUE(ReadMedia(dir.File("order.mkv"), contents, error)) << error;
    EXPECT_EQ(contents.pictures.size(), 2u);
}

// Writes frames under a file size limit, which fails writes as a full disk does; 0 when the
// writer reports it and closes what it has.
int WriteUntilFull(const std::string& path, OutputKind kind) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return 2;
    }
    LogCollector log;
    EncodedWriter writer(path, 320, 240, "", kind);
    if (!writer.Open()) {
        return 3;
    }
    std::uint32_t n = 0;
    while (n < 2000 && InsertFrames(writer, n, 1)) {
        ++n;
    }
    const bool closed = writer.Close();
    const Lines texts = log.Texts();
    const std::string expected =
        "Error (Encoder): Failed to write the output file: File too large.\n";
    if (n == 2000 || closed || texts.empty() || texts.front() != expected) {
        std::fprintf(stderr, "%u frames, closed %d, %s", n, closed,
                     texts.empty() ? "no line\n" : texts.front().c_str());
        return 1;
    }
    return 0;
}

// What was written before the disk filled up still plays.
TEST(EncodedWriterDeathTest, FullDiskLeavesAPlayableFile) {
    for (const auto& [name, kind] : {std::pair{"full.mkv", OutputKind::Matroska}}) {
        TempDir dir;
        const std::string path = dir.File(name);
        EXPECT_EXIT(std::_Exit(WriteUntilFull(path, kind)), ::testing::ExitedWithCode(0), "")
            << name;
        MediaContents contents;
        std::string error;
        EXPECT_TRUE(ReadMedia(path, contents, error)) << name << ": " << error;
        EXPECT_GT(contents.pictures.size(), 10u) << name;
    }
}

}  // namespace
}  // namespace zorvo::test
