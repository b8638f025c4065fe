#pragma once

#include <QFont>
#include <QRect>

namespace zorvo {

// Window layouts are written in dialog units, which scale with the dialog font: one horizontal
// unit is a quarter of the font's average character width, one vertical unit an eighth of its
// height. With the classic 8-point dialog font (6 x 13 px) a unit is 1.5 x 1.625 px; with
// Qt's usual 9-point sans serif at 96 dpi it is about 1.75 x 2 px.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : m_baseWidth(baseWidth), m_baseHeight(baseHeight) {}

    // Rounded to the nearest pixel.
    int X(int units) const { return (units * m_baseWidth + 2) / 4; }
    int Y(int units) const { return (units * m_baseHeight + 4) / 8; }
    // Edges are converted one by one, so controls that touch in units touch in pixels.
    QRect Rect(int x, int y, int width, int height) const;

    int BaseWidth() const { return m_baseWidth; }
    int BaseHeight() const { return m_baseHeight; }

    // The left edge, in pixels, of a label drawn at `x` units whose text is `textWidth` pixels
    // wide and must end before `limit` units, where the control it names starts. The layouts
    // were drawn for a narrower font than Linux desktops use: a label that would run into its
    // control moves left, into the free space before it, instead.
    int LabelLeft(int x, int textWidth, int limit) const;

  private:
    int m_baseWidth;
    int m_baseHeight;
};

}  // namespace zorvo
