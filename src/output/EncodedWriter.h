#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/WaveFile.h"
#include "output/FrameWriter.h"

struct AVFrame;

namespace zorvo {
struct YuvFactors;
}

namespace zorvo {

// Writes the frames as H.264 at a constant 25 frames a second with the song's audio: FLAC in
// Matroska (lossless), AAC in MP4 and QuickTime. Encoding runs on a thread of its own, fed by a
// short queue of frames already converted to the encoder's YUV 4:2:0, so the next frames are
// composed while one is encoded; the sound is encoded on another thread as frames bring it.
//
// The file stays playable when the render stops early or fails: the index is written on
// Close (and by the destructor after a failure), into disk room the OutputFile keeps ahead, so
// a full disk leaves a finished file too. Matroska is written in clusters of a few seconds whose
// headers come first, so even a killed process leaves every finished cluster readable; an MP4
// or QuickTime file needs its index, written at the end.
class EncodedWriter : public FrameWriter {
  public:
    // Frames that may wait for the encoder before InsertFrame waits for it.
    static constexpr std::size_t kQueueFrames = 3;

    EncodedWriter(std::string path, std::int32_t width, std::int32_t height, std::string wavePath,
                  OutputKind kind);
    ~EncodedWriter() override;
    EncodedWriter(const EncodedWriter&) = delete;
    EncodedWriter& operator=(const EncodedWriter&) = delete;

    bool Open() override;
    bool InsertFrame(std::uint32_t frameNumber) override;
    bool Close(bool publish = true) override;
    std::vector<std::string> Files() const override;

    const std::string path;
    const std::int32_t width;
    const std::int32_t height;
    const std::string wavePath;
    const OutputKind kind;

  private:
    // The file being written: the output's partial name until the render is published.
    const std::string m_current;
    bool m_published = false;
    struct PictureFree {
        void operator()(AVFrame* frame) const;
    };
    using PicturePtr = std::unique_ptr<AVFrame, PictureFree>;
    struct Queued {
        PicturePtr picture;         // YUV 4:2:0
        std::int64_t position = 0;  // in the file, counted from its first frame
    };
    class Encoder;

    void EncodeLoop();
    void SoundLoop();
    void StopThreads();

    WaveFile m_wave;
    std::unique_ptr<Encoder> m_encoder;
    std::thread m_thread;
    std::thread m_soundThread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::condition_variable m_soundChanged;
    // Bytes of song a frame carries (0 without sound); the song's bytes from the first
    // rendered frame's slice on that frames have brought, and those the sound thread took.
    std::size_t m_slice = 0;
    std::uint64_t m_songStart = 0;
    std::size_t m_songBytes = 0;
    std::size_t m_songTaken = 0;
    std::deque<Queued> m_queue;
    std::vector<PicturePtr> m_spare;
    std::unique_ptr<const YuvFactors> m_factors;
    bool m_closing = false;
    std::atomic<bool> m_failed{false};
    std::uint32_t m_inserted = 0;
};

}  // namespace zorvo
