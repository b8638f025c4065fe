#pragma once

#include <cstdint>
#include <memory>

#include "common/Rect.h"
#include "media/Orientation.h"
#include "script/Input.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace zorvo {

// The part of a w x h source picture that a capture scales to its width x height: with zoom 0
// the explicit `sourceRect` (the whole picture less its last column and row when empty);
// otherwise the largest window of the output's aspect that fits, times zoom percent, centred
// on the focus point and shifted back inside the picture. Rows count from the top of the
// picture as the frame bitmap shows it.
Rect ComputeSourceRect(std::int32_t w, std::int32_t h, std::int32_t zoom, const Rect& sourceRect,
                       std::int32_t width, std::int32_t height, InputFocus focus);

// Whether the capture turns the picture over: always for `True`, never for `False` (and
// unknown codes), and for `Auto` unless the decoder delivers full-range planar YUV 4:2:2.
bool FlipsPicture(FlipMode mode, AVPixelFormat decoded);

// The part of the stored picture (storedWidth x storedHeight) that the part `shown` of the
// upright picture shows.
Rect StoredRect(const Rect& shown, const Orientation& orientation, std::int32_t storedWidth,
                std::int32_t storedHeight);

// Whether FrameScaler::Convert can scale the `rect` of a picture of that size and pixel format
// (the library's code; -1 when unknown, then only the rectangle is checked) to width x height.
// Picture size and rectangle are those of the upright picture.
bool ScalerAccepts(std::int32_t pictureWidth, std::int32_t pictureHeight, int pixelFormat,
                   const Rect& rect, std::int32_t width, std::int32_t height, std::int32_t flags,
                   const Orientation& orientation = {});

// Crops, scales and converts decoded pictures to packed 24-bit BGR rows. Keeps one scaler
// context while the source format, size and the scaler flags stay the same.
class FrameScaler {
  public:
    FrameScaler();
    ~FrameScaler();
    FrameScaler(const FrameScaler&) = delete;
    FrameScaler& operator=(const FrameScaler&) = delete;

    // Writes `height` rows of 3 x `width` bytes to `out`. Without flip the first row written
    // is the top row of the crop, so a bottom-up bitmap shows the picture upside down; with
    // flip it is the bottom row and the bitmap shows it upright. The rectangle is clipped to
    // the picture. False when nothing is left of it or the scaler refuses the conversion.
    // With an orientation, `rect` is a part of the upright picture, which is what is written:
    // the stored picture's part is scaled to the turned size, then turned.
    bool Convert(const AVFrame& picture, const Rect& rect, bool flip, std::int32_t width,
                 std::int32_t height, std::int32_t flags, std::uint8_t* out,
                 const Orientation& orientation = {});

  private:
    bool Scale(const AVFrame& picture, const Rect& rect, bool flip, std::int32_t width,
               std::int32_t height, std::int32_t flags, std::uint8_t* out);

    struct ContextFree {
        void operator()(SwsContext* context) const;
    };
    std::unique_ptr<SwsContext, ContextFree> m_context;
    std::unique_ptr<std::uint8_t[]> m_stored;  // the scaled picture before it is turned
    std::size_t m_storedBytes = 0;
};

}  // namespace zorvo
