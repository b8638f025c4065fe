#include "render/Storyboard.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "common/FfmpegFree.h"
#include "common/LogChannel.h"
#include "script/LayoutType.h"
#include "timeline/TimelineWalk.h"

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
