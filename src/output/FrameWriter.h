#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/FrameBitmap.h"

namespace zorvo {

// Where a build puts its frames: the composition draws each one into `frameBitmap`, then
// InsertFrame stores it with the song's audio of the same 1/25 second. Every operation posts
// its own log line when it fails.
class FrameWriter {
  public:
    virtual ~FrameWriter() = default;

    // Opens the output: the file, its streams and the song.
    virtual bool Open() = 0;
    // Stores `frameBitmap` as the next frame, with the audio of song frame frameNumber. Frames
    // come in order, starting at skippedFrames.
    virtual bool InsertFrame(std::uint32_t frameNumber) = 0;
    // Waits until the frames inserted so far are stored, where a thread writes them; false
    // when one could not be (the writer has posted why). An encoder may still hold them.
    virtual bool Flush() { return true; }
    // Finishes the output, written under its partial name (OutputFiles.h). With `publish` (a
    // render that ended or was stopped) a finished output then takes the output's name in
    // place of the previous one; otherwise, or when it could not be finished, it stays under
    // the partial name and the previous output is left as it was. False when the file could
    // not be completed or put in place.
    virtual bool Close(bool publish = true) = 0;
    // The files of this render that are on disk, in order.
    virtual std::vector<std::string> Files() const = 0;

    // Leading song frames that are not rendered; the first inserted frame is number
    // skippedFrames.
    std::uint32_t skippedFrames = 0;
    // Where measure 1 begins in the song (the script's song_start): song frame 0's audio starts
    // there, and what comes before is left out.
    std::uint32_t songStartMs = 0;
    // The output frame the composition draws into (bottom-up BGR) and its pixels.
    FrameBitmap frameBitmap;
    std::uint8_t* frameBits = nullptr;

  protected:
    // songStartMs in bytes of the song's data: whole sample frames.
    std::uint64_t SongLeadBytes(std::uint32_t samplesPerSecond, std::uint16_t blockAlign) const {
        return std::uint64_t{songStartMs} * samplesPerSecond / 1000 * blockAlign;
    }
    // Whether `frameNumber` is the one after the `stored` frames; otherwise posts the
    // component's "Frame is out of order" line. Frames are stored one after the other, so a
    // number that is not the next one would shift every later frame against its audio.
    bool InOrder(std::uint32_t frameNumber, std::uint64_t stored, const char* component) const;
};

enum class OutputKind { Avi, Matroska, Mp4, Mov };

// The output path's extension, compared without case, chooses the writer: .mkv, .mp4 and .mov
// are encoded; everything else is AVI.
OutputKind OutputKindOf(const std::string& path);

// The writer for `path`; splitBytes only applies to AVI output. Nothing is opened yet.
std::unique_ptr<FrameWriter> MakeFrameWriter(const std::string& path, std::int32_t width,
                                             std::int32_t height, const std::string& wavePath,
                                             std::uint64_t splitBytes);

}  // namespace zorvo
