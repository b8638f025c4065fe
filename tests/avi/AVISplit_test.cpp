#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "avi/AVIWriter.h"
#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSide = 8;
constexpr std::uint64_t kAudioBytesPerFrame = 882;  // 22050 Hz, 8 bits, mono
// A video chunk and an audio chunk, with their headers.
constexpr std::uint64_t kBytesPerFrame = 8 + kSide * kSide * 3 + 8 + kAudioBytesPerFrame;

WaveFormat SongFormat() {
    WaveFormat format;
    format.sampleRate = 22050;
    format.channels = 1;
    format.bitsPerSample = 8;
    return format;
}

// Size of the headers of one output file: an empty file is the headers and an empty index.
std::uint64_t HeaderBytes(const TempDir& dir, const std::string& wav) {
    const std::string probe = dir.File("probe.avi");
    {
        AVIWriter writer(probe, kSide, kSide, wav);
        if (!writer.Create(false)) {
            return 0;
        }
        writer.Close();
    }
    const std::uint64_t size = fs::file_size(probe) - 8;
    fs::remove(probe);
    return size;
}

struct SplitCase {
    const char* name;
    std::string output;  // relative to the test folder
    std::uint32_t skipped;
    std::uint32_t frames;
    int halfFramesBeforeSplit;  // split size: the headers and this many half frames
    std::vector<std::string> files;
    std::vector<std::vector<std::uint32_t>> framesByFile;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class AVISplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(AVISplit, FilesHoldTheirFramesAndTheirAudio) {
    const SplitCase& c = GetParam();
    TempDir dir;
    fs::create_directories(fs::path(dir.File(c.output)).parent_path());
    const std::string wav = dir.File("song.wav");
    const std::vector<std::uint8_t> samples = PatternBytes(kAudioBytesPerFrame * 40);
    ASSERT_TRUE(WriteWaveFile(wav, SongFormat(), samples));
    const std::uint64_t headers = HeaderBytes(dir, wav);
    ASSERT_GT(headers, 0u);

    LogCollector log;
    {
        AVIWriter writer(dir.File(c.output), kSide, kSide, wav);
        writer.SetSplitBytes(headers + kBytesPerFrame * c.halfFramesBeforeSplit / 2);
        ASSERT_TRUE(writer.Create(false));
        writer.skippedFrames = c.skipped;
        ASSERT_TRUE(InsertFrames(writer, c.skipped, c.frames));
        writer.Close();
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        if (entry.is_regular_file() && entry.path().filename() != "song.wav") {
            found.insert(fs::relative(entry.path(), dir.Path()).string());
        }
    }
    EXPECT_EQ(found, std::set<std::string>(c.files.begin(), c.files.end()));

    ASSERT_EQ(c.files.size(), c.framesByFile.size());
    for (std::size_t f = 0; f < c.files.size(); ++f) {
        const std::string file = dir.File(c.files[f]);
        const std::vector<std::uint32_t>& frames = c.framesByFile[f];
        AviContents contents;
        std::string error;
        ASSERT_TRUE(ReadAvi(file, contents, error)) << c.files[f] << ": " << error;
        ASSERT_EQ(contents.pictures.size(), frames.size()) << c.files[f];
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(contents.pictures[i], ExpectedPicture(kSide, kSide, frames[i]))
                << c.files[f] << " position " << i;
        }
        // Each file's audio starts at the song time of its first frame.
        const auto begin = static_cast<std::ptrdiff_t>(frames.front() * kAudioBytesPerFrame);
        const auto end = static_cast<std::ptrdiff_t>((frames.back() + 1) * kAudioBytesPerFrame);
        EXPECT_EQ(contents.audio,
                  std::vector<std::uint8_t>(samples.begin() + begin, samples.begin() + end))
            << c.files[f];
        ExpectToolsQuiet(file);
    }
}

using Names = std::vector<std::string>;
using Frames = std::vector<std::vector<std::uint32_t>>;
const Names kThree = {"song.00.avi", "song.01.avi", "song.02.avi"};

INSTANTIATE_TEST_SUITE_P(
    Renders, AVISplit,
    ::testing::Values(
        SplitCase{"three_files", "song.avi", 0, 6, 3, kThree, Frames{{0, 1}, {2, 3}, {4, 5}}},
        SplitCase{"late_start", "song.avi", 5, 5, 3, kThree, Frames{{5, 6}, {7, 8}, {9}}},
        // A file of exactly the split size is not split.
        SplitCase{"exactly_the_split_size", "song.avi", 0, 5, 4,
                  Names{"song.00.avi", "song.01.avi"}, Frames{{0, 1, 2}, {3, 4}}},
        SplitCase{"dotted_folder_no_extension", "take.2/song", 0, 3, 3,
                  Names{"take.2/song.00", "take.2/song.01"}, Frames{{0, 1}, {2}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
    std::string path;
    int number;
    std::string numbered;
};

TEST(AVISplitFiles, NumberedNames) {
    const std::vector<NameCase> cases = {
        {"/clips/song.avi", 0, "/clips/song.00.avi"},
        {"/clips/song.avi", 123, "/clips/song.123.avi"},
        {"song.avi", 1, "song.01.avi"},
        {"/clips/song.final.avi", 2, "/clips/song.final.02.avi"},
        // The dot of a folder is not an extension.
        {"/clips.2024/song", 3, "/clips.2024/song.03"},
        {"/clips/song.", 6, "/clips/song.06."},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(AVIWriter::NumberedName(c.path, c.number), c.numbered)
            << c.path << " " << c.number;
    }
}

}  // namespace
}  // namespace zorvo::test
