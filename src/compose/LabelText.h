#pragma once

#include <memory>
#include <string>

#include "common/FrameBitmap.h"
#include "common/Rect.h"

namespace zorvo {

// Where a label sits in its rectangle. Labels are always one line, centred horizontally.
enum class LabelPlacement { Center, Bottom };

// The label font: "Calibri" at a 20-pixel cell height, resolved through fontconfig (Carlito
// on Debian, which has Calibri's metrics), drawn anti-aliased with FreeType.
class LabelFont {
  public:
    LabelFont();
    ~LabelFont();
    LabelFont(const LabelFont&) = delete;
    LabelFont& operator=(const LabelFont&) = delete;

    // Loads the face; false when no usable font is found (labels are then not drawn).
    bool Load();
    bool Loaded() const;

    // White text with a one-pixel black outline. `rect` is in window coordinates (rows from the
    // top of the picture); the text is clipped to it.
    void DrawLabel(FrameBitmap& frame, const Rect& rect, const std::string& text,
                   LabelPlacement placement) const;

    // Width of the text in pixels, from the glyph advances.
    int TextWidth(const std::string& text) const;

  private:
    struct Face;
    void DrawText(FrameBitmap& frame, const Rect& clip, int x, int baseline,
                  const std::string& text, std::uint8_t value) const;

    std::unique_ptr<Face> m_face;
};

}  // namespace zorvo
