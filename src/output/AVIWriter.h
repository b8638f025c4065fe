#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/WaveFile.h"
#include "output/FrameWriter.h"
#include "output/RiffWriter.h"

namespace zorvo {

// Writes the rendered frames, each with the song's audio of the same 1/25 second, into AVI
// files: uncompressed 24-bit video at 25 frames a second and the WAVE file's PCM audio. A file
// that has grown past the split size is closed and numbered, and the frames go on in a fresh
// file under the same path; at the end the last one is numbered too.
class AVIWriter : public FrameWriter {
  public:
    static constexpr std::uint64_t kSplitBytes = std::uint64_t{1} << 30;

    // Stores the settings; nothing is opened. An empty wavePath makes a video without audio.
    AVIWriter(std::string path, std::int32_t width, std::int32_t height, std::string wavePath);
    ~AVIWriter() override;
    AVIWriter(const AVIWriter&) = delete;
    AVIWriter& operator=(const AVIWriter&) = delete;

    // Opens a new file at `path` with its streams. reopen is false for the first file of a
    // render (the WAVE file is read and `frameBitmap` allocated), true after a split.
    bool Create(bool reopen);
    bool Open() override { return Create(false); }
    // Writes `frameBitmap` as the next frame and the audio of song frame frameNumber, splitting
    // first when the file on disk is larger than the split size.
    bool InsertFrame(std::uint32_t frameNumber) override;
    // Finishes the file and frees the audio and the frame; numbers the last file when earlier
    // ones were numbered. False when the file could not be finished or numbered. A published
    // render removes the numbered parts of an earlier one under the same name (only AVI files
    // this program wrote), so the files on disk are those of one render; a split render is
    // published whole or not at all.
    bool Close(bool publish = true) override;
    // The files of this render that are on disk, in order.
    std::vector<std::string> Files() const override;

    // A file larger than this many bytes is split before the next frame.
    void SetSplitBytes(std::uint64_t bytes) { splitBytes = bytes; }
    // The bytes gathered for each direct write (RiffWriter::Open); 0 for none.
    void SetStagingBytes(std::size_t bytes) { stagingBytes = bytes; }
    // For tests: called before each removal and rename of the publish; false ends the publish
    // right there, as a kill would.
    void SetPublishStep(std::function<bool()> step) { publishStep = std::move(step); }

    // The path with ".NN" (two digits or more) put before its extension, or appended when it
    // has none (InsertBeforeExtension): "take.avi" -> "take.01.avi", ".take" -> ".take.01".
    static std::string NumberedName(const std::string& path, int number);

    const std::string path;
    const std::int32_t width;
    const std::int32_t height;
    const std::string wavePath;

  private:
    bool CreateAudioStream();
    bool CreateFrame();
    bool WriteFrame();
    bool WriteAudio(std::uint32_t frameNumber);
    bool Split(std::uint32_t frameNumber);
    void Abandon();
    void PostWriteError() const;
    bool RemoveEarlierParts() const;
    bool FinishFile();
    bool Publish();
    bool Step() const;

    // The file being written: the output's partial name until the render is published.
    const std::string current;
    bool published = false;
    std::unique_ptr<RiffWriter> aviFile;
    int videoStream = -1;
    int audioStream = -1;
    WaveFile waveData;
    std::vector<std::uint8_t> audioSlice;  // one frame's audio, read from the file
    std::int32_t audioBytesPerFrame = 0;
    std::int32_t audioSamplesPerFrame = 0;
    std::int32_t splitCount = 0;
    std::uint32_t framesInEarlierFiles = 0;
    // Bytes of one stored row: 3 x width rounded up to 4, as the bitmap format requires.
    std::size_t storedStride = 0;
    // The frame with padded rows, for widths whose rows need padding.
    std::unique_ptr<std::uint8_t[]> paddedFrame;
    std::uint64_t splitBytes = kSplitBytes;
    std::size_t stagingBytes = RiffWriter::kStagingBytes;
    std::function<bool()> publishStep;
};

}  // namespace zorvo
