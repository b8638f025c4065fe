#include "timeline/Viewport.h"

#include "timeline/TimelineWalk.h"

namespace zorvo {

CViewport::CViewport(const CSMDisplay& display, const Rect& rect)
    : m_id(display.refId), m_pRect(rect) {}

CViewport::~CViewport() {
    m_pCapture.reset();
    for (CSInput* input : m_inputs) {
        if (m_freeLuts) {
            input->settings.lut.reset();
            input->settings.lutKind = LutKind::None;
        }
    }
}

void CViewport::SelectInput(double t) {
    if (!m_inputs.empty()) {
        m_current = SelectInputIndex(t, m_period, m_inputs.size());
    }
}

FrameBitmap* CViewport::GetScratchBitmap(int width, int height) {
    if (m_hScratch.Empty() && !m_hScratch.Allocate(width, height)) {
        return nullptr;
    }
    return &m_hScratch;
}

void CViewport::ReleaseBefore(std::uint32_t srcIndex) {
    if (!m_pCapture) {
        return;
    }
    for (; m_nextRelease < srcIndex; ++m_nextRelease) {
        m_pCapture->ReleaseBitmap(m_nextRelease, m_output);
    }
}

}  // namespace zorvo
