#include "capture/FrameScaler.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "media/PictureColour.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace zorvo {

namespace {

// Half sizes can exceed any picture when zoom is huge (or negative, read unsigned); beyond the
// picture they all give the same clamped rectangle, so they are capped to keep the sums small.
constexpr unsigned __int128 kHalfCap = static_cast<unsigned __int128>(1) << 33;

std::int64_t Half(unsigned __int128 size) {
    return static_cast<std::int64_t>(std::min(size >> 1, kHalfCap));
}

}  // namespace

Rect ComputeSourceRect(std::int32_t w, std::int32_t h, std::int32_t zoom, const Rect& sourceRect,
                       std::int32_t width, std::int32_t height, InputFocus focus) {
    if (zoom == 0) {
        if (sourceRect.right != sourceRect.left) {
            return sourceRect;
        }
        return Rect{0, 0, w - 1, h - 1};
    }
    if (w <= 0 || h <= 0 || width <= 0 || height <= 0) {
        return Rect{0, 0, std::max(w - 1, 0), std::max(h - 1, 0)};
    }
    const FocusXY focusPoint =
        FocusPoint(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), focus);
    // Unsigned, as the crop window has always been computed, but wide enough not to wrap.
    using Wide = unsigned __int128;
    const Wide uw = static_cast<std::uint32_t>(w);
    const Wide uh = static_cast<std::uint32_t>(h);
    const Wide uZoom = static_cast<std::uint32_t>(zoom);
    const Wide uWidth = static_cast<std::uint32_t>(width);
    const Wide uHeight = static_cast<std::uint32_t>(height);
    std::int64_t halfWidth = 0;
    std::int64_t halfHeight = 0;
    if (uWidth * uh / uHeight <= uw) {
        halfHeight = Half(uZoom * uh / 100);
        halfWidth = Half(uZoom * uWidth * uh / (uHeight * 100));
    } else {
        halfWidth = Half(uZoom * uw / 100);
        halfHeight = Half(uZoom * uHeight * uw / (uWidth * 100));
    }
    const std::int64_t cx = focusPoint.x;
    const std::int64_t cy = focusPoint.y;
    std::int64_t left = cx - halfWidth;
    std::int64_t top = cy - halfHeight;
    std::int64_t right = cx + halfWidth;
    std::int64_t bottom = cy + halfHeight;
    const std::int64_t lastColumn = w - 1;
    const std::int64_t lastRow = h - 1;
    if (left < 0) {
        right -= left;
        left = 0;
    }
    if (top < 0) {
        bottom -= top;
        top = 0;
    }
    if (right > lastColumn) {
        left -= right - lastColumn;
        right = lastColumn;
    }
    if (bottom > lastRow) {
        top -= bottom - lastRow;
        bottom = lastRow;
    }
    left = std::max<std::int64_t>(left, 0);
    top = std::max<std::int64_t>(top, 0);
    return Rect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)};
}

bool FlipsPicture(FlipMode mode, AVPixelFormat decoded) {
    switch (mode) {
        case FlipMode::True:
            return true;
        case FlipMode::Auto:
            return decoded != AV_PIX_FMT_YUVJ422P;
        default:
            return false;
    }
}

void FrameScaler::ContextFree::operator()(SwsContext* context) const {
    sws_freeContext(context);
}

FrameScaler::FrameScaler() = default;
FrameScaler::~FrameScaler() = default;

namespace {

// The part of the picture that is read: an explicit rectangle may reach past the picture, and
// no byte outside it may be read.
Rect ClipToPicture(const AVPixFmtDescriptor* desc, const Rect& rect, std::int32_t pictureWidth,
                   std::int32_t pictureHeight) {
    Rect crop{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, pictureWidth),
              std::min(rect.bottom, pictureHeight)};
    // Packed pixels that share chroma (and bit-packed ones) can only be cut between groups.
    int alignment = 1;
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_BITSTREAM)) {
        alignment = 8;
    } else if (desc && !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) && desc->log2_chroma_w > 0) {
        alignment = 1 << desc->log2_chroma_w;
    }
    crop.left -= crop.left % alignment;
    return crop;
}

int ScalerMatrix(ColourMatrix matrix) {
    switch (matrix) {
        case ColourMatrix::Bt709:
            return SWS_CS_ITU709;
        case ColourMatrix::Bt2020:
            return SWS_CS_BT2020;
        case ColourMatrix::Smpte240m:
            return SWS_CS_SMPTE240M;
        case ColourMatrix::Fcc:
            return SWS_CS_FCC;
        case ColourMatrix::Bt601:
            break;
    }
    return SWS_CS_ITU601;
}

PictureColour ColourOfPicture(const AVFrame& picture) {
    return ColourOf(picture.colorspace, picture.color_range, picture.color_trc, picture.format,
                    picture.width, picture.height);
}

// The scaler converts with BT.601 and the format's range unless told otherwise: it is told the
// picture's own matrix and range. Left alone when they are those already, so that a BT.601
// picture is converted exactly as it always was.
void UsePictureColour(SwsContext* context, const PictureColour& colour) {
    int* inverse = nullptr;
    int* table = nullptr;
    int fullRange = 0;
    int outputRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (colour.rgb || sws_getColorspaceDetails(context, &inverse, &fullRange, &table, &outputRange,
                                               &brightness, &contrast, &saturation) < 0) {
        return;
    }
    const int* wanted = sws_getCoefficients(ScalerMatrix(colour.matrix));
    if (std::memcmp(inverse, wanted, 4 * sizeof(int)) == 0 &&
        (fullRange != 0) == colour.fullRange) {
        return;
    }
    sws_setColorspaceDetails(context, wanted, colour.fullRange ? 1 : 0, table, outputRange,
                             brightness, contrast, saturation);
}

}  // namespace

Rect StoredRect(const Rect& shown, const Orientation& orientation, std::int32_t storedWidth,
                std::int32_t storedHeight) {
    const std::int32_t width = orientation.ShownWidth(storedWidth, storedHeight);
    const std::int32_t height = orientation.ShownHeight(storedWidth, storedHeight);
    // Undo the mirrors, then the transposition.
    Rect turned = shown;
    if (orientation.mirrorX) {
        turned.left = width - shown.right;
        turned.right = width - shown.left;
    }
    if (orientation.mirrorY) {
        turned.top = height - shown.bottom;
        turned.bottom = height - shown.top;
    }
    if (!orientation.transpose) {
        return turned;
    }
    return Rect{turned.top, turned.left, turned.bottom, turned.right};
}

bool ScalerAccepts(std::int32_t pictureWidth, std::int32_t pictureHeight, int pixelFormat,
                   const Rect& rect, std::int32_t width, std::int32_t height, std::int32_t flags,
                   const Orientation& orientation) {
    const auto format = static_cast<AVPixelFormat>(pixelFormat);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (orientation.transpose) {
        std::swap(pictureWidth, pictureHeight);
        std::swap(width, height);
    }
    const Rect crop =
        ClipToPicture(desc, StoredRect(rect, orientation, pictureWidth, pictureHeight),
                      pictureWidth, pictureHeight);
    if (width <= 0 || height <= 0 || crop.Width() <= 0 || crop.Height() <= 0) {
        return false;
    }
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) {
        return true;  // the decoder's own format is known only once it runs
    }
    SwsContext* context = sws_getContext(crop.Width(), crop.Height(), format, width, height,
                                         AV_PIX_FMT_BGR24, flags, nullptr, nullptr, nullptr);
    sws_freeContext(context);
    return context != nullptr;
}

bool FrameScaler::Convert(const AVFrame& picture, const Rect& rect, bool flip, std::int32_t width,
                          std::int32_t height, std::int32_t flags, std::uint8_t* out,
                          const Orientation& orientation) {
    if (orientation.Identity()) {
        return Scale(picture, rect, flip, width, height, flags, out);
    }
    // Scaled as stored to the size that turns into width x height (a part of the output's size
    // costs less to turn than the source picture), then turned into place.
    const std::int32_t storedWidth = orientation.transpose ? height : width;
    const std::int32_t storedHeight = orientation.transpose ? width : height;
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    if (width <= 0 || height <= 0) {
        return false;
    }
    if (m_storedBytes < bytes) {
        m_stored.reset(new (std::nothrow) std::uint8_t[bytes + 64]);
        m_storedBytes = m_stored ? bytes : 0;
        if (!m_stored) {
            return false;
        }
    }
    if (!Scale(picture, StoredRect(rect, orientation, picture.width, picture.height), false,
               storedWidth, storedHeight, flags, m_stored.get())) {
        return false;
    }
    // Row r of `out` is the upright picture's row r from the top, or from the bottom with flip.
    const std::ptrdiff_t storedRow = static_cast<std::ptrdiff_t>(storedWidth) * 3;
    for (std::int32_t r = 0; r < height; ++r) {
        const std::int32_t v = flip ? height - 1 - r : r;
        const std::int32_t rowT = orientation.mirrorY ? height - 1 - v : v;
        // The stored pixel of column u is at (u, rowT), or at (rowT, u) transposed, before the
        // left-to-right mirror.
        const std::uint8_t* first = nullptr;
        std::ptrdiff_t step = 0;
        if (orientation.transpose) {
            first = m_stored.get() + 3 * static_cast<std::ptrdiff_t>(rowT);
            step = storedRow;
        } else {
            first = m_stored.get() + storedRow * rowT;
            step = 3;
        }
        if (orientation.mirrorX) {
            first += step * (width - 1);
            step = -step;
        }
        std::uint8_t* target = out + static_cast<std::ptrdiff_t>(width) * 3 * r;
        for (std::int32_t u = 0; u < width; ++u, first += step, target += 3) {
            target[0] = first[0];
            target[1] = first[1];
            target[2] = first[2];
        }
    }
    return true;
}

bool FrameScaler::Scale(const AVFrame& picture, const Rect& rect, bool flip, std::int32_t width,
                        std::int32_t height, std::int32_t flags, std::uint8_t* out) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(picture.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL) || width <= 0 || height <= 0) {
        return false;
    }
    const Rect crop = ClipToPicture(desc, rect, picture.width, picture.height);
    if (crop.Width() <= 0 || crop.Height() <= 0) {
        return false;
    }

    const std::uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int p = 0; p < 4; ++p) {
        if (!picture.data[p] || picture.linesize[p] == 0) {
            continue;
        }
        int component = -1;
        for (int c = 0; c < desc->nb_components; ++c) {
            if (desc->comp[c].plane == p) {
                component = c;
                break;
            }
        }
        if (component < 0) {
            // A palette: taken whole.
            planes[p] = picture.data[p];
            strides[p] = picture.linesize[p];
            continue;
        }
        // Chroma planes are subsampled in each direction by the format's own factors.
        const bool chroma =
            (component == 1 || component == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int shiftX = chroma ? desc->log2_chroma_w : 0;
        const int shiftY = chroma ? desc->log2_chroma_h : 0;
        const int step = desc->comp[component].step;
        const std::int64_t columnBytes =
            (desc->flags & AV_PIX_FMT_FLAG_BITSTREAM)
                ? static_cast<std::int64_t>(crop.left) * step / 8
                : static_cast<std::int64_t>(crop.left >> shiftX) * step;
        // Without flip the crop's rows are walked from the picture's row H - bottom downwards;
        // with flip from row bottom - 1 upwards.
        const std::int64_t row =
            flip ? (crop.bottom - 1) >> shiftY : (picture.height - crop.bottom) >> shiftY;
        planes[p] = picture.data[p] + row * picture.linesize[p] + columnBytes;
        strides[p] = flip ? -picture.linesize[p] : picture.linesize[p];
    }

    const PictureColour colour = ColourOfPicture(picture);
    // Every matrix takes the scaler's fast colour tables, within three levels of exact: the
    // exact ones (SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT) made a render of HD cameras take half
    // as long again for one level.
    m_context.reset(sws_getCachedContext(m_context.release(), crop.Width(), crop.Height(), format,
                                         width, height, AV_PIX_FMT_BGR24, flags, nullptr, nullptr,
                                         nullptr));
    if (!m_context) {
        return false;
    }
    UsePictureColour(m_context.get(), colour);
    std::uint8_t* destination[4] = {out, nullptr, nullptr, nullptr};
    const int destinationStrides[4] = {width * 3, 0, 0, 0};
    return sws_scale(m_context.get(), planes, strides, 0, crop.Height(), destination,
                     destinationStrides) > 0;
}

}  // namespace zorvo
