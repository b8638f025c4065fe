#include "ui/CtrlAuto.h"

#include <QWidget>

namespace zorvo {

namespace {

void MoveControl(const CCtrlAuto& record) {
    if (record.control) {
        const Rect& r = record.currentRect;
        record.control->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
}

// The edge rules alone, from the initial rectangle.
Rect FollowBorders(const CCtrlAuto& record, std::int32_t width, std::int32_t height) {
    const Rect& initial = record.initialRect;
    const std::int32_t w0 = record.initialClientWidth;
    const std::int32_t h0 = record.initialClientHeight;
    Rect r;
    r.top = record.topMode == 1 && h0 != 0 ? height * initial.top / h0 : initial.top;
    r.left = record.leftMode == 1 && w0 != 0 ? width * initial.left / w0 : initial.left;
    switch (record.rightMode) {
        case 0:
            r.right = initial.right + (width - w0);
            break;
        case 1:
            r.right = w0 != 0 ? width * initial.right / w0 : initial.right;
            break;
        case 2:
            r.right = initial.right + (r.left - initial.left);
            break;
        default:
            r.right = initial.right;
            break;
    }
    switch (record.bottomMode) {
        case 0:
            r.bottom = initial.bottom + (height - h0);
            break;
        case 1:
            r.bottom = h0 != 0 ? height * initial.bottom / h0 : initial.bottom;
            break;
        case 2:
            r.bottom = initial.bottom + (r.top - initial.top);
            break;
        default:
            r.bottom = initial.bottom;
            break;
    }
    return r;
}

// Pushes `x` below and right of the controls that lay above it and to its left at first.
// True when its rectangle changed.
bool PushClear(std::vector<CCtrlAuto>& list, CCtrlAuto& x) {
    std::int32_t limitTop = -1;
    std::int32_t limitLeft = -1;
    for (const CCtrlAuto& y : list) {
        if (y.initialRect == x.initialRect) {
            continue;
        }
        if (y.initialRect.bottom < x.initialRect.top && limitTop < y.currentRect.bottom) {
            limitTop = y.currentRect.bottom;
        }
        if (y.initialRect.right < x.initialRect.left && limitLeft < y.currentRect.right) {
            limitLeft = y.currentRect.right;
        }
    }
    const Rect before = x.currentRect;
    Rect& r = x.currentRect;
    if (limitTop != -1 && r.top < limitTop) {
        if (x.bottomMode == 2) {
            r.bottom += limitTop - r.top;
        }
        r.top = limitTop;
    }
    if (limitLeft != -1 && r.left < limitLeft) {
        if (x.rightMode == 2) {
            r.right += limitLeft - r.left;
        }
        r.left = limitLeft;
    }
    MoveControl(x);
    return !(r == before);
}

}  // namespace

void AddControl(QWidget* control, std::vector<CCtrlAuto>& list, std::int32_t leftMode,
                std::int32_t rightMode) {
    CCtrlAuto record;
    record.control = control;
    record.leftMode = leftMode;
    record.rightMode = rightMode;
    list.push_back(record);
}

void RecordInitial(const QWidget& parent, CCtrlAuto& record) {
    record.initialClientWidth = parent.width();
    record.initialClientHeight = parent.height();
    if (record.control) {
        const QRect g = record.control->geometry();
        // A control nested deeper still lands in the parent's client coordinates.
        const QPoint topLeft = parent.isAncestorOf(record.control)
                                   ? record.control->mapTo(&parent, QPoint(0, 0))
                                   : g.topLeft();
        record.initialRect =
            Rect{topLeft.x(), topLeft.y(), topLeft.x() + g.width(), topLeft.y() + g.height()};
    }
    record.currentRect = record.initialRect;
}

void Relayout(std::vector<CCtrlAuto>& list, std::int32_t width, std::int32_t height) {
    for (CCtrlAuto& record : list) {
        record.currentRect = FollowBorders(record, width, height);
        MoveControl(record);
    }
    // Pushing only moves edges down or right, and "above" and "left of" come from the initial
    // layout, which has no cycles, so the sweeps come to an end.
    bool changed = true;
    while (changed) {
        changed = false;
        for (CCtrlAuto& record : list) {
            if (PushClear(list, record)) {
                changed = true;
            }
        }
    }
}

void AnchoredPanel::resizeEvent(QResizeEvent* event) {
    Relayout(anchors, width(), height());
    QWidget::resizeEvent(event);
}

}  // namespace zorvo
