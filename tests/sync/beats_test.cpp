#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Script.h"
#include "support/TestBeats.h"
#include "sync/SongBeats.h"
#include "sync/TempoDrift.h"
#include "sync/TempoRewrite.h"

namespace zorvo {
namespace {

constexpr int kRate = 22050;

// Three spans of a third of the song each, with the given tempos and song_start.
std::string ScriptFor(const test::DrumSong& s, const std::vector<double>& tempos, int songStart) {
    std::string text = "output( out.avi, 64, 48 )\ninput( cam, cam.mp4 ) { }\n";
    if (songStart != 0) {
        text += "song_start( " + std::to_string(songStart) + " )\n";
    }
    const int third = s.measures / 3;
    for (int m = 0; m < 3; ++m) {
        char tempo[32];
        std::snprintf(tempo, sizeof tempo, "%g", tempos[m]);
        text += "marker( " + std::to_string(1 + m * third) + ", 1fullscreen ) { tempo( " + tempo +
                " ); signature( " + std::to_string(s.beatCount) + ", " +
                std::to_string(s.beatUnit) + " ); display( cam ); }\n";
    }
    return text + "marker( " + std::to_string(1 + s.measures) + " ) { }\n";
}

BeatReport Measure(const std::string& text, const SongAnalysis& song) {
    LogCollector log;
    CScript script("song.zorvo");
    EXPECT_TRUE(script.LoadText(text) && script.Validate()) << log.Joined();
    return MeasureDrift(script, song);
}

// The song's own tempo and its drift against the script's over one span, from the pulses.
struct Truth {
    double tempo;
    double driftMs;
};
Truth TruthOf(const test::DrumSong& s, const std::vector<double>& pulses, std::uint32_t from,
              std::uint32_t to, double scriptTempo) {
    const double seconds = pulses[(to - 1) * s.beatCount] - pulses[(from - 1) * s.beatCount];
    const int beats = static_cast<int>(to - from) * s.beatCount;
    const double scale = s.beatUnit / 4.0;
    return {beats * 60 / seconds / scale, (beats * 60 / (scriptTempo * scale) - seconds) * 1000};
}

struct Case {
    const char* name;
    test::DrumSong song;
    double tempoTolerance;  // bpm
};

// Every figure of every span against the truth, for a script that is right and one whose middle
// span is 0.4 bpm off: the right script draws no warning, the wrong one one line for its span.
TEST(Beats, FollowsTheSongsTempoSpanBySpan) {
    const Case cases[] = {
        {"93 in 4/4", {93}, 0.1},
        {"120 in 4/4", {120}, 0.1},
        {"128 in 4/4", {128}, 0.1},
        {"140 in 7/8", {140, 0, 7, 8, 0, false, 45}, 0.1},
        {"120 with half a second of silence", {120, 0, 4, 4, 500}, 0.1},
        {"128 with swing", {128, 0, 4, 4, 0, true}, 0.1},
        {"a ramp from 118 to 122", {120, 4}, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::DrumSong& s = c.song;
        const std::vector<double> pulses = test::PulseTimes(s);
        const SongAnalysis song = AnalyseSamples(test::RenderDrums(s, kRate), kRate);
        const int third = s.measures / 3;
        std::vector<double> right;
        for (int m = 0; m < 3; ++m) {
            const auto from = static_cast<std::uint32_t>(1 + m * third);
            right.push_back(
                std::round(TruthOf(s, pulses, from, from + third, s.tempo).tempo * 100) / 100);
        }
        const int start = static_cast<int>(s.leadMs);
        const BeatReport good = Measure(ScriptFor(s, right, start), song);
        EXPECT_NEAR(good.firstDownbeatMs, s.leadMs, 40);
        ASSERT_EQ(good.spans.size(), 3u);
        for (const SpanDrift& span : good.spans) {
            const Truth truth =
                TruthOf(s, pulses, span.fromMeasure, span.toMeasure, span.scriptTempo);
            EXPECT_TRUE(span.heard);
            EXPECT_NEAR(span.songTempo, truth.tempo, c.tempoTolerance) << span.fromMeasure;
            EXPECT_NEAR(span.driftMs, truth.driftMs, 40) << span.fromMeasure;
        }
        EXPECT_EQ(DriftWarnings(good, DriftLimit::Frame), std::vector<std::string>());

        std::vector<double> off = right;
        off[1] = right[1] + 0.4;
        const BeatReport bad = Measure(ScriptFor(s, off, start), song);
        const Truth truth = TruthOf(s, pulses, 1 + third, 1 + 2 * third, off[1]);
        EXPECT_NEAR(bad.spans[1].driftMs, truth.driftMs, 40);
        EXPECT_LT(truth.driftMs, -50);
        const std::vector<std::string> warnings = DriftWarnings(bad, DriftLimit::Frame);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].rfind(Format("Warning (Beats): marker %d (measure %d): the script "
                                           "says ",
                                           1 + third, 1 + third),
                                    0),
                  0u)
            << warnings[0];
        // The tempo to write puts the span back on its beats.
        const std::vector<TempoEdit> edits = TemposToWrite(bad);
        ASSERT_EQ(edits.size(), 1u);
        EXPECT_EQ(edits[0].marker, 1u);
        off[1] = std::stod(edits[0].tempo);
        EXPECT_EQ(DriftWarnings(Measure(ScriptFor(s, off, start), song), DriftLimit::Frame),
                  std::vector<std::string>());
    }
}

TEST(Beats, ReadsTheDemoSong) {
    const SongAnalysis song = AnalyseSamples(test::DemoSong(kRate), kRate);
    const test::DrumSong s{120, 0, 4, 4, 0, false, 15};
    const BeatReport report = Measure(ScriptFor(s, {120, 120, 120}, 0), song);
    EXPECT_NEAR(report.firstDownbeatMs, 0, 40);
    for (const SpanDrift& span : report.spans) {
        EXPECT_NEAR(span.songTempo, 120, 0.1);
        EXPECT_NEAR(span.driftMs, 0, 40);
    }
    // A tempo a little off over many short spans: each span stays within a frame, their tempo
    // statement does not.
    std::string text = "output( out.avi, 64, 48 )\ninput( cam, cam.mp4 ) { }\n";
    for (int m = 1; m < 15; m += 2) {
        text += "marker( " + std::to_string(m) + ", 1fullscreen ) { " +
                (m == 1 ? "tempo( 119 ) signature( 4, 4 ) " : "") + "display( cam ) }\n";
    }
    const BeatReport slow = Measure(text + "marker( 15 ) { }\n", song);
    EXPECT_EQ(DriftWarnings(slow, DriftLimit::Frame),
              std::vector<std::string>{
                  "Warning (Beats): marker 1 (measure 1): the script says 119 bpm, the song plays "
                  "120 bpm here; by measure 15 the cuts are 0.24 s late. Try tempo( 120 ).\n"});
    // aubio's own beats, moved to their onsets, lie on the kicks.
    ASSERT_GT(song.beats.size(), 40u);
    for (const double beat : song.beats) {
        EXPECT_NEAR(std::remainder(beat, 0.5), 0, 0.02) << beat;
    }
}

}  // namespace
}  // namespace zorvo
