#include "cli/Plan.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "cli/Check.h"
#include "cli/ConsoleLog.h"
#include "common/LogChannel.h"
#include "common/Utf8.h"
#include "script/Script.h"
#include "timeline/TimelineWalk.h"

#include <nlohmann/json.hpp>

namespace zorvo {

std::string SongTime(double ms) {
    const long long total = std::llround(std::fabs(ms));
    return Format("%s%02lld:%02lld.%03lld", ms < 0 && total != 0 ? "-" : "", total / 60000,
                  total / 1000 % 60, total % 1000);
}

namespace {

// Keys in the order they are set.
using Json = nlohmann::ordered_json;

std::string Ms(double ms) {
    return Format("%.3f", ms);
}

// The text form: one paragraph per span, one line per block.
class TextPlan {
  public:
    explicit TextPlan(bool blocks) : m_blocks(blocks) {}

    void Head(const CScript& script, double ms) {
        m_out +=
            Format("%s: %ix%i, %zu marker(s), %s (%lld frames at 25 fps)\n",
                   script.scriptPath.c_str(), script.width, script.height, script.markers.size(),
                   SongTime(ms).c_str(), static_cast<long long>(SongFrame(ms)));
        if (script.rangeStart != 0 || script.rangeEnd != 0) {
            m_out += Format("range: measures %i to %i (spans before it are skipped)\n",
                            script.rangeStart, script.rangeEnd);
        }
    }

    void Span(const TimelineSpan& span) {
        const CSMarker& m = *span.marker;
        const SpanBlocks& blocks = span.blocks;
        m_out += Format(
            "\nmeasures %u to %u%s: %s to %s, %s bpm %i/%i, %.*s, separator %i, effect %.*s\n",
            m.measure, span.next->measure, span.skipped ? " (skipped)" : "",
            SongTime(blocks.position).c_str(), SongTime(blocks.position + blocks.span).c_str(),
            TempoText(span.carried.tempo).c_str(), span.carried.beatCount, span.carried.beatUnit,
            static_cast<int>(LayoutName(m.layout).size()), LayoutName(m.layout).data(),
            span.carried.separatorSize, static_cast<int>(EffectName(m.effect).size()),
            EffectName(m.effect).data());
        m_out += Format("  %u block(s) of %s ms, frames %lld to %lld (%lld)\n", blocks.count,
                        Ms(span.blockLength).c_str(), static_cast<long long>(blocks.firstFrame),
                        static_cast<long long>(blocks.endFrame - 1),
                        static_cast<long long>(blocks.Frames()));
        for (size_t d = 0; d < m.displays.size(); ++d) {
            const CycleText cycle(m.displays[d].cycle);
            m_out +=
                Format("  area %zu: %s, %.*s, every %s ms\n", d + 1, m.displays[d].refId.c_str(),
                       cycle.size, cycle.data, Ms(span.periods[d]).c_str());
        }
        if (!m_blocks || span.skipped) {
            return;
        }
        ForEachBlock(span, [&](const TimelineBlock& block) {
            m_out += Format("  block %u: %s, frames %lld to %lld (%lld):", block.index + 1,
                            SongTime(blocks.position + block.start).c_str(),
                            static_cast<long long>(block.firstFrame),
                            static_cast<long long>(block.endFrame - 1),
                            static_cast<long long>(block.endFrame - block.firstFrame));
            for (const BlockArea& area : block.areas) {
                m_out += Format(" %s from %s%s", area.input ? area.input->id.c_str() : "-",
                                SongTime(static_cast<double>(area.captureStartMs)).c_str(),
                                &area == &block.areas.back() ? "" : ",");
            }
            m_out += "\n";
            return true;
        });
    }

    void End(const CScript& script) {
        if (script.rangeEnd != 0) {
            m_out += Format("\nends at measure %i (range end)\n", script.rangeEnd);
        }
    }

    const std::string& Text() const { return m_out; }

  private:
    struct CycleText {
        explicit CycleText(DisplayCycle cycle)
            : data(CycleName(cycle).data()), size(static_cast<int>(CycleName(cycle).size())) {}
        const char* data;
        int size;
    };
    bool m_blocks;
    std::string m_out;
};

// A script's text as a JSON string's UTF-8: ids and paths are bytes, and a byte that is not part
// of well-formed UTF-8 is taken as the 8-bit character of its value, so the document stays valid.
std::string JsonText(const std::string& text) {
    return EncodeUtf8(DecodeUtf8(text));
}

// A whole tempo reads as the integer it was written as.
Json Tempo(double tempo) {
    return tempo == std::floor(tempo) ? Json(static_cast<std::int64_t>(tempo)) : Json(tempo);
}

// Milliseconds to the microsecond, as the text form shows them.
double Ms3(double ms) {
    return std::round(ms * 1000) / 1000;
}

// The same as one JSON document.
class JsonPlan {
  public:
    explicit JsonPlan(bool blocks) : m_blocks(blocks) {}

    void Head(const CScript& script, double ms) {
        m_height = script.height;
        m_doc["script"] = JsonText(script.scriptPath);
        m_doc["width"] = script.width;
        m_doc["height"] = script.height;
        m_doc["markers"] = script.markers.size();
        m_doc["durationMs"] = Ms3(ms);
        m_doc["frames"] = SongFrame(ms);
        if (script.rangeStart != 0 || script.rangeEnd != 0) {
            m_doc["range"] = {{"start", script.rangeStart}, {"end", script.rangeEnd}};
        } else {
            m_doc["range"] = nullptr;
        }
        m_doc["spans"] = Json::array();
    }

    void Span(const TimelineSpan& span) {
        const CSMarker& m = *span.marker;
        const SpanBlocks& blocks = span.blocks;
        Json out = {{"from", m.measure},
                    {"to", span.next->measure},
                    {"skipped", span.skipped},
                    {"startMs", Ms3(blocks.position)},
                    {"endMs", Ms3(blocks.position + blocks.span)},
                    {"tempo", Tempo(span.carried.tempo)},
                    {"signature", {span.carried.beatCount, span.carried.beatUnit}},
                    {"layout", std::string(LayoutName(m.layout))},
                    {"separator", span.carried.separatorSize},
                    {"effect", std::string(EffectName(m.effect))},
                    {"blockMs", Ms3(span.blockLength)},
                    {"blockCount", blocks.count},
                    {"firstFrame", blocks.firstFrame},
                    {"endFrame", blocks.endFrame}};
        Json& areas = out["areas"] = Json::array();
        for (size_t d = 0; d < m.displays.size(); ++d) {
            // Frame rows count from the bottom; editors and pictures count from the top.
            const Rect& r = span.rects[d];
            areas.push_back({{"display", JsonText(m.displays[d].refId)},
                             {"cycle", std::string(CycleName(m.displays[d].cycle))},
                             {"periodMs", Ms3(span.periods[d])},
                             {"rect", {r.left, m_height - r.bottom, r.right, m_height - r.top}}});
        }
        if (m_blocks && !span.skipped) {
            Json& list = out["blocks"] = Json::array();
            ForEachBlock(span, [&](const TimelineBlock& block) {
                Json inputs = Json::array();
                for (const BlockArea& area : block.areas) {
                    inputs.push_back({{"input", JsonText(area.input->id)},
                                      {"file", JsonText(area.input->file)},
                                      {"fileMs", area.captureStartMs},
                                      {"speed", area.speed},
                                      {"zoom", area.zoom}});
                }
                list.push_back({{"index", block.index},
                                {"startMs", Ms3(blocks.position + block.start)},
                                {"firstFrame", block.firstFrame},
                                {"endFrame", block.endFrame},
                                {"areas", std::move(inputs)}});
                return true;
            });
        }
        m_doc["spans"].push_back(std::move(out));
    }

    void End(const CScript&) {}

    std::string Text() const {
        // The strings are well-formed UTF-8 (JsonText): nothing is replaced.
        return m_doc.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    }

  private:
    bool m_blocks;
    int m_height = 0;
    Json m_doc = Json::object();
};

template <typename Plan>
int PrintPlan(const CScript& script, Plan plan) {
    plan.Head(script, EstimateTimelineMs(script.markers));
    const bool walked = WalkTimeline(script, false, [&](const TimelineSpan& span) {
        plan.Span(span);
        return WalkStep::Next;
    });
    if (!walked) {
        return 1;
    }
    plan.End(script);
    std::fputs(plan.Text().c_str(), stdout);
    return 0;
}

}  // namespace

int RunPlan(const std::string& scriptPath, const PlanOptions& options) {
    // With --json the standard output holds the document only; the log lines go to stderr.
    ConsoleLog console(options.json ? stderr : stdout, stderr, false);
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return 1;
    }
    return options.json ? PrintPlan(script, JsonPlan(options.blocks))
                        : PrintPlan(script, TextPlan(options.blocks));
}

}  // namespace zorvo
