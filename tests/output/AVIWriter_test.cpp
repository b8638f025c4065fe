#include "output/AVIWriter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "media/WaveFile.h"
#include "output/AVIWriterThread.h"
#include "output/FramePattern.h"
#include "output/OutputFiles.h"
#include "support/AviReader.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct AviCase {
    const char* name;
    int width;
    int height;
    std::optional<WaveFormat> wave;  // none: a silent file
    double audioFrames;              // how long the song lasts, in frames
    std::uint32_t skipped;           // a render that starts later in the song
    std::uint32_t frames;
    std::function<void(Bytes&)> edit = {};  // applied to the wave file
    std::size_t cut = 0;                    // sample bytes the edit drops from the end
    int splitAfterHalfFrames = 0;           // split size: the headers and this many half frames
    std::string output = "song.avi";
    std::vector<std::pair<std::string, std::uint32_t>> files = {};  // and their frame counts
    std::uint32_t songStartMs = 0;                                  // measure 1 in the song
};

void PrintTo(const AviCase& c, std::ostream* os) {
    *os << c.name;
}

// The n-th chunk (0-based) with this id, or one with an empty body.
const RiffChunk& Find(const std::vector<RiffChunk>& chunks, const std::string& id, int n = 0) {
    static const RiffChunk none;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.id == id && n-- == 0) {
            return chunk;
        }
    }
    return none;
}

std::uint32_t WordAt(const RiffChunk& chunk, std::size_t word) {
    return 4 * word + 4 <= chunk.body.size() ? U32At(chunk.body, 4 * word) : 0xDEADu;
}

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class AviWrite : public ::testing::TestWithParam<AviCase> {};

TEST_P(AviWrite, ReadsBackAsWritten) {
    const AviCase& c = GetParam();
    TempDir dir;
    fs::create_directories(fs::path(dir.File(c.output)).parent_path());
    const std::string wav = c.wave ? dir.File("song.wav") : "";
    const std::size_t perFrame = c.wave ? BlockAlignOf(*c.wave) * (c.wave->sampleRate / 25) : 0;
    const Bytes samples = PatternBytes(static_cast<std::size_t>(c.audioFrames * perFrame));
    if (c.wave) {
        Bytes bytes = WaveBytes(*c.wave, samples);
        if (c.edit) {
            c.edit(bytes);
        }
        ASSERT_TRUE(WriteBinaryFile(wav, bytes));
    }
    const std::size_t stride = (static_cast<std::size_t>(c.width) * 3 + 3) / 4 * 4;
    std::uint64_t splitBytes = AVIWriter::kSplitBytes;
    if (c.splitAfterHalfFrames > 0) {
        // An empty file is the headers and an empty index.
        AVIWriter probe(dir.File("probe.avi"), c.width, c.height, wav);
        ASSERT_TRUE(probe.Create(false));
        probe.Close();
        splitBytes = fs::file_size(dir.File("probe.avi")) - 8 +
                     (16 + stride * c.height + perFrame) * c.splitAfterHalfFrames / 2;
        fs::remove(dir.File("probe.avi"));
    }

    LogCollector log;
    const auto files = c.files.empty() ? decltype(c.files){{c.output, c.frames}} : c.files;
    {
        // Direct writes of one block each: most chunks straddle a block boundary.
        AVIWriter writer(dir.File(c.output), c.width, c.height, wav);
        writer.SetSplitBytes(splitBytes);
        writer.SetStagingBytes(RiffWriter::kBlockBytes);
        ASSERT_TRUE(writer.Create(false));
        writer.skippedFrames = c.skipped;
        writer.songStartMs = c.songStartMs;
        ASSERT_TRUE(InsertFrames(writer, c.skipped, c.frames));
        writer.Close();
    }
    // The writing thread, through the page cache, stores the very same bytes.
    TempDir threaded;
    fs::create_directories(fs::path(threaded.File(c.output)).parent_path());
    auto file = std::make_unique<AVIWriter>(threaded.File(c.output), c.width, c.height, wav);
    file->SetSplitBytes(splitBytes);
    file->SetStagingBytes(0);
    AVIWriterThread writer(std::move(file));
    writer.skippedFrames = c.skipped;
    writer.songStartMs = c.songStartMs;
    ASSERT_TRUE(writer.Open() && InsertFrames(writer, c.skipped, c.frames) && writer.Flush());
    EXPECT_TRUE(writer.Close());
    for (const auto& [name, count] : files) {
        EXPECT_EQ(FileBytes(threaded.File(name)), FileBytes(dir.File(name))) << name;
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});
    // The files read below and no others (but the song).
    EXPECT_EQ(
        std::count_if(fs::recursive_directory_iterator(dir.Path()), {},
                      [](const fs::directory_entry& entry) { return entry.is_regular_file(); }),
        files.size() + (c.wave ? 1 : 0));

    std::uint32_t first = c.skipped;
    for (const auto& [name, count] : files) {
        SCOPED_TRACE(name);
        // Each frame takes the audio of its song time, while the wave lasts, right after it.
        Bytes audio;
        std::string order;
        const std::size_t lead =
            c.wave ? std::size_t{c.songStartMs} * c.wave->sampleRate / 1000 * BlockAlignOf(*c.wave)
                   : 0;
        for (std::size_t n = first; n < first + count; ++n) {
            order += "V";
            if (c.wave && lead + (n + 1) * perFrame <= samples.size() - c.cut) {
                order += "A";
                audio.insert(audio.end(), samples.begin() + lead + n * perFrame,
                             samples.begin() + lead + (n + 1) * perFrame);
            }
        }
        const std::string path = dir.File(name);
        MediaContents contents;
        std::string error;
        ASSERT_TRUE(ReadMedia(path, contents, error)) << error;
        ASSERT_EQ(contents.streams.size(), c.wave ? 2u : 1u);
        EXPECT_EQ(contents.streams.back().codec, "rawvideo");
        if (c.wave) {
            const int bits = c.wave->bitsPerSample;
            EXPECT_EQ(contents.streams[0].codec,
                      bits == 8 ? "pcm_u8" : "pcm_s" + std::to_string(bits) + "le");
            EXPECT_EQ(contents.streams[0].sampleRate, static_cast<int>(c.wave->sampleRate));
            EXPECT_EQ(contents.streams[0].channels, c.wave->channels);
        }
        ASSERT_EQ(contents.pictures.size(), count);
        for (std::uint32_t i = 0; i < count; ++i) {
            EXPECT_EQ(contents.pictures[i], ExpectedPicture(c.width, c.height, first + i))
                << "position " << i;
        }
        EXPECT_EQ(contents.audioBytes, audio);

        // What libavformat does not need but other players do: rows of 3 x width bytes
        // padded to a multiple of 4, the counts in the headers, and an index entry with the
        // key-frame flag for every chunk.
        std::vector<RiffChunk> chunks;
        ASSERT_TRUE(ReadRiffChunks(path, chunks, error)) << error;
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(chunks[0].size + 8, fs::file_size(path));
        const std::string videoId = c.wave ? "01db" : "00db";
        const RiffChunk& idx1 = Find(chunks, "idx1");
        const auto movi = std::find_if(chunks.begin(), chunks.end(), [](const RiffChunk& chunk) {
            return chunk.listType == "movi";
        });
        ASSERT_NE(movi, chunks.end());
        const std::uint64_t moviType = movi->offset + 8;
        std::string stored;
        std::size_t entry = 0;
        for (const RiffChunk& chunk : chunks) {
            if (chunk.parent == "movi") {
                stored += chunk.id == videoId ? "V" : chunk.id == "00wb" ? "A" : "?";
                EXPECT_EQ(chunk.size, chunk.id == videoId ? stride * c.height : perFrame);
                ASSERT_LE(16 * entry + 16, idx1.body.size());
                EXPECT_EQ(FourCCAt(idx1.body, 16 * entry), chunk.id);
                EXPECT_EQ(U32At(idx1.body, 16 * entry + 4), 0x10u) << "key frame " << entry;
                EXPECT_EQ(moviType + U32At(idx1.body, 16 * entry + 8), chunk.offset);
                EXPECT_EQ(U32At(idx1.body, 16 * entry + 12), chunk.size);
                ++entry;
            }
        }
        EXPECT_EQ(stored, order);
        EXPECT_EQ(idx1.body.size(), 16 * entry);
        EXPECT_EQ(WordAt(Find(chunks, "avih"), 0), 40000u);  // microseconds a frame
        EXPECT_EQ(WordAt(Find(chunks, "avih"), 4), count);
        EXPECT_EQ(WordAt(Find(chunks, "strh", c.wave ? 1 : 0), 8), count);
        if (c.wave) {
            EXPECT_EQ(WordAt(Find(chunks, "strh"), 8), audio.size() / BlockAlignOf(*c.wave));
        }
        EXPECT_EQ(FfmpegToolWarnings(path), "");
        // The disk space reserved ahead of the frames is given back at the end.
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_LT(static_cast<std::uint64_t>(status.st_blocks) * 512, fs::file_size(path) + 65536);
        first += count;
    }
}

WaveFormat Wave(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits,
                bool extensible = false) {
    WaveFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerSample = bits;
    if (extensible) {
        format.extensibleSubFormat = 1;
    }
    return format;
}

// What editors add: an 18-byte 'fmt ' and chunks before and after the samples.
WaveFormat WithExtraChunks(WaveFormat format) {
    format.extendedFormat = true;
    format.chunksBeforeData.push_back(ListInfoChunk());
    format.chunksAfterData.push_back(ListInfoChunk());
    format.chunksAfterData.push_back(WaveChunk{"id3 ", {1, 2, 3, 4, 5, 6}});
    return format;
}

// Sets the declared 'data' size: the chunk header right before the samples.
std::function<void(Bytes&)> DeclaredSize(std::uint32_t size) {
    return [size](Bytes& bytes) {
        const auto at = std::search(bytes.begin() + 12, bytes.end(), "data", "data" + 4);
        for (int i = 0; i < 4 && bytes.end() - at >= 8; ++i) {
            at[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
        }
    };
}

const WaveFormat kMono8 = Wave(22050, 1, 8);
const WaveFormat kCd;

// A render of 8 x 8 frames with 8-bit mono audio, split after the headers and halfFrames
// half frames.
AviCase Split(const char* name, const char* output, std::uint32_t skipped, int halfFrames,
              std::vector<std::pair<std::string, std::uint32_t>> files) {
    AviCase c{name, 8, 8, kMono8, 40, skipped, 0, {}, 0, halfFrames, output, files};
    for (const auto& file : files) {
        c.frames += file.second;
    }
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AviWrite,
    ::testing::Values(
        // name, width, height, wave, audio frames, skipped frames, frames
        AviCase{"cd_stereo", 64, 48, kCd, 6.5, 0, 6},
        AviCase{"mono_8bit_odd_length", 20, 10, kMono8, 6.5, 0, 6},
        // The least a wave may hold: one sample a frame, exactly as long as the video.
        AviCase{"one_sample_a_frame", 4, 4, Wave(25, 6, 24, true), 6, 0, 6},
        AviCase{"list_and_18_byte_fmt", 16, 8, WithExtraChunks(kMono8), 6.5, 0, 6},
        // What ffmpeg and most audio editors write beyond 16-bit stereo.
        AviCase{"extensible_24bit_96k", 8, 8, Wave(96000, 2, 24, true), 6.5, 0, 6},
        AviCase{"past_the_wave_end", 8, 8, kCd, 2.5, 0, 5},
        AviCase{"skipped_frames", 8, 4, kMono8, 20, 7, 4},
        // song_start leaves the sound before measure 1 out; the end of the song comes sooner.
        AviCase{"song_start", 8, 4, kMono8, 6.5, 1, 5, {}, 0, 0, "song.avi", {}, 123},
        AviCase{"silent_641x481", 641, 481, std::nullopt, 0, 0, 3},
        AviCase{"silent_1x1", 1, 1, std::nullopt, 0, 0, 3},
        AviCase{"silent_5x3", 5, 3, std::nullopt, 0, 0, 3},
        // Writers that cannot seek back leave the size unknown: the samples run to the end.
        AviCase{"data_size_unknown", 8, 8, kCd, 6.5, 0, 6, DeclaredSize(0xFFFFFFFFu)},
        AviCase{"data_size_zero", 8, 8, kCd, 6.5, 0, 6, DeclaredSize(0)},
        // A 'data' chunk that claims more than the file holds ends at the end of the file.
        AviCase{"truncated_data", 8, 8, kCd, 4, 0, 6, [](Bytes& b) { b.resize(b.size() - 300); },
                300},
        // The chunks are found in any order: here 'fmt ' after 'data'.
        AviCase{"format_after_data", 8, 8, kCd, 6.5, 0, 6,
                [](Bytes& b) { std::rotate(b.begin() + 12, b.begin() + 36, b.end()); }},
        // Split files are numbered before the extension and carry their own frames' audio.
        Split("split_in_three", "song.final.avi", 0, 3,
              {{"song.final.00.avi", 2}, {"song.final.01.avi", 2}, {"song.final.02.avi", 2}}),
        Split("split_late_start", "song.avi", 5, 3,
              {{"song.00.avi", 2}, {"song.01.avi", 2}, {"song.02.avi", 1}}),
        // A file of exactly the split size is not split.
        Split("split_at_exactly_the_size", "song.avi", 0, 4,
              {{"song.00.avi", 3}, {"song.01.avi", 2}}),
        // The dot of a folder is not an extension.
        Split("split_dotted_folder_no_extension", "take.2/song", 0, 3,
              {{"take.2/song.00", 2}, {"take.2/song.01", 1}}),
        // Nor is the dot that starts a hidden name.
        Split("split_hidden_no_extension", ".song", 0, 3, {{".song.00", 2}, {".song.01", 1}})),
    [](const auto& info) { return std::string(info.param.name); });

// The song's samples read piece by piece, from any sample frame on, are the file's own bytes; the
// data is what the file holds (a header may claim more); a read past it, or of a file cut short
// since it was opened, fails with the reason.
TEST(WaveReader, PiecesAreTheFilesSamples) {
    TempDir dir;
    WaveFormat format;
    format.bitsPerSample = 24;
    format.chunksBeforeData = {ListInfoChunk()};
    const Bytes samples = PatternBytes(6 * 1000);
    Bytes bytes = WaveBytes(format, samples);
    const std::size_t dataAt = bytes.size() - samples.size();
    bytes[dataAt - 1] = 0x7F;  // the 'data' chunk claims about 2 GB
    ASSERT_TRUE(WriteBinaryFile(dir.File("song.wav"), bytes));
    WaveFile wave;
    ASSERT_TRUE(wave.Load(dir.File("song.wav")));
    EXPECT_EQ(wave.FrameCount(), 1000u);
    std::string reason;
    for (const std::size_t first : {0, 1, 417, 999}) {
        for (const std::size_t count : {1, 7, 583}) {
            Bytes piece(count * 6);
            const bool inside = first + count <= 1000;
            EXPECT_EQ(wave.ReadFrames(first, count, piece.data(), reason), inside);
            if (inside) {
                EXPECT_TRUE(std::equal(piece.begin(), piece.end(), samples.begin() + first * 6))
                    << first << " " << count;
            }
        }
    }
    EXPECT_EQ(reason, "past the end of the samples");
    fs::resize_file(dir.File("song.wav"), bytes.size() - 600);
    Bytes piece(600);
    EXPECT_FALSE(wave.ReadFrames(900, 100, piece.data(), reason));
    EXPECT_EQ(reason, Format("0 of 600 bytes read at %zu", dataAt + 5400));
}

// A render's file replaces an earlier render's, whose numbered parts go; files that only look
// like parts stay as they were: a camera's own numbered AVI, text files.
TEST(AviParts, CleanupRemovesOnlyOwnParts) {
    struct Case {
        std::vector<std::string> foreign;  // kept, byte for byte
        std::vector<std::string> renders;  // one frame each, in turn; the last is the output
    };
    for (const Case& c :
         {Case{{"take.02.avi"}, {"take.avi", "take.00.avi", "take.01.avi", "take.avi"}},
          Case{{"notes.00.txt", "notes.01.txt"}, {"notes.txt"}}}) {
        TempDir dir;
        std::vector<std::string> expected{c.renders.back()};
        for (const std::string& name : c.foreign) {
            ASSERT_TRUE(name.ends_with(".txt") ? WriteTextFile(dir.File(name), name)
                                               : WriteTestVideo(dir.File(name), TestVideo{}));
            expected.push_back(name + ReadTextFile(dir.File(name)));
        }
        for (const std::string& name : c.renders) {
            AVIWriter writer(dir.File(name), 8, 8, "");
            ASSERT_TRUE(writer.Create(false) && InsertFrames(writer, 0, 1) && writer.Close());
        }
        std::vector<std::string> after;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            after.push_back(name == expected[0] ? name
                                                : name + ReadTextFile(entry.path().string()));
        }
        std::sort(after.begin(), after.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_TRUE(after == expected) << expected[0];
    }
}

// A split render replaces an earlier one whole or not at all: killed before any step of its
// publish, file 00 is on disk only with all its followers of the same render, and the next
// render (under its lock) leaves its own parts alone. Renders tell apart by their width.
TEST(AviParts, PublishedWholeOrNotAtAll) {
    const auto render = [](const std::string& output, int width, std::uint32_t parts, int stopAt) {
        AVIWriter writer(output, width, 8, "");
        writer.SetSplitBytes(1);  // one frame a part
        int steps = 0;
        writer.SetPublishStep([&] { return steps++ != stopAt; });
        return writer.Create(false) && InsertFrames(writer, 0, parts) && writer.Close();
    };
    // Each part on disk: its number and the render's width.
    const auto parts = [](const TempDir& dir) {
        std::vector<std::pair<std::string, std::uint32_t>> found;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            std::vector<RiffChunk> chunks;
            std::string error;
            ReadRiffChunks(entry.path().string(), chunks, error);
            found.emplace_back(entry.path().filename().string(), WordAt(Find(chunks, "avih"), 8));
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    // What each render leaves on its own.
    TempDir alone;
    const std::string output = alone.File("take.avi");
    ASSERT_TRUE(render(output, 8, 3, -1));
    const auto earlier = parts(alone);
    fs::remove_all(alone.Path() / "take.00.avi");
    OutputLock aloneLock;
    ASSERT_TRUE(aloneLock.Acquire(output, true));  // the rest of the earlier parts goes
    aloneLock.Release();
    ASSERT_TRUE(render(output, 16, 2, -1));
    const auto later = parts(alone);
    ASSERT_GT(later.size(), 1u);
    ASSERT_NE(earlier.size(), later.size());
    for (int stop = 0;; ++stop) {
        SCOPED_TRACE(stop);
        TempDir dir;
        ASSERT_TRUE(render(dir.File("take.avi"), 8, 3, -1));
        const bool finished = render(dir.File("take.avi"), 16, 2, stop);
        const auto published = [&] {
            auto found = parts(dir);
            std::erase_if(found,
                          [](const auto& part) { return !part.first.starts_with("take.0"); });
            return found;
        };
        if (!published().empty() && published()[0].first == "take.00.avi") {
            EXPECT_TRUE(published() == earlier || published() == later);
        }
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.File("take.avi"), true));
        // Numbered files without their file 00 are cleared.
        EXPECT_TRUE(published().empty() || published()[0].first == "take.00.avi");
        ASSERT_TRUE(render(dir.File("take.avi"), 16, 2, -1));
        lock.Release();
        EXPECT_TRUE(parts(dir) == later);
        if (finished) {
            // Each earlier part removed, each of its own renamed.
            EXPECT_EQ(static_cast<std::size_t>(stop), earlier.size() + later.size());
            break;
        }
    }
}

// A frame that cannot be stored fails the writing thread's render as it fails inline, and direct
// writes as writes through the page cache: the same lines, the same file left. A limit set
// after the file opened is one the writer did not foresee: its direct writes fail.
TEST(AviWriterThreadDeathTest, FailedWriteEndsAsInline) {
    struct Way {
        bool threaded;
        std::size_t staging;
        bool limitAfterOpen;
    };
    for (const auto& [width, height] : {std::pair{64, 48}, std::pair{30, 20}}) {
        TempDir dir;
        const auto fill = [&](const Way& way) {
            LogCollector log;
            auto threadFile = std::make_unique<AVIWriter>(dir.File("0.avi"), width, height, "");
            threadFile->SetStagingBytes(way.staging);
            AVIWriterThread thread(std::move(threadFile));
            AVIWriter file(dir.File("0.avi"), width, height, "");
            file.SetStagingBytes(way.staging);
            FrameWriter& writer = way.threaded ? static_cast<FrameWriter&>(thread) : file;
            const auto setLimit = [](bool limited) {
                rlimit limit{};
                if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
                    return false;
                }
                limit.rlim_cur = limited ? 64 << 10 : limit.rlim_max;
                return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
            };
            if (!setLimit(!way.limitAfterOpen)) {
                return std::string("no limit");
            }
            writer.Open();
            std::uint32_t n = 0;
            if (way.limitAfterOpen && !setLimit(true)) {
                return std::string("no limit");
            }
            while (n < 1000 && InsertFrames(writer, n, 1)) {
                ++n;
            }
            const bool failed = n < 1000 || !writer.Flush();
            writer.Close(false);
            const std::string path =
                dir.File(std::to_string(way.threaded) + std::to_string(way.staging) + ".avi");
            fs::rename(PartialName(dir.File("0.avi")), path);
            const Bytes bytes = FileBytes(path);
            return log.Joined() + std::to_string(failed) + " " + std::to_string(bytes.size()) +
                   " " + std::to_string(std::hash<std::string>{}({bytes.begin(), bytes.end()}));
        };
        const auto failsAlike = [&]() -> int {
            ::signal(SIGXFSZ, SIG_IGN);
            const std::string written = fill({false, 0, false});
            std::fprintf(stderr, "%s\n", written.c_str());
            for (const Way& way : {Way{true, RiffWriter::kStagingBytes, false},
                                   Way{false, RiffWriter::kBlockBytes, true}}) {
                const std::string other = fill(way);
                if (other != written) {
                    std::fprintf(stderr, "%s\n", other.c_str());
                    return 1;
                }
            }
            return written.find("File too large.\n1 ") == std::string::npos;
        };
        EXPECT_EXIT(std::_Exit(failsAlike()), ::testing::ExitedWithCode(0), "") << width;
    }
}

}  // namespace
}  // namespace zorvo::test
