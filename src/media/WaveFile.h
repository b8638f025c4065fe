#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/RegularFile.h"

namespace zorvo {

// The song's audio: a PCM WAVE file, of which only the headers are read when it is opened; the
// samples are read from the file in pieces as they are needed, so memory does not grow with the
// song. The 'fmt ' and 'data' chunks are looked for rather than assumed at fixed offsets, so a
// canonical 44-byte file and one with extra chunks (LIST, fact, an 18-byte 'fmt ') read alike.
// Extensible files are read when their samples are integer PCM; the format's block align and
// byte rate must match its channels, sample size and rate. The data is what the file really
// holds: a 'data' chunk that claims more ends at the end of the file.
class WaveFile {
  public:
    // Opens the file and reads and checks its headers; posts its own log line and a line naming
    // the file and the reason, and returns false on failure. The file stays open until Free.
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

    bool Loaded() const { return m_loaded; }
    std::uint64_t FileSize() const { return m_fileSize; }
    // Sample frames (one sample of every channel) in the data.
    std::uint64_t FrameCount() const { return blockAlign != 0 ? dataSize / blockAlign : 0; }
    // The data's length in milliseconds.
    double DurationMs() const;

    // Reads `bytes` bytes of the samples from byte `offset` of the data into `buffer`. False
    // when they are not all in the data or the file no longer gives them (it shrank, a read
    // error), with the reason in `reason`. Posts nothing; any thread may read.
    bool ReadData(std::uint64_t offset, std::size_t bytes, std::uint8_t* buffer,
                  std::string& reason) const;
    // The same by sample frames: `count` frames from frame `first`.
    bool ReadFrames(std::uint64_t first, std::size_t count, std::uint8_t* buffer,
                    std::string& reason) const;
    // Posts "Error (component): Failed to read wave file." and the file and reason after a
    // failed read.
    void PostReadFailure(const char* component, const std::string& reason) const;

    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
    // The whole 'fmt ' chunk of an extensible file (tag 0xFFFE), which a reader needs entire;
    // empty for the plain formats.
    std::vector<std::uint8_t> extensibleFormat;

    static constexpr std::uint16_t kExtensibleTag = 0xFFFE;

  private:
    bool ReadAt(std::uint64_t offset, std::size_t bytes, std::uint8_t* buffer,
                std::string& reason) const;
    bool Parse();
    bool Fail(const char* component, const char* line, std::string reason);

    RegularFile m_file;
    std::vector<std::uint8_t> m_bytes;  // the file's bytes, for LoadBytes
    std::string m_path;
    bool m_loaded = false;
    std::uint64_t m_fileSize = 0;
    std::string m_component;
    std::string m_failure;
    std::string m_reason;
};

}  // namespace zorvo
