#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/FFMPEGCapture.h"
#include "common/FrameBitmap.h"
#include "common/Rect.h"
#include "script/Group.h"
#include "script/Marker.h"

namespace zorvo {

// One display area of the current span: which inputs it cycles through, the one it shows in
// the current block, and that block's capture.
class CViewport {
  public:
    CViewport(const CSMDisplay& display, const Rect& rect);
    // Frees the lookup tables of its inputs (unless m_freeLuts is cleared); they are rebuilt
    // when next needed.
    ~CViewport();
    CViewport(const CViewport&) = delete;
    CViewport& operator=(const CViewport&) = delete;

    // Picks the input shown in the block that starts t ms into the span.
    void SelectInput(double t);
    CSInput* Current() const { return m_current < m_inputs.size() ? m_inputs[m_current] : nullptr; }

    // The picture for slow-motion blends and strobe flashes, created on first use. Null when
    // the memory cannot be had.
    FrameBitmap* GetScratchBitmap(int width, int height);

    // Releases the capture frames before srcIndex, which no later frame of the block needs.
    void ReleaseBefore(std::uint32_t srcIndex);

    std::string m_id;
    Rect m_pRect;
    InputList m_inputs;
    size_t m_current = static_cast<size_t>(-1);
    double m_period = 0;
    // The block's capture, shared with the other areas that show the same input from the same
    // moment; this area's frames are its output m_output.
    std::shared_ptr<CFFMPEGCapture> m_pCapture;
    std::size_t m_output = 0;
    FrameBitmap m_hScratch;
    std::uint32_t m_nextRelease = 0;
    // A run that shows only a few frames per span keeps the tables: building one costs far more
    // than the frames it serves.
    bool m_freeLuts = true;
};

}  // namespace zorvo
