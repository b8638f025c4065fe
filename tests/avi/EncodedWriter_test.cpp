#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "avi/EncodedWriter.h"
#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"

namespace zorvo::test {
namespace {

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
    }
}

// In a child process: writes frames until the file reaches its size limit, then checks that
// the writer said so and that the file it closed decodes to the frames it holds; 0 when all
// holds.
int FillTheDisk(const std::string& path, OutputKind kind) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2 << 20, 2 << 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return 2;
    }
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
        "Error (Encoder): Failed to write the output file: File too large.\n";
    if (n == 2000 || closed || texts.empty() || texts.front() != expected || !read ||
        contents.pictures.size() < 10 || contents.pictures.size() > n) {
        std::fprintf(stderr, "%u frames, closed %d, %s, read %zu pictures: %s\n", n, closed,
                     texts.empty() ? "no line" : texts.front().c_str(), contents.pictures.size(),
                     error.c_str());
        return 1;
    }
    return 0;
}

// What was written before the disk filled up still plays, in every container.
TEST(EncodedWriterDeathTest, FullDiskLeavesAPlayableFile) {
    for (const auto& [name, kind] :
         {std::pair{"full.mkv", OutputKind::Matroska}, std::pair{"full.mp4", OutputKind::Mp4},
          std::pair{"full.mov", OutputKind::Mov}}) {
        TempDir dir;
        EXPECT_EXIT(std::_Exit(FillTheDisk(dir.File(name), kind)), ::testing::ExitedWithCode(0), "")
            << name;
    }
}

}  // namespace
}  // namespace zorvo::test
