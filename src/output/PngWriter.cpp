#include "output/PngWriter.h"

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/LogChannel.h"
#include "common/SafeFile.h"

namespace zorvo {

namespace {

// The sheet's flat background and captions pack well with each row predicted from the one
// above; a light level, since the stills themselves hardly pack at any level.
constexpr int kPngLevel = 2;

struct SpngFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

}  // namespace

bool EncodePng(const FrameBitmap& picture, std::vector<std::uint8_t>& out) {
    std::unique_ptr<spng_ctx, SpngFree> context(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(picture.Width());
    header.height = static_cast<std::uint32_t>(picture.Height());
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    if (picture.Empty() || !context ||
        spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1) != 0 ||
        spng_set_option(context.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP) != 0 ||
        spng_set_option(context.get(), SPNG_IMG_COMPRESSION_LEVEL, kPngLevel) != 0 ||
        spng_set_ihdr(context.get(), &header) != 0) {
        PostLog("Error (Storyboard): Failed to set up the PNG encoder.\n");
        return false;
    }
    // Row by row, top-down in red, green, blue: the bitmap's rows are bottom-up and blue first.
    const auto width = static_cast<std::size_t>(picture.Width());
    std::vector<std::uint8_t> row(3 * width);
    int result = spng_encode_image(context.get(), nullptr, 0, SPNG_FMT_PNG,
                                   SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    for (int y = picture.Height() - 1; result == 0 && y >= 0; --y) {
        const std::uint8_t* in = picture.Row(y);
        for (std::size_t x = 0; x < width; ++x, in += 3) {
            row[3 * x] = in[2];
            row[3 * x + 1] = in[1];
            row[3 * x + 2] = in[0];
        }
        result = spng_encode_row(context.get(), row.data(), row.size());
    }
    std::size_t size = 0;
    std::unique_ptr<void, decltype(&std::free)> bytes(
        result == SPNG_EOI ? spng_get_png_buffer(context.get(), &size, &result) : nullptr,
        &std::free);
    if (!bytes) {
        PostLog("Error (Storyboard): Failed to encode the sheet.\n");
        return false;
    }
    const auto* begin = static_cast<const std::uint8_t*>(bytes.get());
    out.assign(begin, begin + size);
    return true;
}

bool WritePng(const FrameBitmap& picture, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!EncodePng(picture, bytes)) {
        return false;
    }
    // Written beside and renamed into place: an earlier file is replaced whole or not at all,
    // and nothing at the path or beside it (a link, a device) is written through.
    SafeFile file;
    if (!CheckReplaceable(path) || !file.CreateBeside(path) ||
        !file.Write(bytes.data(), bytes.size()) || !file.Publish(path)) {
        PostLog("Error (Storyboard): Failed to write the sheet.\n");
        if (file.Error() != 0) {
            PostContext("Storyboard",
                        Format("file '%s': %s", path.c_str(), std::strerror(file.Error())));
        }
        file.Discard();
        return false;
    }
    return true;
}

}  // namespace zorvo
