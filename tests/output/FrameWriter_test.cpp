#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/LogCollector.h"
#include "output/AVIWriter.h"
#include "output/EncodedWriter.h"
#include "output/FramePattern.h"
#include "output/OutputFiles.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

// The allocation test needs a failed allocation to return null rather than end the
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
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

TEST(FrameWriter, ExtensionChoosesTheWriter) {
    const std::pair<const char*, OutputKind> cases[] = {
        {"/clips/song.mkv", OutputKind::Matroska},
        {"/clips/Song.MKV", OutputKind::Matroska},
        {"song.mp4", OutputKind::Mp4},
        {"/a/song.mov", OutputKind::Mov},
        {"/a/song.mkv.avi", OutputKind::Avi},
        {"/a.mkv/song", OutputKind::Avi},
        {"/a/.mkv", OutputKind::Avi},
        {"/a/song.mpg", OutputKind::Avi},
        {"song", OutputKind::Avi},
    };
    for (const auto& [path, kind] : cases) {
        EXPECT_EQ(OutputKindOf(path), kind) << path;
    }
}

std::string NoFileLine(const std::string& path) {
    return path.ends_with(".avi")
               ? "Error (AVIWriter): Failed to insert frame: No AVI file created.\n"
               : "Error (Encoder): Failed to insert frame: No output file created.\n";
}

// Frames come one after the other from skippedFrames: each writer refuses any other call with
// a line, and its file holds the frames it took.
TEST(FrameWriter, CallsOutOfSequence) {
    for (const auto& [name, created, outOfOrder] : {
             std::array<const char*, 3>{
                 "song.avi",
                 "Error (AVIWriter): Failed to create AVIWriter: AVI file was already created.\n",
                 "Error (AVIWriter): Failed to insert frame: Frame is out of order.\n"},
             {"song.mkv",
              "Error (Encoder): Failed to create encoder: Output file was already created.\n",
              "Error (Encoder): Failed to insert frame: Frame is out of order.\n"},
         }) {
        TempDir dir;
        const std::string path = dir.File(name);
        LogCollector log;
        {
            const auto writer = MakeFrameWriter(path, 8, 8, "", AVIWriter::kSplitBytes);
            writer->skippedFrames = 10;
            EXPECT_FALSE(writer->InsertFrame(10)) << name;
            ASSERT_TRUE(writer->Open());
            std::uint8_t* const bits = writer->frameBits;
            EXPECT_FALSE(writer->Open());
            EXPECT_EQ(writer->frameBits, bits);
            EXPECT_FALSE(writer->InsertFrame(9));   // before the first rendered frame
            EXPECT_FALSE(writer->InsertFrame(11));  // a gap
            ASSERT_TRUE(InsertFrames(*writer, 10, 2));
            EXPECT_FALSE(writer->InsertFrame(11));  // again
            EXPECT_TRUE(writer->Close());
            EXPECT_EQ(writer->frameBits, nullptr);
            EXPECT_FALSE(writer->InsertFrame(12));
        }
        EXPECT_EQ(log.Texts(), (Lines{NoFileLine(path), created, outOfOrder, outOfOrder, outOfOrder,
                                      NoFileLine(path)}))
            << name;
        MediaContents contents;
        std::string error;
        ASSERT_TRUE(ReadMedia(path, contents, error)) << error;
        EXPECT_EQ(contents.pictures.size(), 2u) << name;
    }
}

Bytes Patched(Bytes bytes, std::size_t at, const Bytes& with) {
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

struct RefusedCase {
    const char* name;
    std::string output;
    int width;
    int height;
    Lines lines;                      // "{wav}" stands for the song's path
    std::string wave = "";            // the song, relative to the test folder
    std::optional<Bytes> bytes = {};  // written to the song when set
};

// A writer that cannot open its output says why, leaves no file behind and stays closed.
TEST(FrameWriter, OpenRefusesWhatItCannotWrite) {
    const Bytes samples = PatternBytes(7056 * 2);
    const Bytes good = WaveBytes(WaveFormat{}, samples);
    const std::string avi = "Error (AVIWriter): Failed to create AVIWriter: ";
    const std::string context = "Error (AVIWriter): file '{wav}': ";
    const std::string encoder = "Error (Encoder): Failed to create encoder: ";
    const Lines invalidSize = {avi + "Invalid frame size.\n"};
    const Lines notWave = {avi + "Wave file is not RIFF/WAVE.\n",
                           context + "no RIFF/WAVE header.\n"};
    const Lines noFormat = {avi + "Wave file has no 'fmt ' chunk.\n",
                            context + "no PCM format chunk.\n"};
    const Lines rate = {avi + "Wave file has an invalid block align or byte rate.\n"};
    const Lines disagreeing = {rate[0],
                               context + "block align or byte rate disagree with the format.\n"};
    const Lines notInteger = {
        avi + "Wave file holds float or compressed samples; only integer PCM is supported.\n",
        context + "float or compressed samples.\n"};
    const auto wave = [&](auto&& change) {
        WaveFormat format;
        change(format);
        return WaveBytes(format, samples);
    };
    // RIFF/WAVE with a 'data' chunk but no 'fmt '.
    const Bytes dataOnly = {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'W', 'A', 'V', 'E',
                            'd', 'a', 't', 'a', 4,  0, 0, 0, 1,   2,   3,   4};
    // A 'fmt ' chunk of 14 bytes is too short to hold the PCM fields.
    Bytes shortFormat = Patched(good, 16, {14});
    shortFormat.erase(shortFormat.begin() + 34, shortFormat.begin() + 36);

    const std::vector<RefusedCase> cases = {
        // The frame rectangle holds 16-bit values, and one frame must fit well within a file.
        {"zero_width", "song.avi", 0, 10, invalidSize},
        {"negative_width", "song.avi", -4, 10, invalidSize},
        {"too_high", "song.avi", 1, 32768, invalidSize},
        {"too_large", "song.avi", 20000, 20000, invalidSize},
        {"odd_h264", "odd.mp4", 31, 32,
         Lines{encoder + "H.264 output needs an even width and height.\n"}},
        {"flac_32bit", "wide.mkv", 32, 32,
         Lines{encoder + "FLAC cannot carry 32-bit integer audio with 2 channels.\n"}, "song.wav",
         wave([](WaveFormat& f) { f.bitsPerSample = 32; })},
        {"missing_wave", "nowave.mkv", 32, 32,
         Lines{"Error (Script): Failed to open wave file.\n",
               "Error (Script): file '{wav}': No such file or directory.\n"},
         "none.wav"},
        {"missing_folder", "missing/folder.mp4", 32, 32,
         Lines{encoder + "Failed to create output file: No such file or directory.\n"}},
        {"empty_wave", "song.avi", 8, 8, notWave, "song.wav", Bytes{}},
        {"avi_form", "song.avi", 8, 8, notWave, "song.wav", Patched(good, 8, {'A', 'V', 'I', ' '})},
        {"no_fmt", "song.avi", 8, 8, noFormat, "song.wav", dataOnly},
        {"short_fmt", "song.avi", 8, 8, noFormat, "song.wav", shortFormat},
        {"no_data", "song.avi", 8, 8,
         Lines{avi + "Wave file has no 'data' chunk.\n", context + "no sample data chunk.\n"},
         "song.wav", Patched(good, 36, {'l', 'i', 's', 't'})},
        {"block_align_0", "song.avi", 8, 8, disagreeing, "song.wav",
         wave([](WaveFormat& f) { f.blockAlign = 0; })},
        // 20 bytes a second: less than one sample a frame.
        {"below_a_sample_a_frame", "song.avi", 8, 8, rate, "song.wav",
         wave([](WaveFormat& f) { f.sampleRate = 10; })},
        // Block align x rate does not fit 32 bits.
        {"byte_rate_overflow", "song.avi", 8, 8, disagreeing, "song.wav",
         wave([](WaveFormat& f) { f.sampleRate = 0x7FFFFFFF, f.blockAlign = 4; })},
        {"extensible_float", "song.avi", 8, 8, notInteger, "song.wav",
         wave([](WaveFormat& f) { f.bitsPerSample = 32, f.extensibleSubFormat = 3; })},
        // An extensible tag whose 'fmt ' stops after the plain fields.
        {"extensible_short_fmt", "song.avi", 8, 8,
         Lines{avi + "Wave file has a truncated extensible format.\n",
               context + "truncated extensible format.\n"},
         "song.wav", Patched(good, 20, {0xFE, 0xFF})},
        {"extensible_bad_guid", "song.avi", 8, 8, notInteger, "song.wav",
         Patched(wave([](WaveFormat& f) { f.extensibleSubFormat = 1; }), 54, {0x11})},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File(c.output);
        const std::string wav = c.wave.empty() ? "" : dir.File(c.wave);
        ASSERT_TRUE(!c.bytes || WriteBinaryFile(wav, *c.bytes));
        LogCollector log;
        const auto writer = MakeFrameWriter(path, c.width, c.height, wav, AVIWriter::kSplitBytes);
        EXPECT_FALSE(writer->Open());
        EXPECT_FALSE(writer->InsertFrame(0));
        Lines expected = c.lines;
        for (std::string& line : expected) {
            if (const std::size_t at = line.find("{wav}"); at != std::string::npos) {
                line.replace(at, 5, wav);
            }
        }
        expected.push_back(NoFileLine(path));
        EXPECT_EQ(log.Texts(), expected);
        EXPECT_FALSE(fs::exists(path));
    }
}

// A frame that cannot be had fails the create with a line instead of ending the program.
TEST(FrameWriterDeathTest, FrameAllocationFailsCleanly) {
    TempDir dir;
    const std::string avi = dir.File("big.avi");
    const auto createWithoutMemory = [&avi]() -> int {
        // Room for small allocations, not for the 805 MB frame.
        std::ifstream statm("/proc/self/statm");
        rlim_t pages = 0;
        statm >> pages;
        const rlim_t room =
            pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
        const rlimit limit{room, room};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            return 2;
        }
        LogCollector log;
        AVIWriter writer(avi, 16384, 16384, "");
        const bool created = writer.Create(false);
        const Lines expected = {
            "Error (AVIWriter): Failed to create AVIWriter: Failed to create frame bitmap.\n"};
        std::fprintf(stderr, "created %d, %zu lines\n", created, log.Texts().size());
        return created || log.Texts() != expected || writer.frameBits != nullptr || fs::exists(avi);
    };
    EXPECT_EXIT(std::_Exit(createWithoutMemory()), ::testing::ExitedWithCode(0), "");
}

// What was written before the disk filled up still plays, in every container.
TEST(FrameWriterDeathTest, FullDiskLeavesAPlayableFile) {
    for (const auto& [name, kind] :
         {std::pair{"full.mkv", OutputKind::Matroska}, std::pair{"full.mp4", OutputKind::Mp4},
          std::pair{"full.mov", OutputKind::Mov}}) {
        TempDir dir;
        const std::string path = dir.File(name);
        // Writes frames until the file reaches its size limit, then checks that the writer
        // said so and that the file it closed decodes to the frames it holds.
        const auto fillTheDisk = [&path, kind = kind]() -> int {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2 << 20, 2 << 20};
            std::uint32_t n = 0;
            bool closed = true;
            LogCollector log;
            {
                EncodedWriter writer(path, 320, 240, "", kind);
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || !writer.Open()) {
                    return 2;
                }
                while (n < 2000 && InsertFrames(writer, n, 1)) {
                    ++n;
                }
                closed = writer.Close();
            }
            MediaContents contents;
            std::string error;
            const bool read = ReadMedia(PartialName(path), contents, error);
            std::fprintf(stderr, "%u frames, closed %d, %s, read %zu pictures: %s\n", n, closed,
                         log.Joined().c_str(), contents.pictures.size(), error.c_str());
            return n == 2000 || closed || !read || contents.pictures.size() < 10 ||
                   contents.pictures.size() > n || log.Texts().empty() ||
                   log.Texts()[0] !=
                       "Error (Encoder): Failed to write the output file: File too large.\n";
        };
        EXPECT_EXIT(std::_Exit(fillTheDisk()), ::testing::ExitedWithCode(0), "") << name;
    }
}

}  // namespace
}  // namespace zorvo::test
