#include "media/PictureColour.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

namespace zorvo {

PictureColour ColourOf(int colorspace, int range, int transfer, int pixelFormat, int width,
                       int height) {
    PictureColour colour;
    const auto format = static_cast<AVPixelFormat>(pixelFormat);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    colour.rgb = desc && ((desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->nb_components < 3);
    switch (static_cast<AVColorSpace>(colorspace)) {
        case AVCOL_SPC_BT709:
            colour.matrix = ColourMatrix::Bt709;
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            colour.matrix = ColourMatrix::Bt2020;
            break;
        case AVCOL_SPC_SMPTE240M:
            colour.matrix = ColourMatrix::Smpte240m;
            break;
        case AVCOL_SPC_FCC:
            colour.matrix = ColourMatrix::Fcc;
            break;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            colour.matrix = ColourMatrix::Bt601;
            break;
        default:
            // What players take for a stream that does not say.
            colour.matrix =
                width >= 1280 || height >= 720 ? ColourMatrix::Bt709 : ColourMatrix::Bt601;
            break;
    }
    colour.fullRange = range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                       format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
                       format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    if (transfer == AVCOL_TRC_ARIB_STD_B67) {
        colour.transfer = ColourTransfer::Hlg;
    } else if (transfer == AVCOL_TRC_SMPTE2084) {
        colour.transfer = ColourTransfer::Pq;
    }
    return colour;
}

std::string DescribeColour(const PictureColour& colour) {
    if (colour.rgb) {
        return "RGB";
    }
    std::string text;
    switch (colour.matrix) {
        case ColourMatrix::Bt601:
            text = "BT.601";
            break;
        case ColourMatrix::Bt709:
            text = "BT.709";
            break;
        case ColourMatrix::Bt2020:
            text = "BT.2020";
            break;
        case ColourMatrix::Smpte240m:
            text = "SMPTE 240M";
            break;
        case ColourMatrix::Fcc:
            text = "FCC";
            break;
    }
    switch (colour.transfer) {
        case ColourTransfer::Hlg:
            return text + " HLG \u2192 SDR";
        case ColourTransfer::Pq:
            return text + " PQ \u2192 SDR";
        case ColourTransfer::Sdr:
            break;
    }
    return text + (colour.fullRange ? " full" : " limited");
}

}  // namespace zorvo
