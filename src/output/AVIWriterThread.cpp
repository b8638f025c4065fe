#include "output/AVIWriterThread.h"

#include <unistd.h>

#include <cstring>
#include <system_error>
#include <utility>

#include "common/LogChannel.h"

namespace zorvo {

AVIWriterThread::AVIWriterThread(std::unique_ptr<AVIWriter> file) : m_file(std::move(file)) {}

AVIWriterThread::~AVIWriterThread() {
    if (m_open) {
        Close(false);  // not closed by its render: that render failed
    }
}

bool AVIWriterThread::Open() {
    if (!m_file->Open()) {
        return false;  // the file has said why (also when this writer is open already)
    }
    bool allocated = frameBitmap.Allocate(m_file->width, m_file->height);
    m_spare.clear();
    for (std::size_t i = 0; allocated && i < kQueueFrames; ++i) {
        m_spare.emplace_back();
        allocated = m_spare.back().Allocate(m_file->width, m_file->height);
    }
    if (!allocated) {
        PostLog("Error (AVIWriter): Failed to create AVIWriter: Failed to create frame bitmap.\n");
        Abandon();
        return false;
    }
    m_closing = false;
    m_failed = false;
    m_inserted = 0;
    m_file->songStartMs = songStartMs;
    try {
        m_thread = std::thread(&AVIWriterThread::WriteLoop, this);
    } catch (const std::system_error&) {
        PostLog(
            "Error (AVIWriter): Failed to create AVIWriter: Failed to start the writing thread.\n");
        Abandon();
        return false;
    }
    frameBits = frameBitmap.Bits();
    m_open = true;
    return true;
}

void AVIWriterThread::Abandon() {
    // A render that could not start leaves no file behind.
    m_file->Close(false);
    for (const std::string& file : m_file->Files()) {
        ::unlink(file.c_str());
    }
    frameBitmap.Reset();
    m_spare.clear();
}

bool AVIWriterThread::InsertFrame(std::uint32_t frameNumber) {
    if (!m_open) {
        PostLog("Error (AVIWriter): Failed to insert frame: No AVI file created.\n");
        return false;
    }
    if (!InOrder(frameNumber, m_inserted, "AVIWriter")) {
        return false;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_spare.empty() || m_failed; });
    if (m_failed) {
        return false;
    }
    Queued item{std::move(m_spare.back()), frameNumber, skippedFrames};
    m_spare.pop_back();
    lock.unlock();
    std::memcpy(item.picture.Bits(), frameBitmap.Bits(), frameBitmap.SizeBytes());
    lock.lock();
    m_queue.push_back(std::move(item));
    ++m_inserted;
    m_changed.notify_all();
    return true;
}

void AVIWriterThread::WriteLoop() {
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty()) {
            return;
        }
        Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        bool written = !m_failed;
        m_writing = true;
        lock.unlock();

        if (written) {
            // The file writes its own bitmap: the queued one takes its place.
            std::swap(m_file->frameBitmap, item.picture);
            m_file->frameBits = m_file->frameBitmap.Bits();
            m_file->skippedFrames = item.skippedFrames;
            written = m_file->InsertFrame(item.frameNumber);
        }
        lock.lock();
        m_failed = m_failed || !written;
        m_spare.push_back(std::move(item.picture));
        m_writing = false;
        m_changed.notify_all();
    }
}

bool AVIWriterThread::Flush() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return (m_queue.empty() && !m_writing) || m_failed; });
    return !m_failed;
}

bool AVIWriterThread::Close(bool publish) {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_thread.join();  // after the frames still queued
    }
    // A render whose frame was not stored keeps the previous output.
    const bool failed = m_failed;
    const bool closed = m_file->Close(publish && !failed) && !failed;
    m_open = false;
    m_queue.clear();
    m_spare.clear();
    frameBitmap.Reset();
    frameBits = nullptr;
    return closed;
}

std::vector<std::string> AVIWriterThread::Files() const {
    return m_file->Files();
}

}  // namespace zorvo
