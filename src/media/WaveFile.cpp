#include "media/WaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "common/LogChannel.h"

namespace zorvo {
namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kPcmFormatSize = 16;
constexpr std::size_t kExtensibleFormatSize = 40;
// The GUID of integer PCM samples in an extensible format; other sub-formats differ.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(U16(p)) | static_cast<std::uint32_t>(U16(p + 2)) << 16;
}

class FileHandle {
  public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

}  // namespace

bool WaveFile::Load(const std::string& path) {
    if (Inspect(path)) {
        return true;
    }
    PostLog(m_failure);
    PostContext(m_component, Format("file '%s': %s", path.c_str(), m_reason.c_str()));
    return false;
}

bool WaveFile::Inspect(const std::string& path) {
    Free();
    if (!Read(path)) {
        return false;
    }
    if (!Parse()) {
        Free();
        return false;
    }
    return true;
}

bool WaveFile::LoadBytes(const std::uint8_t* bytes, std::size_t size) {
    Free();
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size + 1]);
    if (!data) {
        PostLog("Error (Script): Failed to read wave file.\n");
        return false;
    }
    if (size > 0) {
        std::memcpy(data.get(), bytes, size);
    }
    m_data = std::move(data);
    m_fileSize = size;
    if (!Parse()) {
        PostLog(m_failure);
        Free();
        return false;
    }
    return true;
}

bool WaveFile::Fail(const char* component, const char* line, std::string reason) {
    m_component = component;
    m_failure = line;
    m_reason = std::move(reason);
    return false;
}

bool WaveFile::SlicesIntoFrames(std::uint32_t framesPerSecond) const {
    const std::uint64_t byteRate = std::uint64_t{blockAlign} * samplesPerSecond;
    // Every frame must get at least one whole sample.
    return blockAlign != 0 && byteRate <= std::numeric_limits<std::uint32_t>::max() &&
           byteRate / framesPerSecond >= blockAlign;
}

void WaveFile::Free() {
    m_data.reset();
    m_fileSize = 0;
    formatTag = 0;
    channels = 0;
    samplesPerSecond = 0;
    averageBytesPerSecond = 0;
    blockAlign = 0;
    bitsPerSample = 0;
    dataOffset = 0;
    dataSize = 0;
    extensibleFormat.clear();
}

bool WaveFile::Read(const std::string& path) {
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) {
        return Fail("Script", "Error (Script): Failed to open wave file.\n", std::strerror(errno));
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    // One spare byte so that an empty file still gets a buffer.
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[length + 1]);
    std::size_t done = 0;
    int readError = 0;
    while (data && done < length) {
        const ssize_t got = ::read(file.Get(), data.get() + done, length - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            readError = got < 0 ? errno : 0;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    if (!data || done < length) {
        return Fail("Script", "Error (Script): Failed to read wave file.\n",
                    !data       ? "not enough memory"
                    : readError ? std::strerror(readError)
                                : Format("%zu of %zu bytes read", done, length));
    }
    m_data = std::move(data);
    m_fileSize = length;
    return true;
}

bool WaveFile::Parse() {
    const std::uint8_t* bytes = m_data.get();
    if (m_fileSize < kRiffHeaderSize || std::memcmp(bytes, "RIFF", 4) != 0 ||
        std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        return Fail("AVIWriter",
                    "Error (AVIWriter): Failed to create AVIWriter: Wave file is not RIFF/WAVE.\n",
                    "no RIFF/WAVE header");
    }

    // Walk the chunks by the file's real length: streamed files often carry a wrong RIFF size.
    bool haveFormat = false;
    bool haveData = false;
    std::size_t at = kRiffHeaderSize;
    while (!(haveFormat && haveData) && m_fileSize - at >= kChunkHeaderSize) {
        const std::uint8_t* chunk = bytes + at;
        const std::size_t body = at + kChunkHeaderSize;
        const std::size_t left = m_fileSize - body;
        const std::size_t size = U32(chunk + 4);
        if (!haveFormat && std::memcmp(chunk, "fmt ", 4) == 0 && size >= kPcmFormatSize &&
            size <= left) {
            const std::uint8_t* f = bytes + body;
            formatTag = U16(f);
            channels = U16(f + 2);
            samplesPerSecond = U32(f + 4);
            averageBytesPerSecond = U32(f + 8);
            blockAlign = U16(f + 12);
            bitsPerSample = U16(f + 14);
            if (formatTag == kExtensibleTag) {
                if (size < kExtensibleFormatSize || U16(f + 16) < 22) {
                    return Fail("AVIWriter",
                                "Error (AVIWriter): Failed to create AVIWriter: Wave file has a "
                                "truncated extensible format.\n",
                                "truncated extensible format");
                }
                if (std::memcmp(f + 24, kPcmSubFormat, sizeof kPcmSubFormat) != 0) {
                    return Fail("AVIWriter",
                                "Error (AVIWriter): Failed to create AVIWriter: Wave file holds "
                                "float or compressed samples; only integer PCM is supported.\n",
                                "float or compressed samples");
                }
                extensibleFormat.assign(f, f + size);
            }
            haveFormat = true;
        } else if (!haveData && std::memcmp(chunk, "data", 4) == 0) {
            dataOffset = body;
            // A size of 0 or one past the end comes from writers that could not go back to
            // fill it in: the samples then run to the end of the file.
            dataSize = size == 0 || size > left ? left : size;
            haveData = true;
            if (dataSize == left) {
                break;
            }
        }
        if (size > left) {
            break;
        }
        at = body + size + (size % 2);
        if (at > m_fileSize) {
            break;
        }
    }
    if (!haveFormat) {
        return Fail(
            "AVIWriter",
            "Error (AVIWriter): Failed to create AVIWriter: Wave file has no 'fmt ' chunk.\n",
            "no PCM format chunk");
    }
    if (!haveData) {
        return Fail(
            "AVIWriter",
            "Error (AVIWriter): Failed to create AVIWriter: Wave file has no 'data' chunk.\n",
            "no sample data chunk");
    }
    // A format whose numbers disagree cannot be cut into frames of audio correctly.
    const std::uint64_t frameBytes = std::uint64_t{channels} * ((bitsPerSample + 7u) / 8u);
    if (channels == 0 || samplesPerSecond == 0 || bitsPerSample == 0 || blockAlign != frameBytes ||
        averageBytesPerSecond != std::uint64_t{samplesPerSecond} * blockAlign) {
        return Fail("AVIWriter",
                    "Error (AVIWriter): Failed to create AVIWriter: Wave file has an invalid "
                    "block align or byte rate.\n",
                    "block align or byte rate disagree with the format");
    }
    return true;
}

}  // namespace zorvo
