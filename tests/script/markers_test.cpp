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
                   " display( cam, every_half_beat ); display( all ); resize( cam, 50 );"
                   " resize( cam, 80 ); effect( fade_in ); separator( 9 ) }\n"
                   "marker( 7, 2top_2bottom ) { effect( fade_out, ignored ) }");
    ASSERT_TRUE(r.loaded);
    EXPECT_TRUE(r.log.empty());
    ASSERT_EQ(r.script->markers.size(), 2u);
    const CSMarker& m = *r.script->markers[0];
    EXPECT_EQ(m.layout, LayoutType::Left1Right1);
    EXPECT_EQ(m.tempo, 120);  // only the first statement of these kinds counts
    EXPECT_EQ(m.beatCount, 6);
    EXPECT_EQ(m.beatUnit, 8);
    EXPECT_EQ(m.effect, MarkerEffect::Strobe);
    EXPECT_EQ(m.strobeCycle, DisplayCycle::EachBeat);
    EXPECT_EQ(m.separatorSize, 4);
    ASSERT_EQ(m.displays.size(), 2u);
    EXPECT_EQ(m.displays[0].cycle, DisplayCycle::EveryHalfBeat);
    EXPECT_EQ(m.displays[1].refId, "all");
    EXPECT_EQ(m.displays[1].cycle, DisplayCycle::None);
    EXPECT_EQ(m.resizeById.at("cam"), 80u);  // a later value for the same id replaces
    EXPECT_EQ(m.speedById.at("cam"), 0.5);
    // A marker without values keeps those in force: nothing set, nothing carried.
    const CSMarker& last = *r.script->markers[1];
    EXPECT_TRUE(last.isLast);
    EXPECT_EQ(last.tempo + last.beatCount + last.beatUnit, 0);
    EXPECT_EQ(last.separatorSize, -1);
    EXPECT_EQ(last.effect, MarkerEffect::FadeOut);
    EXPECT_EQ(last.GetResize("cam"), 100u);
    EXPECT_EQ(last.GetSpeed("cam"), 1.0);
}

TEST(Marker, ParseFailures) {
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"marker( ) { }", {kMalformed, kMarkers}},
        {"marker( 1, fullscreen ) { }",
         {"Error (Layout): Unknown layout type '", "fullscreen", "'.\n", kMarkers}},
        {"marker( 1 ) { signature( 4 ) }",
         {kMalformed, "Error (SMarker): Failed to extract beat unit.\n", kMarkers}},
        {"marker( 1 ) { effect( Fade_in ) }",
         {"Error (SMEffect): Unknown effect type '", "Fade_in", "'.\n", kMarkers}},
        {"marker( 1 ) { effect( strobe ) }",
         {kMalformed, "Error (SMarker): Failed to extract strobe effect cycle.\n", kMarkers}},
        {"marker( 1 ) { display( cam, Each_beat ) }",
         {"Error (SMDisplay): Unknown display cycle type '", "Each_beat", "'.\n", kMarkers}},
        {"marker( 1 ) { resize( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract resize size.\n", kMarkers}},
        {"marker( 1 ) { speed( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract speed value.\n", kMarkers}},
        // The first failure in the fixed order wins, whatever the text order.
        {"marker( 1 ) { separator() tempo() }",
         {kMalformed, "Error (SMarker): Failed to extract tempo.\n", kMarkers}},
    };
    for (const auto& [statement, log] : cases) {
        auto r = LoadScript(kHead + "marker( 2, 1fullscreen ) { display( cam ) }\n" + statement);
        EXPECT_FALSE(r.loaded) << statement;
        EXPECT_EQ(r.log, log) << statement;
    }
}

TEST(Marker, StableSortByUnsignedMeasureAndTerminalFlag) {
    auto r = LoadScript(kHead +
                        "marker( 9, 1fullscreen ) { display( a ) }\n"
                        "marker( -1 ) { }\n"  // reads as the largest unsigned measure
                        "marker( 1, 1fullscreen ) { display( b ) }\n"
                        "marker( 9, 1fullscreen ) { display( c ) }\n"
                        "marker( 5, 1fullscreen ) { display( d ) }\n"
                        "marker( 1, 1fullscreen ) { display( e ) }\n"
                        "marker( 2 ) \n");  // malformed: ends the search, keeps the others
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.log, Texts{"Error (Script): Malformed script, missing '{' character.\n"});
    std::vector<std::pair<std::uint32_t, std::string>> order;
    for (const auto& m : r.script->markers) {
        order.emplace_back(m->measure, m->displays.empty() ? "" : m->displays[0].refId);
        EXPECT_EQ(m->isLast, m == r.script->markers.back());
    }
    const std::vector<std::pair<std::uint32_t, std::string>> expected = {
        {1, "b"}, {1, "e"}, {5, "d"}, {9, "a"}, {9, "c"}, {4294967295u, ""}};
    EXPECT_EQ(order, expected);
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
    EXPECT_EQ(r.script->markers[1]->GetSpeed("c2"), 1.0);
}

TEST(Maps, UnknownIdFailsTheLoad) {
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"resize( nobody, 50 )",
         {"Error (SMarker): Failed to build input list.\n",
          "Error (Script): Failed to build resize maps.\n"}},
        // Resize maps are built for every marker before any speed map.
        {"speed( bad, 2 ) resize( cam, 3 )",
         {"Error (Script): Failed to build input list: Unknown ID 'ghost'.\n",
          "Error (SMarker): Failed to build input list.\n",
          "Error (Script): Failed to build speed maps.\n"}},
    };
    for (const auto& [statement, log] : cases) {
        auto r = LoadScript(kHead + "group( bad ) { cam, ghost }\nmarker( 1, 1fullscreen ) { " +
                            statement + " }");
        EXPECT_FALSE(r.loaded);
        EXPECT_EQ(r.log, log) << statement;
    }
}

TEST(Overlay, StatementAndCapture) {
    struct Case {
        std::string statements;
        std::string overlay;  // id frames left top right bottom; empty when the load fails
        Texts log;
    };
    const std::string kOverlay = "Error (Script): Failed to parse 'overlay'.\n";
    const std::vector<Case> cases = {
        {"overlay( cam, 50 ) { }", "cam 50 0 0 0 0", {}},
        {"overlay( a, 5 ) { capture( 1, 2, 3, 4 ) } overlay( b, 6 ) { }", "b 6 1 2 3 4", {}},
        {"overlay( cam ) { }", "", {kMalformed, kOverlay}},
        {"overlay( cam, 5 ) { capture( 1, 2, 3 ) }",
         "",
         {kMalformed, "Error (SOverlay): Failed to extract 'bottom'.\n", kOverlay}},
        {"overlay( cam, 5 )",
         " 0 0 0 0 0",
         {"Error (Script): Malformed script, missing '{' character.\n"}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(kHead + c.statements);
        EXPECT_EQ(r.loaded, !c.overlay.empty()) << c.statements;
        EXPECT_EQ(r.log, c.log) << c.statements;
        if (r.loaded) {
            const CSOverlay& o = r.script->overlay;
            std::ostringstream seen;
            seen << o.inputId << ' ' << o.loopFrames << ' ' << o.captureLeft << ' ' << o.captureTop
                 << ' ' << o.captureRight << ' ' << o.captureBottom;
            EXPECT_EQ(seen.str(), c.overlay) << c.statements;
        }
    }
}

}  // namespace
}  // namespace zorvo
