#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/AVIWriter.h"

namespace zorvo {

// Stores the frames through an AVIWriter on a thread of its own, so that the next frame is
// composed while the last one is written. InsertFrame copies `frameBitmap` into a short queue:
// the composition draws every frame into the same bitmap and leaves what no area covers as the
// frame before had it, so the bitmap itself stays here. The order of the calls is checked at
// once, with the AVIWriter's lines; a frame the AVIWriter could not store (it posts why) fails
// the next InsertFrame, Flush or Close.
class AVIWriterThread : public FrameWriter {
  public:
    // Frames that may wait for the file or be written before InsertFrame waits.
    static constexpr std::size_t kQueueFrames = 2;

    explicit AVIWriterThread(std::unique_ptr<AVIWriter> file);
    ~AVIWriterThread() override;
    AVIWriterThread(const AVIWriterThread&) = delete;
    AVIWriterThread& operator=(const AVIWriterThread&) = delete;

    bool Open() override;
    bool InsertFrame(std::uint32_t frameNumber) override;
    bool Flush() override;
    bool Close(bool publish = true) override;
    // Only once closed: the thread changes the files while it runs.
    std::vector<std::string> Files() const override;

  private:
    struct Queued {
        FrameBitmap picture;
        std::uint32_t frameNumber = 0;
        std::uint32_t skippedFrames = 0;
    };

    void WriteLoop();
    void Abandon();

    const std::unique_ptr<AVIWriter> m_file;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Queued> m_queue;
    std::vector<FrameBitmap> m_spare;
    bool m_writing = false;  // the thread has a frame out of the queue
    bool m_closing = false;
    bool m_failed = false;
    bool m_open = false;
    std::uint32_t m_inserted = 0;
};

}  // namespace zorvo
