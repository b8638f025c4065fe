#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <algorithm>

namespace zorvo {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over the 52 letters, rounded, as the dialog manager measures its font.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = std::max(1, (letters / 26 + 1) / 2);
    m_baseHeight = std::max(1, metrics.height());
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

int DialogUnits::LabelLeft(int x, int textWidth, int limit) const {
    constexpr int kGap = 3;
    return std::min(X(x), X(limit) - kGap - textWidth);
}

}  // namespace zorvo
