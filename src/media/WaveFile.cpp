#include "media/WaveFile.h"

#include <cstring>
#include <limits>

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

// A format chunk larger than this is not one: real ones are 16 to 40 bytes.
constexpr std::size_t kLargestFormat = 65536;

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
    m_path = path;
    if (!m_file.Open(path)) {
        return Fail("Script", "Error (Script): Failed to open wave file.\n", m_file.Reason());
    }
    m_fileSize = m_file.Size();
    if (!Parse()) {
        Free();
        return false;
    }
    m_loaded = true;
    return true;
}

bool WaveFile::LoadBytes(const std::uint8_t* bytes, std::size_t size) {
    Free();
    m_bytes.assign(bytes, bytes + size);
    m_fileSize = size;
    if (!Parse()) {
        PostLog(m_failure);
        Free();
        return false;
    }
    m_loaded = true;
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

double WaveFile::DurationMs() const {
    return samplesPerSecond != 0 ? static_cast<double>(FrameCount()) * 1000.0 / samplesPerSecond
                                 : 0.0;
}

void WaveFile::Free() {
    m_file.Close();
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_loaded = false;
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

bool WaveFile::ReadAt(std::uint64_t offset, std::size_t bytes, std::uint8_t* buffer,
                      std::string& reason) const {
    if (!m_file.IsOpen()) {
        if (offset > m_bytes.size() || bytes > m_bytes.size() - offset) {
            reason = "past the end of the file";
            return false;
        }
        std::memcpy(buffer, m_bytes.data() + offset, bytes);
        return true;
    }
    std::size_t got = 0;
    if (!m_file.ReadAt(offset, buffer, bytes, got, reason)) {
        return false;
    }
    if (got < bytes) {
        // The file was cut short after it was opened.
        reason = Format("%zu of %zu bytes read at %llu", got, bytes,
                        static_cast<unsigned long long>(offset));
        return false;
    }
    return true;
}

bool WaveFile::ReadData(std::uint64_t offset, std::size_t bytes, std::uint8_t* buffer,
                        std::string& reason) const {
    if (!m_loaded || offset > dataSize || bytes > dataSize - offset) {
        reason = "past the end of the samples";
        return false;
    }
    return ReadAt(dataOffset + offset, bytes, buffer, reason);
}

bool WaveFile::ReadFrames(std::uint64_t first, std::size_t count, std::uint8_t* buffer,
                          std::string& reason) const {
    return ReadData(first * blockAlign, count * blockAlign, buffer, reason);
}

void WaveFile::PostReadFailure(const char* component, const std::string& reason) const {
    PostLog(Format("Error (%s): Failed to read wave file.\n", component));
    PostContext(component, Format("file '%s': %s", m_path.c_str(), reason.c_str()));
}

bool WaveFile::Parse() {
    const auto readFailed = [this](std::string reason) {
        return Fail("Script", "Error (Script): Failed to read wave file.\n", std::move(reason));
    };
    std::uint8_t head[kRiffHeaderSize];
    std::string reason;
    if (m_fileSize >= kRiffHeaderSize && !ReadAt(0, sizeof head, head, reason)) {
        return readFailed(reason);
    }
    if (m_fileSize < kRiffHeaderSize || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return Fail("AVIWriter",
                    "Error (AVIWriter): Failed to create AVIWriter: Wave file is not RIFF/WAVE.\n",
                    "no RIFF/WAVE header");
    }

    // Walk the chunks by the file's real length: streamed files often carry a wrong RIFF size.
    bool haveFormat = false;
    bool haveData = false;
    std::uint64_t at = kRiffHeaderSize;
    std::vector<std::uint8_t> format;
    while (!(haveFormat && haveData) && m_fileSize - at >= kChunkHeaderSize) {
        std::uint8_t chunk[kChunkHeaderSize];
        if (!ReadAt(at, sizeof chunk, chunk, reason)) {
            return readFailed(reason);
        }
        const std::uint64_t body = at + kChunkHeaderSize;
        const std::uint64_t left = m_fileSize - body;
        const std::uint64_t size = U32(chunk + 4);
        if (!haveFormat && std::memcmp(chunk, "fmt ", 4) == 0 && size >= kPcmFormatSize &&
            size <= left && size <= kLargestFormat) {
            format.resize(static_cast<std::size_t>(size));
            if (!ReadAt(body, format.size(), format.data(), reason)) {
                return readFailed(reason);
            }
            const std::uint8_t* f = format.data();
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
                extensibleFormat = format;
            }
            haveFormat = true;
        } else if (!haveData && std::memcmp(chunk, "data", 4) == 0) {
            dataOffset = body;
            // A size of 0 or one past the end comes from writers that could not go back to
            // fill it in, or from a file cut short: the samples then run to the end of the file.
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
