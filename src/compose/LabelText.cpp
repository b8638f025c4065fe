#include "compose/LabelText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common/Utf8.h"

namespace zorvo {

struct LabelFont::Face {
    // A character as FreeType renders it at the face's one size: labels sit on whole pixels,
    // so its coverage is the same wherever it is drawn, and hinting it again for each of the
    // ten passes of every label cost more than the drawing.
    struct Glyph {
        bool loaded = false;  // FreeType had it (a character it has not takes no room)
        int left = 0;
        int top = 0;
        int advance = 0;
        unsigned width = 0;
        unsigned rows = 0;
        std::vector<unsigned char> coverage;  // rows of `width` bytes
    };

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascent = 0;   // pixels above the baseline
    int descent = 0;  // pixels below it
    // Rendered on first use; labels may be drawn from several threads.
    std::mutex glyphsMutex;
    std::unordered_map<char32_t, std::unique_ptr<Glyph>> glyphs;

    const Glyph& GlyphOf(char32_t c) {
        std::lock_guard lock(glyphsMutex);
        std::unique_ptr<Glyph>& slot = glyphs[c];
        if (!slot) {
            slot = std::make_unique<Glyph>();
            if (FT_Load_Char(face, c, FT_LOAD_RENDER) == 0) {
                const FT_GlyphSlot glyph = face->glyph;
                const FT_Bitmap& bitmap = glyph->bitmap;
                slot->loaded = true;
                slot->left = glyph->bitmap_left;
                slot->top = glyph->bitmap_top;
                slot->advance = static_cast<int>(glyph->advance.x >> 6);
                slot->width = bitmap.width;
                slot->rows = bitmap.rows;
                slot->coverage.resize(static_cast<std::size_t>(bitmap.width) * bitmap.rows);
                for (unsigned row = 0; row < bitmap.rows; ++row) {
                    std::copy_n(bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch,
                                bitmap.width, slot->coverage.begin() + row * bitmap.width);
                }
            }
        }
        return *slot;
    }

    ~Face() {
        if (face) {
            FT_Done_Face(face);
        }
        if (library) {
            FT_Done_FreeType(library);
        }
    }
};

namespace {

// The file of the font that fontconfig picks for "Calibri" (a metric-compatible face when
// Calibri itself is not installed). Looked up once: loading fontconfig's configuration and font
// list takes several milliseconds, and a run loads the font more than once before it starts.
std::string FindFontFile() {
    static std::mutex mutex;  // fontconfig's default configuration is not thread-safe to build
    static std::string found;
    std::lock_guard lock(mutex);
    if (!found.empty()) {
        return found;
    }
    std::string& path = found;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) {
        return path;
    }
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("Calibri:weight=medium"));
    if (pattern) {
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        if (match) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
                path = reinterpret_cast<const char*>(file);
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return path;
}

}  // namespace

LabelFont::LabelFont() = default;
LabelFont::~LabelFont() = default;

bool LabelFont::Load() {
    const std::string file = FindFontFile();
    if (file.empty()) {
        return false;
    }
    auto face = std::make_unique<Face>();
    if (FT_Init_FreeType(&face->library) != 0 ||
        FT_New_Face(face->library, file.c_str(), 0, &face->face) != 0) {
        return false;
    }
    // A height of 20 means a 20-pixel cell (ascent + descent), as the desktop font mapper
    // measures it, so the em is smaller than 20 pixels.
    const FT_Face f = face->face;
    int cellUnits = f->ascender - f->descender;
    int ascentUnits = f->ascender;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
        cellUnits = os2->usWinAscent + os2->usWinDescent;
        ascentUnits = os2->usWinAscent;
    }
    if (cellUnits <= 0) {
        return false;
    }
    constexpr int kCellPixels = 20;
    const FT_UInt emPixels =
        static_cast<FT_UInt>(std::max(1, kCellPixels * f->units_per_EM / cellUnits));
    if (FT_Set_Pixel_Sizes(f, 0, emPixels) != 0) {
        return false;
    }
    face->ascent = (kCellPixels * ascentUnits + cellUnits / 2) / cellUnits;
    face->descent = kCellPixels - face->ascent;
    m_face = std::move(face);
    return true;
}

bool LabelFont::Loaded() const {
    return m_face != nullptr;
}

int LabelFont::TextWidth(const std::string& text) const {
    if (!m_face) {
        return 0;
    }
    int width = 0;
    for (const char32_t c : DecodeUtf8(text)) {
        const Face::Glyph& glyph = m_face->GlyphOf(c);
        width += glyph.loaded ? glyph.advance : 0;
    }
    return width;
}

void LabelFont::DrawText(FrameBitmap& frame, const Rect& clip, int x, int baseline,
                         const std::string& text, std::uint8_t value) const {
    const int height = frame.Height();
    for (const char32_t c : DecodeUtf8(text)) {
        const Face::Glyph& glyph = m_face->GlyphOf(c);
        if (!glyph.loaded) {
            continue;
        }
        const int left = x + glyph.left;
        const int top = baseline - glyph.top;
        for (unsigned int row = 0; row < glyph.rows; ++row) {
            const int y = top + static_cast<int>(row);  // window row, from the top
            if (y < clip.top || y >= clip.bottom) {
                continue;
            }
            std::uint8_t* line = frame.Row(height - 1 - y);
            const unsigned char* coverage = glyph.coverage.data() + row * glyph.width;
            for (unsigned int col = 0; col < glyph.width; ++col) {
                const int px = left + static_cast<int>(col);
                const unsigned alpha = coverage[col];
                if (px < clip.left || px >= clip.right || alpha == 0) {
                    continue;
                }
                std::uint8_t* p = line + static_cast<size_t>(px) * 3;
                for (int k = 0; k < 3; ++k) {
                    p[k] = static_cast<std::uint8_t>((p[k] * (255 - alpha) + value * alpha) / 255);
                }
            }
        }
        x += glyph.advance;
    }
}

void LabelFont::DrawLabel(FrameBitmap& frame, const Rect& rect, const std::string& text,
                          LabelPlacement placement) const {
    if (!m_face || frame.Empty()) {
        return;
    }
    const Rect clip{std::max(rect.left, 0), std::max(rect.top, 0),
                    std::min(rect.right, frame.Width()), std::min(rect.bottom, frame.Height())};
    const int cell = m_face->ascent + m_face->descent;
    const int x = rect.left + (rect.right - rect.left - TextWidth(text)) / 2;
    const int top = placement == LabelPlacement::Center
                        ? rect.top + (rect.bottom - rect.top - cell) / 2
                        : rect.bottom - cell;
    const int baseline = top + m_face->ascent;
    // The outline: the text in black at every one-pixel offset, then white on top.
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const Rect shifted{clip.left + dx, clip.top + dy, clip.right + dx, clip.bottom + dy};
            const Rect inFrame{std::max(shifted.left, 0), std::max(shifted.top, 0),
                               std::min(shifted.right, frame.Width()),
                               std::min(shifted.bottom, frame.Height())};
            DrawText(frame, inFrame, x + dx, baseline + dy, text, 0);
        }
    }
    DrawText(frame, clip, x, baseline, text, 255);
}

}  // namespace zorvo
