#include "sync/TempoDrift.h"

#include <algorithm>
#include <cmath>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "script/Script.h"
#include "script/SpanTiming.h"

namespace zorvo {

namespace {

constexpr double kFrameMs = 40;
// How far from its predicted place a beat is looked for, as a share of the script's beat: the
// off-beat of a swing lies two thirds of a beat on, far outside.
constexpr double kReach = 0.12;
// Beats at each end of a span that place its start and end.
constexpr std::int64_t kEndBeats = 8;

struct Heard {
    std::int64_t beat;  // counted from measure 1
    double t;           // seconds into the WAVE file
};

struct Line {
    double a = 0;
    double b = 0;
    bool ok = false;
    double At(double x) const { return a + b * x; }
};

// The least-squares line through the heard beats of [from, to].
Line Fit(const std::vector<Heard>& heard, std::int64_t from, std::int64_t to) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Heard& h : heard) {
        if (h.beat < from || h.beat > to) {
            continue;
        }
        const double x = static_cast<double>(h.beat - from);
        n += 1;
        sx += x;
        sy += h.t;
        sxx += x * x;
        sxy += x * h.t;
    }
    Line line;
    const double det = n * sxx - sx * sx;
    if (n < 2 || det <= 0) {
        return line;
    }
    line.b = (n * sxy - sx * sy) / det;
    line.a = (sy - line.b * sx) / n - line.b * static_cast<double>(from);
    line.ok = true;
    return line;
}

size_t HeardIn(const std::vector<Heard>& heard, std::int64_t from, std::int64_t to) {
    return static_cast<size_t>(std::count_if(heard.begin(), heard.end(), [&](const Heard& h) {
        return h.beat >= from && h.beat <= to;
    }));
}

// How strongly a beat is stressed at t: new sound and new bass there.
double Accent(const SongAnalysis& song, double t, double reach, double onsetScale,
              double lowScale) {
    const auto first = std::max<std::int64_t>(0, std::llround(song.IndexOf(t - reach)));
    const auto last = std::min<std::int64_t>(static_cast<std::int64_t>(song.onsets.size()) - 1,
                                             std::llround(song.IndexOf(t + reach)));
    double best = 0;
    for (std::int64_t k = first; k <= last; ++k) {
        best = std::max(best, song.onsets[k] / onsetScale + song.lows[k] / lowScale);
    }
    return best;
}

// The song's first downbeat: of the first few beats after its first sound, the one whose
// measures are stressed most, then the first of its measure starts that is stressed like the
// rest (a quiet count-in is passed over). < 0 when the song is silent.
double FirstDownbeat(const SongAnalysis& song, float floor, double beat, int beatsPerMeasure) {
    const auto first = std::find_if(song.onsets.begin(), song.onsets.end(),
                                    [&](float strength) { return strength >= floor; });
    if (first == song.onsets.end()) {
        return -1;
    }
    float strength = 0;
    double start = song.TimeOf(static_cast<double>(first - song.onsets.begin()));
    // The peak of that first sound, a few hops on.
    start = song.PeakNear(start + 0.02, 0.025, strength);
    const double onsetScale = *std::max_element(song.onsets.begin(), song.onsets.end());
    const double lowScale = std::max(1e-9f, *std::max_element(song.lows.begin(), song.lows.end()));
    const double measure = beat * beatsPerMeasure;
    const double reach = beat * kReach;
    int phase = 0;
    double best = -1;
    for (int i = 0; i < beatsPerMeasure; ++i) {
        double score = 0;
        for (int m = 0; m < 4; ++m) {
            score += Accent(song, start + i * beat + m * measure, reach, onsetScale, lowScale);
        }
        if (score > best + 1e-9) {
            best = score;
            phase = i;
        }
    }
    std::vector<double> accents;
    for (int m = 0; m < 8; ++m) {
        accents.push_back(
            Accent(song, start + phase * beat + m * measure, reach, onsetScale, lowScale));
    }
    std::vector<double> sorted = accents;
    std::nth_element(sorted.begin(), sorted.begin() + 4, sorted.end());
    int m = 0;
    while (m < 7 && accents[m] < 0.5 * sorted[4]) {
        ++m;
    }
    const double guess = start + phase * beat + m * measure;
    const double peak = song.PeakNear(guess, reach, strength);
    return strength >= floor ? peak : guess;
}

// The largest distance of a heard beat from the line, in ms.
double Spread(const std::vector<Heard>& heard, std::int64_t from, std::int64_t to,
              const Line& line) {
    double most = 0;
    for (const Heard& h : heard) {
        if (h.beat >= from && h.beat <= to) {
            most = std::max(most, std::fabs(h.t - line.At(static_cast<double>(h.beat))) * 1000);
        }
    }
    return most;
}

}  // namespace

BeatReport MeasureDrift(const CScript& script, const SongAnalysis& song) {
    BeatReport report;
    report.songStartMs = script.songStartMs;
    // The spans as the render times them.
    struct Span {
        SpanDrift drift;
        std::int64_t firstBeat;
        std::int32_t beatCount;
    };
    std::vector<Span> spans;
    CarriedValues carried;
    size_t tempoMarker = 0;
    double position = 0;
    std::int64_t beats = 0;
    for (size_t i = 0; i + 1 < script.markers.size(); ++i) {
        const CSMarker& m = *script.markers[i];
        carried.Carry(m);
        tempoMarker = m.tempo != 0 ? i : tempoMarker;
        const CSMarker& next = *script.markers[i + 1];
        const SpanTiming timing = SpanTiming::Compute(carried, m.measure, next.measure);
        Span span{{}, beats, carried.beatCount};
        SpanDrift& d = span.drift;
        d.fromMeasure = m.measure;
        d.toMeasure = next.measure;
        d.line = m.line;
        d.column = m.column;
        d.tempoMarker = tempoMarker;
        d.beatUnit = carried.beatUnit;
        d.beatMs = timing.beat;
        d.scriptTempo = carried.tempo;
        d.startMs = position;
        d.endMs = position + timing.span;
        d.beats = static_cast<int>((next.measure - m.measure) * carried.beatCount);
        position = d.endMs;
        beats += d.beats;
        spans.push_back(span);
        if (next.isLast) {
            break;
        }
    }
    if (spans.empty() || song.onsets.empty()) {
        return report;
    }
    const float floor = song.OnsetFloor();
    const double downbeat =
        FirstDownbeat(song, floor, spans[0].drift.beatMs / 1000, spans[0].beatCount);
    report.firstDownbeatMs = downbeat < 0 ? -1 : downbeat * 1000;

    // Follow the beats: each one is looked for where the beats heard so far in its span put it.
    std::vector<Heard> heard;
    if (downbeat >= 0) {
        heard.push_back({0, downbeat});
        for (const Span& span : spans) {
            const double scriptBeat = span.drift.beatMs / 1000;
            const std::int64_t from = span.firstBeat;
            for (std::int64_t j = from + 1; j <= from + span.drift.beats; ++j) {
                double period = scriptBeat;
                if (HeardIn(heard, from, j) >= 4) {
                    const Line recent = Fit(heard, std::max(from, j - 32), j);
                    period = recent.ok ? recent.b : period;
                }
                const Heard& last = heard.back();
                const double predicted = last.t + static_cast<double>(j - last.beat) * period;
                if (predicted > song.seconds) {
                    break;
                }
                float strength = 0;
                const double t = song.PeakNear(predicted, scriptBeat * kReach, strength);
                if (strength >= floor) {
                    heard.push_back({j, t});
                }
            }
        }
    }

    for (Span& span : spans) {
        SpanDrift& d = span.drift;
        const std::int64_t from = span.firstBeat;
        const std::int64_t to = from + d.beats;
        d.beatsHeard = static_cast<int>(HeardIn(heard, from, to - 1));
        for (const Heard& h : heard) {
            if (h.beat >= from && h.beat < to && (h.beat - from) % span.beatCount == 0) {
                report.downbeatsMs.push_back(h.t * 1000);
            }
        }
        const Line whole = Fit(heard, from, to);
        // Half the beats, and at least 8 where the span has them: a break is not judged.
        d.heard = whole.ok && d.beatsHeard >= std::max(std::min(8, d.beats), d.beats / 2);
        if (!d.heard) {
            report.spans.push_back(d);
            continue;
        }
        // Each end placed by the beats around it, so a wandering tempo ends where it ends.
        Line head = Fit(heard, from, from + kEndBeats);
        Line tail = Fit(heard, to - kEndBeats, to);
        head = HeardIn(heard, from, from + kEndBeats) >= 3 && head.ok ? head : whole;
        tail = HeardIn(heard, to - kEndBeats, to) >= 3 && tail.ok ? tail : whole;
        const double start = head.At(static_cast<double>(from));
        const double end = tail.At(static_cast<double>(to));
        const double songSpan = end - start;
        d.songTempo = songSpan > 0 ? d.beats * 60.0 / songSpan / (d.beatUnit / 4.0) : 0;
        d.driftMs = (d.endMs - d.startMs) - songSpan * 1000;
        d.totalDriftMs = d.endMs - (end - downbeat) * 1000;
        Line chord;
        chord.b = (end - start) / static_cast<double>(d.beats);
        chord.a = start - chord.b * static_cast<double>(from);
        d.wanderMs = Spread(heard, from, to, chord);
        if (d.wanderMs > kFrameMs) {
            double least = d.wanderMs;
            for (std::int64_t k = 1; k * span.beatCount < d.beats; ++k) {
                const std::int64_t at = from + k * span.beatCount;
                const Line left = Fit(heard, from, at);
                const Line right = Fit(heard, at, to);
                if (!left.ok || !right.ok) {
                    continue;
                }
                const double worst =
                    std::max(Spread(heard, from, at, left), Spread(heard, at, to, right));
                if (worst < least) {
                    least = worst;
                    d.splitAt = d.fromMeasure + static_cast<std::uint32_t>(k);
                }
            }
        }
        report.spans.push_back(d);
    }
    return report;
}

bool MeasureScriptDrift(const std::string& scriptPath, BeatReport& report,
                        std::vector<double>* beats) {
    LogCollector quiet(LogCollector::Scope::ThisThread);
    CScript script(scriptPath);
    if (!script.Load() || !script.Validate() || script.wavePath.empty()) {
        return false;
    }
    const std::shared_ptr<const SongAnalysis> song = AnalyseSong(script.wavePath);
    if (!song) {
        return false;
    }
    report = MeasureDrift(script, *song);
    if (beats) {
        *beats = song->beats;
    }
    return true;
}

std::vector<TempoReach> TempoReaches(const BeatReport& report) {
    std::vector<TempoReach> reaches;
    double scriptMs = 0;
    double songMs = 0;
    for (size_t i = 0; i < report.spans.size(); ++i) {
        const SpanDrift& span = report.spans[i];
        if (i == 0 || span.tempoMarker != report.spans[i - 1].tempoMarker) {
            reaches.push_back({i, i, span.scriptTempo, 0, 0, {}, false});
            scriptMs = songMs = 0;
        }
        TempoReach& reach = reaches.back();
        reach.lastSpan = i;
        if (!span.heard) {
            continue;
        }
        reach.heard = true;
        reach.driftMs += span.driftMs;
        scriptMs += span.endMs - span.startMs;
        songMs += span.endMs - span.startMs - span.driftMs;
        // A span's length goes with the inverse of its tempo.
        reach.songTempo = reach.scriptTempo * scriptMs / songMs;
        double rounded = reach.songTempo;
        for (const double scale : {10.0, 100.0, 1000.0}) {
            rounded = std::round(reach.songTempo * scale) / scale;
            if (std::fabs(scriptMs * reach.scriptTempo / rounded - songMs) < 5) {
                break;
            }
        }
        reach.suggested = TempoText(rounded);
    }
    return reaches;
}

std::vector<Message> DriftMessages(const BeatReport& report, DriftLimit limit) {
    std::vector<Message> lines;
    const auto warn = [&](std::string text, const SpanDrift* span) {
        Message message{Severity::Warning, "Beats", std::move(text)};
        if (span) {
            message.line = span->line;
            message.column = span->column;
            message.marker = span->fromMeasure;
        }
        lines.push_back(std::move(message));
    };
    const double offset = report.firstDownbeatMs - report.songStartMs;
    const bool frame = limit == DriftLimit::Frame;
    if (frame && report.firstDownbeatMs >= 0 && std::fabs(offset) > kFrameMs) {
        warn(Format("the song's first downbeat is at %.2f s of the WAVE file, "
                    "measure 1 at %.2f s: every cut comes %.2f s %s. Try song_start( %lld ).",
                    report.firstDownbeatMs / 1000, report.songStartMs / 1000,
                    std::fabs(offset) / 1000, offset > 0 ? "early" : "late",
                    std::llround(report.firstDownbeatMs)),
             nullptr);
    }
    for (const TempoReach& reach : TempoReaches(report)) {
        const SpanDrift& first = report.spans[reach.firstSpan];
        const SpanDrift& last = report.spans[reach.lastSpan];
        const double allowed = frame ? kFrameMs : first.beatMs;
        const bool reachDrifts = reach.heard && std::fabs(reach.driftMs) > allowed;
        if (reachDrifts) {
            warn(Format("marker %u (measure %u): the script says %s bpm, the song plays "
                        "%s bpm here; by measure %u the cuts are %.2f s %s. Try tempo( %s ).",
                        first.fromMeasure, first.fromMeasure, TempoText(reach.scriptTempo).c_str(),
                        TempoText(std::round(reach.songTempo * 10) / 10).c_str(), last.toMeasure,
                        std::fabs(reach.driftMs) / 1000, reach.driftMs > 0 ? "late" : "early",
                        reach.suggested.c_str()),
                 &first);
        }
        for (size_t i = reach.firstSpan; i <= reach.lastSpan; ++i) {
            const SpanDrift& span = report.spans[i];
            if (!reachDrifts && reach.firstSpan != reach.lastSpan && span.heard &&
                std::fabs(span.driftMs) > allowed) {
                warn(Format("marker %u (measure %u): the song plays %s bpm here, "
                            "the script %s bpm; by measure %u the cuts are %.2f s %s. Give the "
                            "marker a tempo( %s ) of its own.",
                            span.fromMeasure, span.fromMeasure,
                            TempoText(std::round(span.songTempo * 10) / 10).c_str(),
                            TempoText(span.scriptTempo).c_str(), span.toMeasure,
                            std::fabs(span.driftMs) / 1000, span.driftMs > 0 ? "late" : "early",
                            TempoText(std::round(span.songTempo * 100) / 100).c_str()),
                     &span);
            }
            if (frame && span.heard && span.splitAt != 0 && span.wanderMs > allowed) {
                warn(Format("marker %u (measure %u): the song's tempo wanders here; no "
                            "constant tempo keeps every cut within %.2f s of its beat. Split the "
                            "span with a marker at measure %u.",
                            span.fromMeasure, span.fromMeasure, allowed / 1000, span.splitAt),
                     &span);
            }
        }
    }
    return lines;
}

std::vector<std::string> DriftWarnings(const BeatReport& report, DriftLimit limit) {
    std::vector<std::string> lines;
    for (const Message& message : DriftMessages(report, limit)) {
        lines.push_back(LogText(message));
    }
    return lines;
}

}  // namespace zorvo
