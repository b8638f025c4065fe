#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "avi/AVIWriter.h"
#include "avi/FramePattern.h"
#include "common/LogCollector.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

// The allocation test below needs a failed allocation to return null rather than end the
// program, also under the sanitizers.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace zorvo::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(AVIWriterErrors, CallsOutOfSequence) {
    TempDir dir;
    const std::string avi = dir.File("song.avi");
    const std::string noFile = "Error (AVIWriter): Failed to insert frame: No AVI file created.\n";
    const std::string outOfOrder =
        "Error (AVIWriter): Failed to insert frame: Frame is out of order.\n";
    LogCollector log;
    {
        AVIWriter writer(avi, 8, 8, "");
        EXPECT_FALSE(writer.InsertFrame(0));
        ASSERT_TRUE(writer.Create(false));
        std::uint8_t* const bits = writer.frameBits;
        EXPECT_FALSE(writer.Create(true));
        EXPECT_EQ(writer.frameBits, bits);
        writer.skippedFrames = 10;
        EXPECT_FALSE(writer.InsertFrame(9));   // before the first rendered frame
        EXPECT_FALSE(writer.InsertFrame(11));  // a gap
        ASSERT_TRUE(InsertFrames(writer, 10, 2));
        EXPECT_FALSE(writer.InsertFrame(11));  // again
        writer.Close();
        EXPECT_EQ(writer.frameBits, nullptr);
        EXPECT_FALSE(writer.InsertFrame(12));
    }
    EXPECT_EQ(log.Texts(),
              (Lines{noFile,
                     "Error (AVIWriter): Failed to create AVIWriter: AVI file was already "
                     "created.\n",
                     outOfOrder, outOfOrder, outOfOrder, noFile}));
    AviContents contents;
    std::string error;
    ASSERT_TRUE(ReadAvi(avi, contents, error)) << error;
    EXPECT_EQ(contents.pictures.size(), 2u);
}

TEST(AVIWriterErrors, FrameSizesThatCannotBeStored) {
    // The frame rectangle holds 16-bit values, and one frame must fit well within a file.
    for (const auto& [width, height] : {std::pair{0, 10}, {-4, 10}, {1, 32768}, {20000, 20000}}) {
        TempDir dir;
        const std::string avi = dir.File("song.avi");
        LogCollector log;
        AVIWriter writer(avi, width, height, "");
        EXPECT_FALSE(writer.Create(false));
        EXPECT_EQ(log.Texts(),
                  Lines{"Error (AVIWriter): Failed to create AVIWriter: Invalid frame size.\n"})
            << width << " x " << height;
        EXPECT_FALSE(fs::exists(avi));
    }
}

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> bytes, std::size_t at,
                                  std::vector<std::uint8_t> with) {
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

struct BadWave {
    const char* name;
    std::vector<std::uint8_t> bytes;  // written to song.wav unless the case makes its own
    Lines log;
};

TEST(AVIWriterErrors, BadWaveFiles) {
    const std::vector<std::uint8_t> samples = PatternBytes(7056 * 2);
    const std::vector<std::uint8_t> good = WaveBytes(WaveFormat{}, samples);
    const std::string prefix = "Error (AVIWriter): Failed to create AVIWriter: ";
    // A file the writer cannot take is named, with the reason, on the line after.
    const Lines notWave = {prefix + "Wave file is not RIFF/WAVE.\n", "no RIFF/WAVE header"};
    const Lines invalidRate = {prefix + "Wave file has an invalid block align or byte rate.\n"};
    const Lines disagreeing = {prefix + "Wave file has an invalid block align or byte rate.\n",
                               "block align or byte rate disagree with the format"};

    WaveFormat noAlign;
    noAlign.blockAlign = 0;
    WaveFormat tooSlow;  // 20 bytes a second: less than one sample a frame
    tooSlow.sampleRate = 10;
    WaveFormat huge;  // block align x rate does not fit 32 bits
    huge.sampleRate = 0x7FFFFFFF;
    huge.blockAlign = 4;
    WaveFormat floats;
    floats.bitsPerSample = 32;
    floats.extensibleSubFormat = 3;
    WaveFormat extensible;
    extensible.extensibleSubFormat = 1;
    // An extensible tag whose 'fmt ' stops after the plain fields.
    std::vector<std::uint8_t> cutExtensible = Patched(good, 20, {0xFE, 0xFF});

    // RIFF/WAVE with a 'data' chunk but no 'fmt '.
    std::vector<std::uint8_t> noFormat = {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'W', 'A', 'V', 'E',
                                          'd', 'a', 't', 'a', 4,  0, 0, 0, 1,   2,   3,   4};
    // A 'fmt ' chunk of 14 bytes is too short to hold the PCM fields.
    std::vector<std::uint8_t> shortFormat = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                                             'V', 'E', 'f', 'm', 't', ' ', 14, 0, 0,   0};
    shortFormat.insert(shortFormat.end(), good.begin() + 20, good.begin() + 34);
    shortFormat.insert(shortFormat.end(), good.begin() + 36, good.end());
    // The canonical header with the 'data' chunk renamed.
    const std::vector<std::uint8_t> noData = Patched(good, 36, {'l', 'i', 's', 't'});

    const std::vector<BadWave> cases = {
        {"empty", {}, notWave},
        {"avi_form", Patched(good, 8, {'A', 'V', 'I', ' '}), notWave},
        {"no_fmt", noFormat, {prefix + "Wave file has no 'fmt ' chunk.\n", "no PCM format chunk"}},
        {"short_fmt",
         shortFormat,
         {prefix + "Wave file has no 'fmt ' chunk.\n", "no PCM format chunk"}},
        {"no_data", noData, {prefix + "Wave file has no 'data' chunk.\n", "no sample data chunk"}},
        {"block_align_0", WaveBytes(noAlign, samples), disagreeing},
        {"below_a_sample_a_frame", WaveBytes(tooSlow, samples), invalidRate},
        {"byte_rate_overflow", WaveBytes(huge, samples), disagreeing},
        {"extensible_float",
         WaveBytes(floats, samples),
         {prefix + "Wave file holds float or compressed samples; only integer PCM is "
                   "supported.\n",
          "float or compressed samples"}},
        {"extensible_short_fmt",
         cutExtensible,
         {prefix + "Wave file has a truncated extensible format.\n",
          "truncated extensible format"}},
        {"extensible_bad_guid",
         Patched(WaveBytes(extensible, samples), 20 + 24 + 10, {0x11}),
         {prefix + "Wave file holds float or compressed samples; only integer PCM is "
                   "supported.\n",
          "float or compressed samples"}},
    };
    for (const BadWave& c : cases) {
        TempDir dir;
        const std::string avi = dir.File("song.avi");
        const std::string wav = dir.File("song.wav");
        ASSERT_TRUE(WriteBinaryFile(wav, c.bytes));
        LogCollector log;
        AVIWriter writer(avi, 8, 8, wav);
        EXPECT_FALSE(writer.Create(false)) << c.name;
        Lines expected = c.log;
        if (expected.size() == 2) {
            expected[1] = "Error (AVIWriter): file '" + wav + "': " + expected[1] + ".\n";
        }
        EXPECT_EQ(log.Texts(), expected) << c.name;
        // Nothing half-built is left behind, and the writer stays closed.
        EXPECT_FALSE(fs::exists(avi)) << c.name;
        log.Clear();
        EXPECT_FALSE(writer.InsertFrame(0)) << c.name;
        EXPECT_EQ(log.Texts(),
                  Lines{"Error (AVIWriter): Failed to insert frame: No AVI file created.\n"})
            << c.name;
    }
}

// Virtual memory in use by this process, in bytes.
rlim_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

// Creates a writer whose frame does not fit the address space left; 0 when it fails as it
// should.
int CreateWithoutMemory(const std::string& avi) {
    // Room for small allocations, not for the 805 MB frame.
    const rlim_t room = AddressSpaceInUse() + (rlim_t{256} << 20);
    const rlimit limit{room, room};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
        return 2;
    }
    LogCollector log;
    AVIWriter writer(avi, 16384, 16384, "");
    const bool created = writer.Create(false);
    const Lines expected = {
        "Error (AVIWriter): Failed to create AVIWriter: Failed to create frame bitmap.\n"};
    if (created || log.Texts() != expected || writer.frameBits != nullptr || fs::exists(avi)) {
        std::fprintf(stderr, "created %d, %zu lines\n", created, log.Texts().size());
        return 1;
    }
    return 0;
}

// A frame that cannot be had fails the create with a line instead of ending the program.
TEST(AVIWriterErrorsDeathTest, FrameAllocationFailsCleanly) {
    TempDir dir;
    const std::string avi = dir.File("big.avi");
    EXPECT_EXIT(std::_Exit(CreateWithoutMemory(avi)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zorvo::test
