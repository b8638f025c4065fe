#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/FrameBitmap.h"
#include "compose/LabelText.h"
#include "output/PngWriter.h"
#include "render/Project.h"

namespace zorvo {

// One still of a storyboard, scaled down, with what its caption says.
struct Still {
    FrameBitmap thumbnail;
    std::size_t span = 0;    // counted from 0 in song order
    std::string position;    // measure.beat, "+" when the block starts between beats
    std::string songTime;    // mm:ss.mmm
    std::string cameras;     // the input of each area, in area order
    std::int64_t frame = 0;  // song frame of the still
};

// Collects the stills of a storyboard run as thumbnails of `thumbWidth` pixels (the height
// keeps the picture's aspect) and lays them out as a contact sheet in rows that wrap at
// `columns`, each captioned below. With `rowPerSpan` every span starts a new row under a
// header line of its own; otherwise (one still per span) the rows run on.
class ContactSheet : public StillSink {
  public:
    ContactSheet(int thumbWidth, int columns, bool rowPerSpan);

    // Lays the sheet out for stills of a width x height frame in these spans and draws its
    // background and headers, so that each still goes in place as it is taken.
    void Plan(int width, int height, const std::vector<const TimelineSpan*>& spans) override;
    // Refuses a sheet larger than one PNG file holds or than the memory its writing takes.
    bool Fits(int width, int height, const std::vector<const TimelineSpan*>& spans) override;
    bool TakeStill(const FrameBitmap& frame, const TimelineSpan& span,
                   const TimelineBlock& block) override;

    // Lays the sheet out; false (with a log line) when it cannot be allocated or is empty.
    bool Compose(FrameBitmap& sheet);
    // Completes the sheet in Sheet() on the build thread, so no reader of it has to: composes
    // it whole unless every still went in place as planned.
    bool Finish() override;
    // The sheet, whole once a run has ended successfully (drawn still by still meanwhile).
    const FrameBitmap& Sheet() const { return m_sheet; }

    // Where thumbnail i lies on the composed sheet, in rows from the top.
    Rect ThumbnailRect(std::size_t i) const;
    // The stills taken so far; read them only after the run has ended.
    const std::vector<Still>& Stills() const { return m_stills; }

    static constexpr int kGap = 8;
    static constexpr int kCaptionHeight = 44;
    static constexpr int kHeaderHeight = 28;

  private:
    // Where a still goes: its span's header, its thumbnail's height.
    struct Slot {
        std::size_t span = 0;
        int height = 0;
    };

    static std::string HeaderOf(const TimelineSpan& span);
    // The slots and headers of the stills of these spans, laid out.
    void PlanLayout(int width, int height, const std::vector<const TimelineSpan*>& spans);
    int ThumbnailHeight(int width, int height) const;
    void Layout(const std::vector<Slot>& slots, std::size_t spans);
    // Allocates the sheet and draws its background, rules and headers.
    bool DrawBackground(FrameBitmap& sheet, const std::vector<std::string>& headers);
    // Draws still i's thumbnail and caption.
    void DrawStill(FrameBitmap& sheet, std::size_t i) const;

    int m_thumbWidth;
    int m_columns;
    bool m_rowPerSpan;
    std::vector<Still> m_stills;
    std::vector<std::string> m_spanHeaders;
    std::vector<Rect> m_rects;
    std::vector<int> m_headerTops;  // per span
    const CSMarker* m_lastMarker = nullptr;
    int m_width = 0;
    int m_height = 0;
    LabelFont m_font;
    bool m_fontTried = false;
    FrameBitmap m_sheet;
    // The stills foreseen by Plan, while every still taken so far went in place.
    std::vector<Slot> m_plan;
    std::vector<std::string> m_planHeaders;
    bool m_planned = false;
};

// Scales a picture to width x height with area averaging. False when the scaler refuses.
bool ScaleBitmap(const FrameBitmap& source, int width, int height, FrameBitmap& out);

}  // namespace zorvo
