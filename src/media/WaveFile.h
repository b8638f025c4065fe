#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorvo {

// The song's audio: a PCM WAVE file held whole in memory. The 'fmt ' and 'data' chunks are
// looked for rather than assumed at fixed offsets, so a canonical 44-byte file and one with
// extra chunks (LIST, fact, an 18-byte 'fmt ') read alike. Extensible files are read when their
// samples are integer PCM; the format's block align and byte rate must match its channels,
// sample size and rate.
class WaveFile {
  public:
    // Reads and checks the file; posts its own log line and a line naming the file and the
    // reason, and returns false on failure.
    bool Load(const std::string& path);
    // The same from the bytes of a whole file already in memory (copied).
    bool LoadBytes(const std::uint8_t* bytes, std::size_t size);
    // Load without posting: on failure Failure() holds the line Load would post and Reason()
    // the system's or the format's reason.
    bool Inspect(const std::string& path);
    const std::string& Failure() const { return m_failure; }
    const std::string& Reason() const { return m_reason; }
    // Whether a 1/framesPerSecond slice holds at least one whole sample frame, as the writer
    // needs.
    bool SlicesIntoFrames(std::uint32_t framesPerSecond) const;
    void Free();

    bool Loaded() const { return static_cast<bool>(m_data); }
    // The file's bytes; the samples are dataSize bytes from dataOffset.
    const std::uint8_t* Data() const { return m_data.get(); }
    std::size_t FileSize() const { return m_fileSize; }

    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::size_t dataOffset = 0;
    std::size_t dataSize = 0;
    // The whole 'fmt ' chunk of an extensible file (tag 0xFFFE), which a reader needs entire;
    // empty for the plain formats.
    std::vector<std::uint8_t> extensibleFormat;

    static constexpr std::uint16_t kExtensibleTag = 0xFFFE;

  private:
    bool Read(const std::string& path);
    bool Parse();
    bool Fail(const char* component, const char* line, std::string reason);

    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_fileSize = 0;
    std::string m_component;
    std::string m_failure;
    std::string m_reason;
};

}  // namespace zorvo
