#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/FFMPEGCapture.h"
#include "common/FrameBitmap.h"
#include "support/TestVideo.h"

namespace zorvo::test {

// Polls like the build does: GetBitmap until a frame comes or the capture fails; gives up after
// `attempts` polls (each waits 100 ms) so that a broken capture fails the test, not the run.
inline const FrameBitmap* WaitForBitmap(CFFMPEGCapture& capture, std::uint32_t index,
                                        int attempts = 600) {
    for (int i = 0; i < attempts; ++i) {
        if (const FrameBitmap* bitmap = capture.GetBitmap(index)) {
            return bitmap;
        }
        if (capture.m_bFailed.load()) {
            return nullptr;
        }
    }
    return nullptr;
}

// Waits (bounded) until the capture has produced `count` frames.
inline bool WaitForProduced(const CFFMPEGCapture& capture, std::uint32_t count) {
    for (int i = 0; i < 20000 && capture.Produced() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return capture.Produced() >= count;
}

// Reads the frame marks of frames 0 .. count - 1, releasing each as the build does. A frame
// that never came or shows no readable number gives number -1.
inline std::vector<FrameMark> ReadMarks(CFFMPEGCapture& capture, std::uint32_t count) {
    std::vector<FrameMark> marks;
    for (std::uint32_t i = 0; i < count; ++i) {
        const FrameBitmap* bitmap = WaitForBitmap(capture, i);
        if (!bitmap) {
            marks.push_back(FrameMark{});
            break;
        }
        marks.push_back(ReadFrameMark(*bitmap).value_or(FrameMark{}));
        capture.ReleaseBitmap(i);
    }
    return marks;
}

inline FrameBitmap Copy(const FrameBitmap& bitmap) {
    FrameBitmap copy;
    if (copy.Allocate(bitmap.Width(), bitmap.Height())) {
        std::copy(bitmap.Bits(), bitmap.Bits() + bitmap.SizeBytes(), copy.Bits());
    }
    return copy;
}

}  // namespace zorvo::test
