#include <gtest/gtest.h>

#include "ScriptFixture.h"

namespace zorvo {
namespace {

using test::LoadScript;
using Texts = std::vector<std::string>;

const std::string kMalformed = "Error (Script): Malformed script.\n";
const std::string kMarkers = "Error (Script): Failed to parse 'markers'.\n";
const std::string kHead = "output( a, 1, 2 ) input( cam, f ) { } group( all ) { cam }\n";

TEST(Marker, BodyValues) {
    auto r =
        LoadScript(kHead +
                   "marker( 1, 1left_1right ) { separator( 4 ); speed( cam, 0.5 );"
                   " tempo( 120 ); tempo( 60 ); signature( 6, 8 ); effect( strobe, each_beat );"
                   " display( cam, each_measure ); display( all ); resize( cam, 50 );"
                   " resize( cam, 80 ); effect( fade_in ); separator( 9 ) }");
    ASSERT_TRUE(r.loaded);
    EXPECT_TRUE(r.log.empty());
    ASSERT_EQ(r.script->markers.size(), 1u);
    const CSMarker& m = *r.script->markers[0];
    EXPECT_EQ(m.measure, 1u);
    EXPECT_EQ(m.layout, LayoutType::Left1Right1);
    EXPECT_TRUE(m.isLast);
    EXPECT_EQ(m.tempo, 120);  // only the first statement of these kinds counts
    EXPECT_EQ(m.beatCount, 6);
    EXPECT_EQ(m.beatUnit, 8);
    EXPECT_EQ(m.effect, MarkerEffect::Strobe);
    EXPECT_EQ(m.strobeCycle, DisplayCycle::EachBeat);
    EXPECT_EQ(m.separatorSize, 4);
    ASSERT_EQ(m.displays.size(), 2u);
    EXPECT_EQ(m.displays[0].refId, "cam");
    EXPECT_EQ(m.displays[0].cycle, DisplayCycle::EachMeasure);
    EXPECT_EQ(m.displays[1].refId, "all");
    EXPECT_EQ(m.displays[1].cycle, DisplayCycle::None);
    EXPECT_EQ(m.resizeById.at("cam"), 80u);  // a later value for the same id replaces
    EXPECT_EQ(m.speedById.at("cam"), 0.5);
}

TEST(Marker, DefaultsKeepValuesInForce) {
    auto r = LoadScript(kHead + "marker( 7, 2top_2bottom ) { effect( fade_out, ignored ) }");
    ASSERT_TRUE(r.loaded);
    const CSMarker& m = *r.script->markers[0];
    EXPECT_EQ(m.tempo, 0);
    EXPECT_EQ(m.beatCount, 0);
    EXPECT_EQ(m.beatUnit, 0);
    EXPECT_EQ(m.separatorSize, -1);
    EXPECT_EQ(m.effect, MarkerEffect::FadeOut);
    EXPECT_EQ(m.strobeCycle, DisplayCycle::Unknown);
    EXPECT_EQ(m.GetResize("cam"), 100u);
    EXPECT_EQ(m.GetSpeed("cam"), 1.0);
}

TEST(Marker, ParseFailures) {
    struct Case {
        std::string statement;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"marker( ) { }", {kMalformed, kMarkers}},
        {"marker( 1, fullscreen ) { }",
         {"Error (Layout): Unknown layout type '", "fullscreen", "'.\n", kMarkers}},
        {"marker( 1 ) { tempo() }",
         {kMalformed, "Error (SMarker): Failed to extract tempo.\n", kMarkers}},
        {"marker( 1 ) { signature() }",
         {kMalformed, "Error (SMarker): Failed to extract beat count.\n", kMarkers}},
        {"marker( 1 ) { signature( 4 ) }",
         {kMalformed, "Error (SMarker): Failed to extract beat unit.\n", kMarkers}},
        {"marker( 1 ) { effect() }",
         {kMalformed, "Error (SMarker): Failed to extract effect.\n", kMarkers}},
        {"marker( 1 ) { effect( Fade_in ) }",
         {"Error (SMEffect): Unknown effect type '", "Fade_in", "'.\n", kMarkers}},
        {"marker( 1 ) { effect( strobe ) }",
         {kMalformed, "Error (SMarker): Failed to extract strobe effect cycle.\n", kMarkers}},
        {"marker( 1 ) { effect( strobe, Each_beat ) }",
         {"Error (SMDisplay): Unknown display cycle type '", "Each_beat", "'.\n", kMarkers}},
        {"marker( 1 ) { separator() }",
         {kMalformed, "Error (SMarker): Failed to extract separator size.\n", kMarkers}},
        {"marker( 1 ) { display() }",
         {kMalformed, "Error (SMarker): Failed to extract display refid.\n", kMarkers}},
        {"marker( 1 ) { display( cam, Each_beat ) }",
         {"Error (SMDisplay): Unknown display cycle type '", "Each_beat", "'.\n", kMarkers}},
        {"marker( 1 ) { resize() }",
         {kMalformed, "Error (SMarker): Failed to extract resize refid.\n", kMarkers}},
        {"marker( 1 ) { resize( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract resize size.\n", kMarkers}},
        {"marker( 1 ) { speed() }",
         {kMalformed, "Error (SMarker): Failed to extract speed refid.\n", kMarkers}},
        {"marker( 1 ) { speed( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract speed value.\n", kMarkers}},
        // The first failure in the fixed order wins, whatever the text order.
        {"marker( 1 ) { separator() tempo() }",
         {kMalformed, "Error (SMarker): Failed to extract tempo.\n", kMarkers}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(kHead + "marker( 2, 1fullscreen ) { display( cam ) }\n" + c.statement);
        EXPECT_FALSE(r.loaded) << c.statement;
        EXPECT_EQ(r.log, c.log) << c.statement;
    }
}

TEST(Marker, CycleAndEffectNames) {
    const std::vector<std::pair<std::string, DisplayCycle>> cycles = {
        {"none", DisplayCycle::None},
        {"each_measure", DisplayCycle::EachMeasure},
        {"each_beat", DisplayCycle::EachBeat},
        {"every_2_beats", DisplayCycle::Every2Beats},
        {"every_3_beats", DisplayCycle::Every3Beats},
        {"every_half_beat", DisplayCycle::EveryHalfBeat},
        {"every_quarter_beat", DisplayCycle::EveryQuarterBeat},
        {"every_eighth_beat", DisplayCycle::EveryEighthBeat}};
    for (const auto& [name, code] : cycles) {
        LogCollector log;
        EXPECT_EQ(ParseDisplayCycle(name), code) << name;
        EXPECT_TRUE(log.Texts().empty());
    }
    const std::vector<std::pair<std::string, MarkerEffect>> effects = {
        {"none", MarkerEffect::None},
        {"fade_in", MarkerEffect::FadeIn},
        {"fade_out", MarkerEffect::FadeOut},
        {"strobe", MarkerEffect::Strobe}};
    for (const auto& [name, code] : effects) {
        LogCollector log;
        EXPECT_EQ(ParseEffect(name), code) << name;
        EXPECT_TRUE(log.Texts().empty());
    }
}

TEST(Marker, StableSortByUnsignedMeasureAndTerminalFlag) {
    auto r = LoadScript(kHead +
                        "marker( 9, 1fullscreen ) { display( a ) }\n"
                        "marker( -1 ) { }\n"  // reads as the largest unsigned measure
                        "marker( 1, 1fullscreen ) { display( b ) }\n"
                        "marker( 9, 1fullscreen ) { display( c ) }\n"
                        "marker( 5, 1fullscreen ) { display( d ) }\n"
                        "marker( 1, 1fullscreen ) { display( e ) }\n");
    ASSERT_TRUE(r.loaded);
    std::vector<std::pair<std::uint32_t, std::string>> order;
    for (const auto& m : r.script->markers) {
        order.emplace_back(m->measure, m->displays.empty() ? "" : m->displays[0].refId);
    }
    const std::vector<std::pair<std::uint32_t, std::string>> expected = {
        {1, "b"}, {1, "e"}, {5, "d"}, {9, "a"}, {9, "c"}, {4294967295u, ""}};
    EXPECT_EQ(order, expected);
    for (size_t i = 0; i < r.script->markers.size(); ++i) {
        EXPECT_EQ(r.script->markers[i]->isLast, i + 1 == r.script->markers.size());
    }
}

TEST(Marker, EqualMeasuresLaterOneIsTerminal) {
    auto r = LoadScript(kHead + "marker( 4 ) { }\nmarker( 4, 1fullscreen ) { display( cam ) }");
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.script->markers.size(), 2u);
    EXPECT_EQ(r.script->markers[1]->layout, LayoutType::Fullscreen1);
    EXPECT_TRUE(r.script->markers[1]->isLast);
}

TEST(Marker, MalformedMarkerEndsSearchKeepingEarlierOnes) {
    auto r = LoadScript(kHead +
                        "marker( 1, 1fullscreen ) { display( cam ) }\n"
                        "marker( 2 ) \n");
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.log, Texts{"Error (Script): Malformed script, missing '{' character.\n"});
    ASSERT_EQ(r.script->markers.size(), 1u);
    EXPECT_TRUE(r.script->markers[0]->isLast);
}

TEST(Maps, ExpandGroupsToInputs) {
    auto r = LoadScript(
        "output( a, 1, 2 ) input( c1, f ) { } input( c2, f ) { } input( c3, f ) { }\n"
        "group( trio ) { c1, c2, c3 }\n"
        "marker( 1, 1fullscreen ) { display( c1 ); resize( trio, 50 ); speed( c2, 2 ) }\n"
        "marker( 2, 1fullscreen ) { display( c1 ) }\n"
        "marker( 3 ) { }");
    ASSERT_TRUE(r.loaded);
    const CSMarker& first = *r.script->markers[0];
    EXPECT_EQ(first.resizeByInput,
              (std::map<std::string, std::uint32_t>{{"c1", 50}, {"c2", 50}, {"c3", 50}}));
    EXPECT_EQ(first.GetSpeed("c2"), 2.0);
    EXPECT_EQ(first.GetSpeed("c1"), 1.0);
    // Nothing carries over to the next marker.
    const CSMarker& second = *r.script->markers[1];
    EXPECT_EQ(second.GetSpeed("c2"), 1.0);
    EXPECT_EQ(second.GetResize("c1"), 100u);
}

TEST(Maps, UnknownIdFailsTheLoad) {
    struct Case {
        std::string statement;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"resize( nobody, 50 )",
         {"Error (SMarker): Failed to build input list.\n",
          "Error (Script): Failed to build resize maps.\n"}},
        {"speed( nobody, 2 )",
         {"Error (SMarker): Failed to build input list.\n",
          "Error (Script): Failed to build speed maps.\n"}},
        // Resize maps are built for every marker before any speed map.
        {"speed( bad, 2 ) resize( cam, 3 )",
         {"Error (Script): Failed to build input list: Unknown ID 'ghost'.\n",
          "Error (SMarker): Failed to build input list.\n",
          "Error (Script): Failed to build speed maps.\n"}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(kHead + "group( bad ) { cam, ghost }\nmarker( 1, 1fullscreen ) { " +
                            c.statement + " }");
        EXPECT_FALSE(r.loaded);
        EXPECT_EQ(r.log, c.log) << c.statement;
    }
}

TEST(Overlay, StatementAndCapture) {
    struct Case {
        std::string statements;
        bool ok;
        std::string id;
        int frames, left, top, right, bottom;
        Texts log;
    };
    const std::string kOverlay = "Error (Script): Failed to parse 'overlay'.\n";
    const std::vector<Case> cases = {
        {"", true, "", 0, 0, 0, 0, 0, {}},
        {"overlay( cam, 50 ) { }", true, "cam", 50, 0, 0, 0, 0, {}},
        {"overlay( cam, 50 ) { capture( 1, 2, 3, 4 ) }", true, "cam", 50, 1, 2, 3, 4, {}},
        {"overlay( a, 5 ) { capture( 1, 2, 3, 4 ) } overlay( b, 6 ) { }",
         true,
         "b",
         6,
         1,
         2,
         3,
         4,
         {}},
        {"overlay( cam ) { }", false, "", 0, 0, 0, 0, 0, {kMalformed, kOverlay}},
        {"overlay( cam, 5 ) { capture( 1, 2, 3 ) }",
         false,
         "",
         0,
         0,
         0,
         0,
         0,
         {kMalformed, "Error (SOverlay): Failed to extract 'bottom'.\n", kOverlay}},
        {"overlay( cam, 5 ) { capture( ) }",
         false,
         "",
         0,
         0,
         0,
         0,
         0,
         {kMalformed, "Error (SOverlay): Failed to extract 'left'.\n", kOverlay}},
        {"overlay( cam, 5 )",
         true,
         "",
         0,
         0,
         0,
         0,
         0,
         {"Error (Script): Malformed script, missing '{' character.\n"}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(kHead + c.statements);
        EXPECT_EQ(r.loaded, c.ok) << c.statements;
        EXPECT_EQ(r.log, c.log) << c.statements;
        if (!c.ok) {
            continue;
        }
        const CSOverlay& o = r.script->overlay;
        EXPECT_EQ(o.inputId, c.id);
        EXPECT_EQ(o.loopFrames, c.frames);
        EXPECT_EQ(o.captureLeft, c.left);
        EXPECT_EQ(o.captureTop, c.top);
        EXPECT_EQ(o.captureRight, c.right);
        EXPECT_EQ(o.captureBottom, c.bottom);
    }
}

}  // namespace
}  // namespace zorvo
