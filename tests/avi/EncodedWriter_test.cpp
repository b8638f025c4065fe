#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
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

// How the disk fills up: a file size limit, or a small tmpfs of its own.
enum class Full { SizeLimit, SmallDisk };

// In a child process: writes frames until the disk is full, then checks that the writer said so
// and that the file it closed decodes to the frames it holds. 0 when all holds, 77 when this
// machine cannot mount a tmpfs.
int FillTheDisk(const std::string& dir, const std::string& name, OutputKind kind, Full full) {
    ::signal(SIGXFSZ, SIG_IGN);
    std::string reason = "File too large";
    if (full == Full::SizeLimit) {
        const rlimit limit{2 << 20, 2 << 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 2;
        }
    } else {
        // A private mount that goes with this process.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=2m") != 0) {
            std::fputs("no tmpfs can be mounted here\n", stderr);
            return 77;
        }
        reason = "No space left on device";
    }
    const std::string path = dir + "/" + name;
    std::uint32_t n = 0;
    bool closed = true;
    Lines texts;
    {
        LogCollector log;
        EncodedWriter writer(path, 320, 240, "", kind);
        if (!writer.Open()) {
            return 3;
        }
        while (n < 2000 && InsertFrames(writer, n, 1)) {
            ++n;
        }
        closed = writer.Close();
        texts = log.Texts();
    }
    MediaContents contents;
    std::string error;
    const bool read = ReadMedia(path, contents, error);
    const std::string expected =
        "Error (Encoder): Failed to write the output file: " + reason + ".\n";
    if (n == 2000 || closed || texts.empty() || texts.front() != expected || !read ||
        contents.pictures.size() < 10 || contents.pictures.size() > n) {
        std::fprintf(stderr, "%u frames, closed %d, %s, read %zu pictures: %s\n", n, closed,
                     texts.empty() ? "no line" : texts.front().c_str(), contents.pictures.size(),
                     error.c_str());
        return 1;
    }
    return 0;
}

// What was written before the disk filled up still plays, in every container. A machine that
// cannot mount a tmpfs runs only the size-limit rows.
TEST(EncodedWriterDeathTest, FullDiskLeavesAPlayableFile) {
    for (const Full full : {Full::SizeLimit, Full::SmallDisk}) {
        for (const auto& [name, kind] :
             {std::pair{"full.mkv", OutputKind::Matroska}, std::pair{"full.mp4", OutputKind::Mp4},
              std::pair{"full.mov", OutputKind::Mov}}) {
            TempDir dir;
            EXPECT_EXIT(
                {
                    const int result = FillTheDisk(dir.Path(), name, kind, full);
                    std::_Exit(result == 77 ? 0 : result);
                },
                ::testing::ExitedWithCode(0), "")
                << name << (full == Full::SizeLimit ? " under a size limit" : " on a full disk");
        }
    }
}

}  // namespace
}  // namespace zorvo::test
