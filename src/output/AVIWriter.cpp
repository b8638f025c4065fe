#include "output/AVIWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

#include "common/LogChannel.h"
#include "common/PathName.h"
#include "common/SafeFile.h"
#include "output/OutputFiles.h"

namespace zorvo {
namespace {

constexpr std::uint32_t kFramesPerSecond = 25;
// The frame rectangle of a stream header holds 16-bit values.
constexpr std::int32_t kLargestSide = std::numeric_limits<std::int16_t>::max();
// One frame must leave room in a 32-bit RIFF file that is split after 1 GiB.
constexpr std::uint64_t kLargestFrame = std::uint64_t{1} << 30;
constexpr std::size_t kBitmapHeaderSize = 40;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

AVIWriter::AVIWriter(std::string path_, std::int32_t width_, std::int32_t height_,
                     std::string wavePath_)
    : path(std::move(path_)),
      width(width_),
      height(height_),
      wavePath(std::move(wavePath_)),
      current(PartialName(path)) {}

AVIWriter::~AVIWriter() {
    if (aviFile) {
        Close(false);  // not closed by its render: that render failed
    }
}

std::string AVIWriter::NumberedName(const std::string& path, int number) {
    return InsertBeforeExtension(path, Format(".%.2i", number));
}

bool AVIWriter::Create(bool reopen) {
    if (aviFile) {
        PostLog("Error (AVIWriter): Failed to create AVIWriter: AVI file was already created.\n");
        return false;
    }
    const std::uint64_t stride =
        (std::uint64_t{3} * static_cast<std::uint32_t>(width) + 3) & ~std::uint64_t{3};
    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide ||
        stride * static_cast<std::uint32_t>(height) > kLargestFrame) {
        PostLog("Error (AVIWriter): Failed to create AVIWriter: Invalid frame size.\n");
        return false;
    }
    storedStride = static_cast<std::size_t>(stride);

    if (IsOwnPartial(current)) {
        ::unlink(current.c_str());  // a failed render's, when no lock cleared it
    }
    auto file = std::make_unique<RiffWriter>();
    if (!file->Open(current, stagingBytes)) {
        PostLog("Error (AVIWriter): Failed to create AVIWriter: Failed to create AVI file.\n");
        PostContext("AVIWriter",
                    Format("file '%s': %s", current.c_str(), std::strerror(file->LastError())));
        return false;
    }
    aviFile = std::move(file);
    audioStream = -1;
    videoStream = -1;

    if (!wavePath.empty()) {
        if ((!reopen || !waveData.Loaded()) && !waveData.Load(wavePath)) {
            Abandon();
            return false;
        }
        if (!CreateAudioStream()) {
            Abandon();
            return false;
        }
    }

    const auto frameBytes = static_cast<std::uint32_t>(storedStride * height);
    AviStreamHeader video;
    std::memcpy(video.type, "vids", 4);
    std::memcpy(video.handler, "DIB ", 4);
    video.scale = 40;
    video.rate = 1000;
    video.suggestedBufferSize = frameBytes;
    video.right = static_cast<std::int16_t>(width);
    video.bottom = static_cast<std::int16_t>(height);

    // A bottom-up (positive height), uncompressed 24-bit bitmap.
    std::vector<std::uint8_t> frameFormat;
    Put32(frameFormat, kBitmapHeaderSize);
    Put32(frameFormat, static_cast<std::uint32_t>(width));
    Put32(frameFormat, static_cast<std::uint32_t>(height));
    Put16(frameFormat, 1);
    Put16(frameFormat, 24);
    Put32(frameFormat, 0);
    Put32(frameFormat, frameBytes);
    for (int i = 0; i < 4; ++i) {
        Put32(frameFormat, 0);
    }
    videoStream = aviFile->AddStream(video, std::move(frameFormat));

    if ((!reopen || frameBitmap.Empty()) && !CreateFrame()) {
        Abandon();
        return false;
    }
    if (!aviFile->WriteHeaders(width, height)) {
        PostLog("Error (AVIWriter): Failed to create AVIWriter: Failed to set stream format.\n");
        Abandon();
        return false;
    }
    return true;
}

bool AVIWriter::CreateAudioStream() {
    const std::uint64_t byteRate = std::uint64_t{waveData.blockAlign} * waveData.samplesPerSecond;
    if (!waveData.SlicesIntoFrames(kFramesPerSecond)) {
        PostLog(
            "Error (AVIWriter): Failed to create AVIWriter: Wave file has an invalid block align "
            "or byte rate.\n");
        return false;
    }
    audioBytesPerFrame = static_cast<std::int32_t>(byteRate / kFramesPerSecond);
    audioSamplesPerFrame = audioBytesPerFrame / waveData.blockAlign;

    AviStreamHeader audio;
    std::memcpy(audio.type, "auds", 4);
    audio.scale = waveData.blockAlign;
    audio.rate = static_cast<std::uint32_t>(byteRate);
    audio.sampleSize = waveData.blockAlign;
    audio.quality = -1;

    std::vector<std::uint8_t> waveFormat = waveData.extensibleFormat;
    if (waveFormat.empty()) {
        Put16(waveFormat, waveData.formatTag);
        Put16(waveFormat, waveData.channels);
        Put32(waveFormat, waveData.samplesPerSecond);
        Put32(waveFormat, waveData.averageBytesPerSecond);
        Put16(waveFormat, waveData.blockAlign);
        Put16(waveFormat, waveData.bitsPerSample);
        Put16(waveFormat, 0);
    }
    audioStream = aviFile->AddStream(audio, std::move(waveFormat));
    return true;
}

bool AVIWriter::CreateFrame() {
    paddedFrame.reset();
    frameBits = nullptr;
    const std::size_t packedStride = static_cast<std::size_t>(width) * 3;
    if (frameBitmap.Allocate(width, height)) {
        frameBits = frameBitmap.Bits();
        if (storedStride == packedStride) {
            return true;
        }
        // The fill bytes at the row ends stay 0 for good.
        paddedFrame.reset(new (std::nothrow) std::uint8_t[storedStride * height]());
        if (paddedFrame) {
            return true;
        }
    }
    frameBitmap.Reset();
    frameBits = nullptr;
    PostLog("Error (AVIWriter): Failed to create AVIWriter: Failed to create frame bitmap.\n");
    return false;
}

bool AVIWriter::InsertFrame(std::uint32_t frameNumber) {
    if (!aviFile) {
        PostLog("Error (AVIWriter): Failed to insert frame: No AVI file created.\n");
        return false;
    }
    if (!InOrder(frameNumber,
                 std::uint64_t{framesInEarlierFiles} + aviFile->ChunkCount(videoStream),
                 "AVIWriter")) {
        return false;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(current, error);
    if (error) {
        PostLog("Error (AVIWriter): Failed to get AVI file info.\n");
        return false;
    }
    // On disk the file lags behind by the bytes gathered for the next direct write.
    if (std::max<std::uintmax_t>(size, aviFile->Size()) > splitBytes && !Split(frameNumber)) {
        return false;
    }
    if (!WriteFrame()) {
        PostLog("Error (AVIWriter): Failed to insert frame: Failed to write stream.\n");
        PostWriteError();
        return false;
    }
    if (!WriteAudio(frameNumber)) {
        PostLog("Error (AVIWriter): Failed to insert frame: Failed to write audio stream.\n");
        PostWriteError();
        return false;
    }
    return true;
}

bool AVIWriter::Split(std::uint32_t frameNumber) {
    if (!FinishFile()) {
        return false;
    }
    const std::string numbered = NumberedName(current, splitCount++);
    if (!RenameOver(current, numbered)) {
        PostLog("Error (AVIWriter): Failed to rename AVI video.\n");
        return false;
    }
    framesInEarlierFiles = frameNumber - skippedFrames;
    if (!Create(true)) {
        PostLog("Error (AVIWriter): Failed to create next AVI video.\n");
        return false;
    }
    return true;
}

bool AVIWriter::WriteFrame() {
    if (frameBitmap.Bits() == nullptr || frameBitmap.Width() != width ||
        frameBitmap.Height() != height) {
        return false;
    }
    const std::uint8_t* bits = frameBitmap.Bits();
    if (paddedFrame) {
        const std::size_t packedStride = frameBitmap.Stride();
        for (std::int32_t y = 0; y < height; ++y) {
            std::memcpy(paddedFrame.get() + storedStride * y, bits + packedStride * y,
                        packedStride);
        }
        bits = paddedFrame.get();
    }
    return aviFile->WriteChunk(videoStream, bits, storedStride * height, true);
}

bool AVIWriter::WriteAudio(std::uint32_t frameNumber) {
    if (audioStream < 0) {
        return true;
    }
    // The slice belongs to the song frame, so a render that starts late and every numbered
    // file carry the audio of their own pictures.
    const auto bytes = static_cast<std::uint64_t>(audioBytesPerFrame);
    const std::uint64_t begin = std::uint64_t{frameNumber} * bytes +
                                SongLeadBytes(waveData.samplesPerSecond, waveData.blockAlign);
    if (begin + bytes > waveData.dataSize) {
        return true;
    }
    // Read from the file slice by slice: the song is never held whole.
    audioSlice.resize(static_cast<std::size_t>(bytes));
    std::string reason;
    if (!waveData.ReadData(begin, audioSlice.size(), audioSlice.data(), reason)) {
        waveData.PostReadFailure("AVIWriter", reason);
        return false;
    }
    // Every PCM chunk can be played on its own, so the index marks each as a key frame.
    return aviFile->WriteChunk(audioStream, audioSlice.data(), audioSlice.size(), true);
}

bool AVIWriter::FinishFile() {
    if (!aviFile) {
        return true;
    }
    const bool finished = aviFile->Finish();
    const bool readable = aviFile->HeadersFinal();
    aviFile.reset();
    audioStream = -1;
    videoStream = -1;
    if (!finished) {
        PostLog("Error (AVIWriter): Failed to finish AVI file.\n");
        if (readable) {
            PostLog(
                Format("Error (AVIWriter): '%s' was closed without its index.\n", current.c_str()));
        } else {
            // Placeholder headers would describe an empty file; better none than a wrong one.
            ::unlink(current.c_str());
            PostLog(
                Format("Error (AVIWriter): Removed the unfinished file '%s'.\n", current.c_str()));
        }
    }
    return finished;
}

void AVIWriter::Abandon() {
    // A file that never got its headers is of no use to anyone.
    aviFile.reset();
    audioStream = -1;
    videoStream = -1;
    ::unlink(current.c_str());
}

void AVIWriter::PostWriteError() const {
    if (aviFile && aviFile->LastError() != 0) {
        PostContext("AVIWriter",
                    Format("file '%s': %s", current.c_str(), std::strerror(aviFile->LastError())));
    }
}

bool AVIWriter::Close(bool publish) {
    waveData.Free();
    frameBitmap.Reset();
    frameBits = nullptr;
    paddedFrame.reset();
    if (!aviFile) {
        return true;
    }
    bool closed = FinishFile();
    if (splitCount != 0 && ::access(current.c_str(), F_OK) == 0) {
        const std::string numbered = NumberedName(current, splitCount++);
        if (!RenameOver(current, numbered)) {
            PostLog("Error (AVIWriter): Failed to rename AVI video.\n");
            closed = false;
        }
    }
    return publish && closed ? Publish() : closed;
}

bool AVIWriter::Publish() {
    if (splitCount == 0) {
        // One rename replaces the previous render's file at once; its parts, if it was split,
        // go after.
        if (!Step() || !RenameOver(current, path)) {
            PostLog(Format("Error (AVIWriter): Failed to rename '%s' to '%s': %s.\n",
                           current.c_str(), path.c_str(), std::strerror(errno)));
            return false;
        }
        published = true;
        return RemoveEarlierParts();
    }
    // A reader must never see files of two renders: the earlier render's go first (file 00
    // first, so what is left of it is no whole video), then this render's files take their
    // names from the last to the first, so file 00 appears only once all its followers are in
    // place. A publish cut short leaves numbered files without file 00, which the next render's
    // lock clears (OutputLock::Acquire).
    if (!RemoveEarlierParts()) {
        return false;
    }
    if (IsOwnAvi(path) && (!Step() || ::unlink(path.c_str()) != 0)) {
        return false;  // an earlier render that was not split
    }
    for (int number = splitCount - 1; number >= 0; --number) {
        const std::string part = NumberedName(current, number);
        if (!Step() || !RenameOver(part, NumberedName(path, number))) {
            PostLog(Format("Error (AVIWriter): Failed to rename '%s' to its output name: %s.\n",
                           part.c_str(), std::strerror(errno)));
            return false;
        }
    }
    published = true;
    return true;
}

bool AVIWriter::Step() const {
    return !publishStep || publishStep();
}

bool AVIWriter::RemoveEarlierParts() const {
    // Only files this program wrote go: a camera's own numbered files stay.
    for (const std::string& part : OwnOutputParts(path)) {
        if (!Step()) {
            return false;
        }
        ::unlink(part.c_str());
    }
    return true;
}

std::vector<std::string> AVIWriter::Files() const {
    std::vector<std::string> files;
    const std::string& name = published ? path : current;
    if (splitCount == 0) {
        files.push_back(name);
    }
    for (int number = 0; number < splitCount; ++number) {
        files.push_back(NumberedName(name, number));
    }
    std::erase_if(files, [](const std::string& file) {
        std::error_code error;
        return !std::filesystem::is_regular_file(file, error);
    });
    return files;
}

}  // namespace zorvo
