#include "render/Storyboard.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "common/FfmpegFree.h"
#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "script/LayoutType.h"
#include "timeline/TimelineWalk.h"

#include <zlib.h>

extern "C" {
#include <libswscale/swscale.h>
}

namespace zorvo {

namespace {

constexpr std::uint8_t kBackground = 48;
// The most bytes of deflated rows one IDAT chunk takes, headers and stored-block framing aside.
constexpr std::uint64_t kPngMostBytes = 0x7fffffffu - (std::uint64_t{1} << 24);

std::string SongClock(double ms) {
    const long long total = std::llround(std::max(ms, 0.0));
    return Format("%02lld:%02lld.%03lld", total / 60000, total / 1000 % 60, total % 1000);
}

}  // namespace

bool ScaleBitmap(const FrameBitmap& source, int width, int height, FrameBitmap& out) {
    if (source.Empty() || !out.AllocateUnset(width, height)) {
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

namespace {

// The sheet's flat background and captions pack well with each row predicted from the one
// above; a light level, since the stills themselves hardly pack at any level.
constexpr int kPngLevel = 2;
// Rows below this many bytes are deflated on the calling thread alone.
constexpr std::size_t kPngBytesPerPiece = std::size_t{1} << 20;

std::array<std::uint8_t, 4> Big32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// The rows [first, end) of the picture, top-down in red, green, blue, each predicted from the
// one above ("up"), as raw deflate data that ends on a byte boundary, and their Adler-32.
struct PngPiece {
    int first = 0;
    int end = 0;
    bool last = false;
    // Left uninitialised: only the part deflate writes is ever touched.
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    uLong adler = 0;
    uLong bytes = 0;
    bool ok = false;
};

void DeflateRows(const FrameBitmap& picture, PngPiece& piece) {
    z_stream stream{};
    if (deflateInit2(&stream, kPngLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return;
    }
    const std::size_t width = static_cast<std::size_t>(picture.Width());
    std::vector<std::uint8_t> row(1 + 3 * width);
    row[0] = 2;  // the "up" filter
    piece.adler = adler32(0, nullptr, 0);
    const std::size_t capacity =
        deflateBound(&stream, static_cast<uLong>(row.size()) * (piece.end - piece.first)) + 64;
    piece.data.reset(new (std::nothrow) std::uint8_t[capacity]);
    bool ok = piece.data != nullptr;
    stream.next_out = piece.data.get();
    stream.avail_out = static_cast<uInt>(capacity);
    for (int y = piece.first; ok && y < piece.end; ++y) {
        // Row y from the top is bitmap row height - 1 - y; the row above it is the next one up.
        const std::uint8_t* in = picture.Row(picture.Height() - 1 - y);
        const std::uint8_t* above = y > 0 ? picture.Row(picture.Height() - y) : nullptr;
        std::uint8_t* out = row.data() + 1;
        for (std::size_t x = 0; x < width; ++x, in += 3, out += 3) {
            const std::uint8_t b = above ? above[3 * x] : 0;
            const std::uint8_t g = above ? above[3 * x + 1] : 0;
            const std::uint8_t r = above ? above[3 * x + 2] : 0;
            out[0] = static_cast<std::uint8_t>(in[2] - r);
            out[1] = static_cast<std::uint8_t>(in[1] - g);
            out[2] = static_cast<std::uint8_t>(in[0] - b);
        }
        piece.adler = adler32(piece.adler, row.data(), static_cast<uInt>(row.size()));
        piece.bytes += static_cast<uLong>(row.size());
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        const bool lastRow = y + 1 == piece.end;
        // A piece that others follow ends on a byte boundary without a final block, so the
        // pieces join into one stream.
        const int flush = !lastRow ? Z_NO_FLUSH : piece.last ? Z_FINISH : Z_SYNC_FLUSH;
        const int result = deflate(&stream, flush);
        ok = stream.avail_in == 0 && stream.avail_out > 0 &&
             (flush == Z_FINISH ? result == Z_STREAM_END : result == Z_OK);
    }
    piece.size = capacity - stream.avail_out;
    deflateEnd(&stream);
    piece.ok = ok;
}

// Writes a PNG chunk piece by piece, its CRC following what it writes.
class PngChunk {
  public:
    PngChunk(SafeFile& file, const char* type, std::size_t size) : m_file(file) {
        m_ok = Put(Big32(static_cast<std::uint32_t>(size)).data(), 4, false);
        Put(reinterpret_cast<const std::uint8_t*>(type), 4);
    }
    bool Put(const std::uint8_t* data, std::size_t size, bool checked = true) {
        if (checked) {
            m_crc = crc32(m_crc, data, static_cast<uInt>(size));
        }
        m_ok = m_ok && m_file.Write(data, size);
        return m_ok;
    }
    bool End() { return Put(Big32(static_cast<std::uint32_t>(m_crc)).data(), 4, false); }

  private:
    SafeFile& m_file;
    uLong m_crc = crc32(0, nullptr, 0);
    bool m_ok = true;
};

}  // namespace

bool WritePng(const FrameBitmap& picture, const std::string& path) {
    if (picture.Empty()) {
        PostLog("Error (Storyboard): Failed to set up the PNG encoder.\n");
        return false;
    }
    // The rows deflate in pieces side by side, one per core.
    const std::size_t rowBytes = 1 + picture.Stride();
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t count = std::clamp<std::size_t>(
        rowBytes * static_cast<std::size_t>(picture.Height()) / kPngBytesPerPiece, 1,
        std::min<std::size_t>(cores, static_cast<std::size_t>(picture.Height())));
    std::vector<PngPiece> pieces(count);
    for (std::size_t i = 0; i < count; ++i) {
        pieces[i].first = static_cast<int>(i * static_cast<std::size_t>(picture.Height()) / count);
        pieces[i].end =
            static_cast<int>((i + 1) * static_cast<std::size_t>(picture.Height()) / count);
        pieces[i].last = i + 1 == count;
    }
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < count; ++i) {
        try {
            helpers.emplace_back(DeflateRows, std::cref(picture), std::ref(pieces[i]));
        } catch (const std::system_error&) {
            DeflateRows(picture, pieces[i]);  // no thread to be had: here, in turn
        }
    }
    DeflateRows(picture, pieces[0]);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    // One zlib stream: its header, the pieces' deflate data, the Adler-32 of all the rows.
    std::size_t deflated = 2 + 4;
    uLong adler = adler32(0, nullptr, 0);
    bool encoded = true;
    for (const PngPiece& piece : pieces) {
        deflated += piece.size;
        adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.bytes));
        encoded = encoded && piece.ok;
    }
    if (!encoded || deflated > 0x7fffffff) {
        PostLog("Error (Storyboard): Failed to encode the sheet.\n");
        return false;
    }
    // Written beside and renamed into place: an earlier sheet is replaced whole or not at all,
    // and nothing at the path or beside it (a link, a device) is written through.
    SafeFile file;
    bool written = CheckReplaceable(path) && file.CreateBeside(path);
    if (written) {
        static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        written = file.Write(kSignature, sizeof kSignature);
        PngChunk header(file, "IHDR", 13);
        // 8 bits a sample, red-green-blue, deflate, adaptive filters, not interlaced.
        static constexpr std::uint8_t kFormat[] = {8, 2, 0, 0, 0};
        written = written &&
                  header.Put(Big32(static_cast<std::uint32_t>(picture.Width())).data(), 4) &&
                  header.Put(Big32(static_cast<std::uint32_t>(picture.Height())).data(), 4) &&
                  header.Put(kFormat, sizeof kFormat) && header.End();
        PngChunk data(file, "IDAT", deflated);
        static constexpr std::uint8_t kZlibHeader[] = {0x78, 0x01};
        written = written && data.Put(kZlibHeader, sizeof kZlibHeader);
        for (const PngPiece& piece : pieces) {
            written = written && data.Put(piece.data.get(), piece.size);
        }
        written =
            written && data.Put(Big32(static_cast<std::uint32_t>(adler)).data(), 4) && data.End();
        PngChunk end(file, "IEND", 0);
        written = written && end.End() && file.Publish(path);
    }
    if (!written) {
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

ContactSheet::ContactSheet(int thumbWidth, int columns, bool rowPerSpan)
    : m_thumbWidth(std::max(thumbWidth, 16)),
      m_columns(std::max(columns, 1)),
      m_rowPerSpan(rowPerSpan) {}

std::string ContactSheet::HeaderOf(const TimelineSpan& span) {
    const CSMarker& m = *span.marker;
    const std::string_view layout = LayoutName(m.layout);
    return Format("Measures %u to %u   %s bpm %i/%i   %.*s", m.measure, span.next->measure,
                  TempoText(span.carried.tempo).c_str(), span.carried.beatCount,
                  span.carried.beatUnit, static_cast<int>(layout.size()), layout.data());
}

int ContactSheet::ThumbnailHeight(int width, int height) const {
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(m_thumbWidth) * height /
                                                    std::max(width, 1))));
}

void ContactSheet::PlanLayout(int width, int height,
                              const std::vector<const TimelineSpan*>& spans) {
    m_plan.clear();
    m_planHeaders.clear();
    const int thumbHeight = ThumbnailHeight(width, height);
    const CSMarker* last = nullptr;
    for (const TimelineSpan* span : spans) {
        if (span->marker != last) {
            m_planHeaders.push_back(HeaderOf(*span));
            last = span->marker;
        }
        m_plan.push_back({m_planHeaders.size() - 1, thumbHeight});
    }
    Layout(m_plan, m_planHeaders.size());
}

bool ContactSheet::Fits(int width, int height, const std::vector<const TimelineSpan*>& spans) {
    if (spans.empty()) {
        return true;
    }
    PlanLayout(width, height, spans);
    const auto pixels = static_cast<std::uint64_t>(m_width) * static_cast<std::uint64_t>(m_height);
    // One IDAT chunk holds the deflated rows, which may come out as large as the rows.
    const std::uint64_t rows = (1 + 3 * static_cast<std::uint64_t>(m_width)) * m_height;
    const std::uint64_t memory = static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) *
                                 static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE));
    const std::uint64_t needed = 3 * pixels + rows;  // the sheet and its deflated rows
    const char* limit = rows > kPngMostBytes ? "one PNG file holds"
                        : needed > memory    ? "the memory here allows"
                                             : nullptr;
    m_plan.clear();
    m_planHeaders.clear();
    if (limit == nullptr) {
        return true;
    }
    PostLog(
        Format("Error (Storyboard): A sheet of %zu stills would be %ix%i pixels, more than %s; "
               "choose a smaller width or fewer stills.\n",
               spans.size(), m_width, m_height, limit));
    return false;
}

void ContactSheet::Plan(int width, int height, const std::vector<const TimelineSpan*>& spans) {
    m_plan.clear();
    m_planHeaders.clear();
    m_planned = false;
    if (spans.empty() || !m_stills.empty()) {
        return;
    }
    PlanLayout(width, height, spans);
    // Laid out and headed now, so that each still goes in place as it comes.
    m_planned = DrawBackground(m_sheet, m_planHeaders);
    if (!m_planned) {
        m_sheet.Reset();
    }
}

bool ContactSheet::TakeStill(const FrameBitmap& frame, const TimelineSpan& span,
                             const TimelineBlock& block) {
    if (span.marker != m_lastMarker) {
        m_spanHeaders.push_back(HeaderOf(span));
        m_lastMarker = span.marker;
    }
    Still still;
    const int height = ThumbnailHeight(frame.Width(), frame.Height());
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
    const std::size_t i = m_stills.size() - 1;
    // A still the plan did not foresee: the sheet is laid out again at the end.
    m_planned = m_planned && i < m_plan.size() && m_plan[i].span == m_stills[i].span &&
                m_plan[i].height == m_stills[i].thumbnail.Height() &&
                m_spanHeaders.back() == m_planHeaders[m_stills[i].span];
    if (m_planned) {
        DrawStill(m_sheet, i);
    }
    return true;
}

void ContactSheet::Layout(const std::vector<Slot>& slots, std::size_t spans) {
    m_rects.clear();
    m_headerTops.assign(spans, 0);
    int y = 0;
    int column = 0;
    int rowHeight = 0;
    std::size_t span = static_cast<std::size_t>(-1);
    m_width = 0;
    for (const Slot& slot : slots) {
        const bool newSpan = m_rowPerSpan && slot.span != span;
        if (newSpan || column == m_columns) {
            y += rowHeight;
            rowHeight = 0;
            column = 0;
            if (newSpan) {
                span = slot.span;
                m_headerTops[span] = y;
                y += kHeaderHeight;
            }
        }
        const int left = kGap + column * (m_thumbWidth + kGap);
        const int top = y + kGap;
        m_rects.push_back({left, top, left + m_thumbWidth, top + slot.height});
        rowHeight = std::max(rowHeight, kGap + slot.height + kCaptionHeight);
        m_width = std::max(m_width, left + m_thumbWidth + kGap);
        ++column;
    }
    m_height = y + rowHeight + kGap;
}

Rect ContactSheet::ThumbnailRect(std::size_t i) const {
    return i < m_rects.size() ? m_rects[i] : Rect{};
}

bool ContactSheet::DrawBackground(FrameBitmap& sheet, const std::vector<std::string>& headers) {
    if (!m_fontTried) {
        // Looked up here, on the build thread while the first stills decode, not before the
        // run starts.
        m_fontTried = true;
        m_font.Load();
    }
    if (!sheet.AllocateUnset(m_width, m_height)) {
        PostLog("Error (Storyboard): Failed to allocate the sheet.\n");
        return false;
    }
    std::memset(sheet.Bits(), kBackground, sheet.SizeBytes());
    for (std::size_t s = 0; m_rowPerSpan && s < headers.size(); ++s) {
        // A light rule above each span's header marks where the span begins.
        const int rule = m_height - 1 - m_headerTops[s];
        std::memset(sheet.Row(rule), 160, sheet.Stride());
        m_font.DrawLabel(
            sheet, {kGap, m_headerTops[s] + 2, m_width - kGap, m_headerTops[s] + kHeaderHeight},
            headers[s], LabelPlacement::Center);
    }
    return true;
}

void ContactSheet::DrawStill(FrameBitmap& sheet, std::size_t i) const {
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

bool ContactSheet::Finish() {
    if (m_planned && m_stills.size() == m_plan.size()) {
        return true;  // every still went in place as it came
    }
    m_planned = false;
    return Compose(m_sheet);
}

bool ContactSheet::Compose(FrameBitmap& sheet) {
    if (m_stills.empty()) {
        PostLog("Error (Storyboard): No still to lay out.\n");
        return false;
    }
    std::vector<Slot> slots;
    for (const Still& still : m_stills) {
        slots.push_back({still.span, still.thumbnail.Height()});
    }
    Layout(slots, m_spanHeaders.size());
    if (!DrawBackground(sheet, m_spanHeaders)) {
        return false;
    }
    for (std::size_t i = 0; i < m_stills.size(); ++i) {
        DrawStill(sheet, i);
    }
    return true;
}

}  // namespace zorvo
