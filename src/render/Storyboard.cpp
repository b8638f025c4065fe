#include "render/Storyboard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/FfmpegFree.h"
#include "common/LogChannel.h"
#include "output/OutputFiles.h"
#include "render/TimelineWalk.h"
#include "script/LayoutType.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace zorvo {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr std::uint8_t kBackground = 48;

std::string SongClock(double ms) {
    const long long total = std::llround(std::max(ms, 0.0));
    return Format("%02lld:%02lld.%03lld", total / 60000, total / 1000 % 60, total % 1000);
}

}  // namespace

bool ScaleBitmap(const FrameBitmap& source, int width, int height, FrameBitmap& out) {
    if (source.Empty() || !out.Allocate(width, height)) {
        return false;
    }
    std::unique_ptr<SwsContext, FfmpegFree> scaler(
        sws_getContext(source.Width(), source.Height(), AV_PIX_FMT_BGR24, width, height,
                       AV_PIX_FMT_BGR24, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) {
        return false;
    }
    // Both pictures are bottom-up, so rows map in memory order.
    const std::uint8_t* const in[] = {source.Bits()};
    const int inStride[] = {static_cast<int>(source.Stride())};
    std::uint8_t* const dst[] = {out.Bits()};
    const int outStride[] = {static_cast<int>(out.Stride())};
    return sws_scale(scaler.get(), in, inStride, 0, source.Height(), dst, outStride) == height;
}

bool WritePng(const FrameBitmap& picture, const std::string& path) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    std::unique_ptr<AVCodecContext, FfmpegFree> context(codec ? avcodec_alloc_context3(codec)
                                                              : nullptr);
    std::unique_ptr<AVFrame, FfmpegFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, FfmpegFree> packet(av_packet_alloc());
    if (!context || !frame || !packet || picture.Empty()) {
        PostLog("Error (Storyboard): Failed to set up the PNG encoder.\n");
        return false;
    }
    context->width = picture.Width();
    context->height = picture.Height();
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 25};
    // Each row predicted from the one above and a light deflate: the sheet's flat background
    // and captions pack smaller than zlib's default level without prediction does, in about half
    // the time.
    context->compression_level = 2;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pred", "up", 0);
    const int opened = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.Width();
    frame->height = picture.Height();
    if (opened < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
        PostLog("Error (Storyboard): Failed to set up the PNG encoder.\n");
        return false;
    }
    // PNG rows run top-down in red, green, blue.
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* in = picture.Row(picture.Height() - 1 - y);
        std::uint8_t* out = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < picture.Width(); ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_send_frame(context.get(), nullptr) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
        PostLog("Error (Storyboard): Failed to encode the sheet.\n");
        return false;
    }
    // Written beside and renamed into place: an earlier sheet is replaced whole or not at all,
    // and a link at the path is replaced, not written through.
    const std::string partial = PartialName(path);
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(partial.c_str(), "wb"));
    if (!file ||
        std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file.get()) !=
            static_cast<size_t>(packet->size) ||
        std::fclose(file.release()) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        PostLog("Error (Storyboard): Failed to write the sheet.\n");
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

ContactSheet::ContactSheet(int thumbWidth, int columns, bool rowPerSpan)
    : m_thumbWidth(std::max(thumbWidth, 16)),
      m_columns(std::max(columns, 1)),
      m_rowPerSpan(rowPerSpan) {
    m_font.Load();
}

bool ContactSheet::TakeStill(const FrameBitmap& frame, const TimelineSpan& span,
                             const TimelineBlock& block) {
    if (span.marker != m_lastMarker) {
        const CSMarker& m = *span.marker;
        const std::string_view layout = LayoutName(m.layout);
        m_spanHeaders.push_back(Format("Measures %u to %u   %i bpm %i/%i   %.*s", m.measure,
                                       span.next->measure, span.carried.tempo,
                                       span.carried.beatCount, span.carried.beatUnit,
                                       static_cast<int>(layout.size()), layout.data()));
        m_lastMarker = span.marker;
    }
    Still still;
    const int height = std::max(1, static_cast<int>(std::lround(static_cast<double>(m_thumbWidth) *
                                                                frame.Height() / frame.Width())));
    if (!ScaleBitmap(frame, m_thumbWidth, height, still.thumbnail)) {
        PostLog("Error (Storyboard): Failed to scale a still.\n");
        return false;
    }
    still.span = m_spanHeaders.size() - 1;
    // Whole beats into the span; the tolerance absorbs accumulated rounding.
    const double beats = block.start / span.timing.beat;
    const auto whole = static_cast<long long>(std::floor(beats + 1e-6));
    const long long perMeasure = std::max(span.carried.beatCount, 1);
    still.position = Format("%lld.%lld%s", span.marker->measure + whole / perMeasure,
                            whole % perMeasure + 1, beats - whole > 1e-6 ? "+" : "");
    still.songTime = SongClock(span.blocks.position + block.start);
    for (const BlockArea& area : block.areas) {
        if (!still.cameras.empty()) {
            still.cameras += ' ';
        }
        still.cameras += area.input ? area.input->id : std::string("-");
    }
    still.frame = block.firstFrame;
    m_stills.push_back(std::move(still));
    return true;
}

void ContactSheet::Layout() {
    m_rects.clear();
    m_headerTops.assign(m_spanHeaders.size(), 0);
    int y = 0;
    int column = 0;
    int rowHeight = 0;
    std::size_t span = static_cast<std::size_t>(-1);
    m_width = 0;
    for (const Still& still : m_stills) {
        const bool newSpan = m_rowPerSpan && still.span != span;
        if (newSpan || column == m_columns) {
            y += rowHeight;
            rowHeight = 0;
            column = 0;
            if (newSpan) {
                span = still.span;
                m_headerTops[span] = y;
                y += kHeaderHeight;
            }
        }
        const int left = kGap + column * (m_thumbWidth + kGap);
        const int top = y + kGap;
        m_rects.push_back(
            {left, top, left + still.thumbnail.Width(), top + still.thumbnail.Height()});
        rowHeight = std::max(rowHeight, kGap + still.thumbnail.Height() + kCaptionHeight);
        m_width = std::max(m_width, left + m_thumbWidth + kGap);
        ++column;
    }
    m_height = y + rowHeight + kGap;
}

Rect ContactSheet::ThumbnailRect(std::size_t i) const {
    return i < m_rects.size() ? m_rects[i] : Rect{};
}

bool ContactSheet::Compose(FrameBitmap& sheet) {
    if (m_stills.empty()) {
        PostLog("Error (Storyboard): No still to lay out.\n");
        return false;
    }
    Layout();
    if (!sheet.Allocate(m_width, m_height)) {
        PostLog("Error (Storyboard): Failed to allocate the sheet.\n");
        return false;
    }
    std::memset(sheet.Bits(), kBackground, sheet.SizeBytes());
    for (std::size_t s = 0; m_rowPerSpan && s < m_spanHeaders.size(); ++s) {
        // A light rule above each span's header marks where the span begins.
        const int rule = m_height - 1 - m_headerTops[s];
        std::memset(sheet.Row(rule), 160, sheet.Stride());
        m_font.DrawLabel(
            sheet, {kGap, m_headerTops[s] + 2, m_width - kGap, m_headerTops[s] + kHeaderHeight},
            m_spanHeaders[s], LabelPlacement::Center);
    }
    for (std::size_t i = 0; i < m_stills.size(); ++i) {
        const Still& still = m_stills[i];
        const Rect& r = m_rects[i];
        for (int y = 0; y < still.thumbnail.Height(); ++y) {
            // Thumbnail row y from its bottom lands on sheet row (height - r.bottom + y).
            std::memcpy(sheet.Row(m_height - r.bottom + y) + 3 * r.left, still.thumbnail.Row(y),
                        still.thumbnail.Stride());
        }
        const int lineHeight = kCaptionHeight / 2;
        m_font.DrawLabel(sheet, {r.left, r.bottom, r.right, r.bottom + lineHeight},
                         still.position + "   " + still.songTime, LabelPlacement::Center);
        m_font.DrawLabel(sheet, {r.left, r.bottom + lineHeight, r.right, r.bottom + 2 * lineHeight},
                         still.cameras, LabelPlacement::Center);
    }
    return true;
}

}  // namespace zorvo
