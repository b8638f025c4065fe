#include "cli/Plan.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "cli/Check.h"
#include "cli/ConsoleLog.h"
#include "common/LogChannel.h"
#include "script/Script.h"
#include "timeline/TimelineWalk.h"

namespace zorvo {

std::string SongTime(double ms) {
    const long long total = std::llround(std::fabs(ms));
    return Format("%s%02lld:%02lld.%03lld", ms < 0 && total != 0 ? "-" : "", total / 60000,
                  total / 1000 % 60, total % 1000);
}

namespace {

// Length of the well-formed UTF-8 sequence at `at`, or 0.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    // Lead bytes C2-DF, E0-EF and F0-F4 start sequences of two, three and four bytes.
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : (lead & 0xF0) == 0xE0        ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0) {
        return 0;
    }
    std::uint32_t code = lead & (0x7Fu >> length);
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(at + k) & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string of a script's text. Ids and paths are bytes: a byte that is not part of
// well-formed UTF-8 is taken as the 8-bit character of its value, so the document stays valid.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const size_t length = Utf8Length(text, at);
        if (length == 0) {
            out += Format("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        ++at;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += Format("\\u%04x", static_cast<unsigned>(c));
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

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

// The same as one JSON document.
class JsonPlan {
  public:
    explicit JsonPlan(bool blocks) : m_blocks(blocks) {}

    void Head(const CScript& script, double ms) {
        m_height = script.height;
        m_out += Format("{\"script\":%s,\"width\":%i,\"height\":%i,\"markers\":%zu,",
                        JsonString(script.scriptPath).c_str(), script.width, script.height,
                        script.markers.size());
        m_out += Format("\"durationMs\":%s,\"frames\":%lld,", Ms(ms).c_str(),
                        static_cast<long long>(SongFrame(ms)));
        if (script.rangeStart != 0 || script.rangeEnd != 0) {
            m_out +=
                Format("\"range\":{\"start\":%i,\"end\":%i},", script.rangeStart, script.rangeEnd);
        } else {
            m_out += "\"range\":null,";
        }
        m_out += "\"spans\":[";
    }

    void Span(const TimelineSpan& span) {
        const CSMarker& m = *span.marker;
        const SpanBlocks& blocks = span.blocks;
        if (m_spans++ > 0) {
            m_out += ",";
        }
        m_out += Format(
            "{\"from\":%u,\"to\":%u,\"skipped\":%s,\"startMs\":%s,\"endMs\":%s,\"tempo\":%s,"
            "\"signature\":[%i,%i],\"layout\":%s,\"separator\":%i,\"effect\":%s,",
            m.measure, span.next->measure, span.skipped ? "true" : "false",
            Ms(blocks.position).c_str(), Ms(blocks.position + blocks.span).c_str(),
            TempoText(span.carried.tempo).c_str(), span.carried.beatCount, span.carried.beatUnit,
            JsonString(std::string(LayoutName(m.layout))).c_str(), span.carried.separatorSize,
            JsonString(std::string(EffectName(m.effect))).c_str());
        m_out += Format("\"blockMs\":%s,\"blockCount\":%u,\"firstFrame\":%lld,\"endFrame\":%lld,",
                        Ms(span.blockLength).c_str(), blocks.count,
                        static_cast<long long>(blocks.firstFrame),
                        static_cast<long long>(blocks.endFrame));
        m_out += "\"areas\":[";
        for (size_t d = 0; d < m.displays.size(); ++d) {
            // Frame rows count from the bottom; editors and pictures count from the top.
            const Rect& r = span.rects[d];
            m_out +=
                Format("%s{\"display\":%s,\"cycle\":%s,\"periodMs\":%s,\"rect\":[%i,%i,%i,%i]}",
                       d > 0 ? "," : "", JsonString(m.displays[d].refId).c_str(),
                       JsonString(std::string(CycleName(m.displays[d].cycle))).c_str(),
                       Ms(span.periods[d]).c_str(), r.left, m_height - r.bottom, r.right,
                       m_height - r.top);
        }
        m_out += "]";
        if (m_blocks && !span.skipped) {
            m_out += ",\"blocks\":[";
            ForEachBlock(span, [&](const TimelineBlock& block) {
                m_out += Format(
                    "%s{\"index\":%u,\"startMs\":%s,\"firstFrame\":%lld,"
                    "\"endFrame\":%lld,\"areas\":[",
                    block.index > 0 ? "," : "", block.index,
                    Ms(blocks.position + block.start).c_str(),
                    static_cast<long long>(block.firstFrame),
                    static_cast<long long>(block.endFrame));
                for (const BlockArea& area : block.areas) {
                    m_out += Format(
                        "%s{\"input\":%s,\"file\":%s,\"fileMs\":%lld,\"speed\":%.10g,"
                        "\"zoom\":%u}",
                        &area == &block.areas.front() ? "" : ",",
                        JsonString(area.input->id).c_str(), JsonString(area.input->file).c_str(),
                        static_cast<long long>(area.captureStartMs), area.speed, area.zoom);
                }
                m_out += "]}";
                return true;
            });
            m_out += "]";
        }
        m_out += "}";
    }

    void End(const CScript&) { m_out += "]}\n"; }

    const std::string& Text() const { return m_out; }

  private:
    bool m_blocks;
    int m_spans = 0;
    int m_height = 0;
    std::string m_out;
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
