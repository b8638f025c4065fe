#include "render/Viewport.h"

#include <cmath>

namespace zorvo {

CViewport::CViewport(const CSMDisplay& display, const Rect& rect)
    : m_id(display.refId), m_pRect(rect) {}

CViewport::~CViewport() {
    m_pCapture.reset();
    for (CSInput* input : m_inputs) {
        input->settings.lut.reset();
        input->settings.lutKind = LutKind::None;
    }
}

void CViewport::SelectInput(double t) {
    if (m_inputs.empty()) {
        return;
    }
    // The tolerance absorbs the rounding of accumulated block starts: 5.9999999 periods are
    // six, or the cut would come one block late.
    const double k = m_period > 0 ? std::trunc(t / m_period + 1e-6) : 0;
    const auto index = static_cast<std::uint64_t>(k >= 0 && k < 1e18 ? k : 0);
    m_current = static_cast<size_t>(index % m_inputs.size());
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
