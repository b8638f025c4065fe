#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "common/Rect.h"

namespace zorvo {

// How one control follows its window's size. Each edge has its own rule; the rectangles are in
// the parent's client coordinates with y growing downwards.
struct CCtrlAuto {
    std::int32_t topMode = 0;     // 0 fixed, 1 proportional
    std::int32_t leftMode = 0;    // 1 proportional, anything else fixed
    std::int32_t bottomMode = 0;  // 0 follows the bottom border, 1 proportional, 2 keeps the height
    std::int32_t rightMode = 0;   // 0 follows the right border, 1 proportional, 2 keeps the width
    QWidget* control = nullptr;   // not owned
    Rect initialRect;
    Rect currentRect;
    std::int32_t initialClientWidth = 0;
    std::int32_t initialClientHeight = 0;
};

// Appends a record for `control` with the given left and right rules; top and bottom edges get
// rule 0.
void AddControl(QWidget* control, std::vector<CCtrlAuto>& list, std::int32_t leftMode,
                std::int32_t rightMode);

// Takes the parent's client size and the control's rectangle as the starting point.
void RecordInitial(const QWidget& parent, CCtrlAuto& record);

// Moves every control for a client area of width x height: each edge by its rule, then
// controls are pushed down and right until none reaches into the controls that lay above it
// or to its left when the window first appeared.
void Relayout(std::vector<CCtrlAuto>& list, std::int32_t width, std::int32_t height);

// A widget whose children follow its size by their records.
class AnchoredPanel : public QWidget {
  public:
    std::vector<CCtrlAuto> anchors;

  protected:
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace zorvo
