// Reading a script (each statement's values, defaults and failure lines), sorting its
// markers, resolving its groups and validating the whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Interpolation.h"
#include "script/Script.h"
#include "support/TestPaths.h"

namespace zorvo::test {
namespace {

using Texts = std::vector<std::string>;

const std::string kMalformed = "Error (Script): Malformed script.\n";
const std::string kMarkers = "Error (Script): Failed to parse 'markers'.\n";
const std::string kHead = "output( a, 1, 2 ) input( cam, f ) { } group( all ) { cam }\n";

// A script written to a file, loaded (and optionally validated) with every posted text kept.
// The log keeps the described lines; the line naming the failed statement's or marker's place
// goes to `place`. Paths read as written: the script's folder, which Load puts before relative
// paths, is taken off again.
struct LoadedScript {
    bool loaded = false;
    bool validated = false;
    std::vector<std::string> log;
    std::string place;
    std::unique_ptr<CScript> script;
};

LoadedScript LoadScript(const std::string& text, bool validate = false) {
    TempDir dir;
    const std::string path = dir.File("script.txt");
    WriteTextFile(path, text);
    LogCollector collector;
    LoadedScript result;
    result.script = std::make_unique<CScript>(path);
    result.loaded = result.script->Load();
    if (result.loaded && validate) {
        result.validated = result.script->Validate();
    }
    result.log = collector.Texts();
    if (!result.log.empty() && (result.log.back().rfind("Error (Script): at line ", 0) == 0 ||
                                result.log.back().rfind("Error (Script): marker #", 0) == 0)) {
        result.place = result.log.back();
        result.log.pop_back();
    }
    const std::string folder = dir.Path().string() + "/";
    const auto written = [&folder](std::string& path) {
        if (path.rfind(folder, 0) == 0) {
            path.erase(0, folder.size());
        }
    };
    written(result.script->outputPath);
    written(result.script->wavePath);
    return result;
}

// The smallest valid script, with room for extra statements.
std::string ValidScript(const std::string& extra) {
    return "output( out.avi, 720, 576 )\n"
           "input( cam1, cam1.mov ) { }\n"
           "input( cam2, cam2.mov ) { }\n"
           "marker( 1, 1fullscreen ) { tempo( 120 ); signature( 4, 4 ); display( cam1 ); }\n"
           "marker( 3 ) { }\n" +
           extra;
}

TEST(Statements, OutputRangeAndDebug) {
    struct Case {
        std::string text;
        // path|width|height|wave|interpolation flags|range start, end, debug; empty when the
        // load fails
        std::string values;
        Texts log;
    };
    const std::string kOutput = "Error (Script): Failed to parse 'output'.\n";
    const std::string kA = "output( a.avi, 1, 2 )\n";
    const std::vector<Case> cases = {
        {"output( C:\\clips\\song.avi, 720, 576, bicubic, C:\\clips\\song.wav )",
         "C:\\clips\\song.avi|720|576|C:\\clips\\song.wav|4|0 0 0",
         {}},
        {"output(\"my video.avi\",1,2,spline,\"s.wav\")", "my video.avi|1|2|s.wav|1024|0 0 0", {}},
        {"output( a.avi, wide, 480, Bicubic )",
         "a.avi|0|480||1|0 0 0",
         {"Warning (Script): Unknown interpolation type '", "Bicubic",
          "'. defaulting on 'fast_bilinear'\n", "Warning (Script): Did you mean 'bicubic'?\n"}},
        {kA + "output( b.avi, 3, 4 )",
         "a.avi|1|2||1|0 0 0",
         {"Warning (Script): Statement '", "output",
          "' is not read: only the first one in the script counts.\n",
          "Warning (Script): at line 2, column 1: 'output( b.avi, 3, 4 )'.\n"}},
        {"output( a.avi, 640 )", "", {kMalformed, kOutput}},
        {"// output( a.avi, 1, 2 )\n", "", {kOutput}},
        {"", "", {kOutput}},
        {kA + "range(1,10)", "a.avi|1|2||1|1 10 0", {}},
        {kA + "range( 5 )", "", {kMalformed, "Error (Script): Failed to parse 'range'.\n"}},
        {kA + "range",
         "a.avi|1|2||1|0 0 0",
         {"Error (Script): Malformed script, missing '(' character.\n"}},
        // A NUL byte ends the text: the statement after it is never seen.
        {kA + std::string("\0range( 1, 2 )", 14), "a.avi|1|2||1|0 0 0", {}},
        {kA + "debug( false )", "a.avi|1|2||1|0 0 1", {}},
        // "range" inside a file name is not a statement.
        {kA + "input( c, orange.avi ) { } debug( 7, 9 )", "a.avi|1|2||1|0 0 1", {}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(c.text);
        EXPECT_EQ(r.log, c.log) << c.text;
        EXPECT_EQ(r.loaded, !c.values.empty()) << c.text;
        if (r.loaded) {
            const CScript& s = *r.script;
            std::ostringstream seen;
            seen << s.outputPath << '|' << s.width << '|' << s.height << '|' << s.wavePath << '|'
                 << s.interpolation << '|' << s.rangeStart << ' ' << s.rangeEnd << ' ' << s.debug;
            EXPECT_EQ(seen.str(), c.values);
        }
    }
}

TEST(ScriptFile, RefusedFiles) {
    TempDir dir;
    const std::string big = dir.File("big.zorvo");
    ASSERT_TRUE(WriteTextFile(big, ""));
    std::filesystem::resize_file(big, CScript::kMaxScriptBytes + 1);  // sparse: costs no disk
    const std::string open = "Error (Script): Failed to open script file.\n";
    const std::vector<std::pair<std::string, Texts>> refused = {
        {"/nonexistent/dir/script.txt",
         {open,
          "Error (Script): file '/nonexistent/dir/script.txt': No such file or "
          "directory.\n"}},
        {dir.File(""), {open, "Error (Script): '" + dir.File("") + "' is not a regular file.\n"}},
        {big, {open, "Error (Script): '" + big + "' is larger than 16 MiB.\n"}},
    };
    for (const auto& [path, lines] : refused) {
        LogCollector log;
        CScript script(path);
        EXPECT_FALSE(script.Load()) << path;
        EXPECT_EQ(log.Texts(), lines) << path;
    }
}

// A UTF-8 byte-order mark before the first statement, whatever its kind, reads as nothing: the
// document and the lines are those of the script without it.
TEST(ScriptFile, ByteOrderMarkBeforeEachStatementKind) {
    const std::string output = "output( a.avi, 64, 48, point, s.wav )\n";
    const std::string inputs = "input( cam1, a.mov ) { } input( cam2, b.mov ) { }\n";
    const std::string marker = "marker( 1, 1fullscreen ) { tempo( 90 ) display( cam1 ) }\n";
    const std::vector<std::string> scripts = {
        output + inputs,
        inputs + output,
        "group( all ) { cam1, cam2 }\n" + output + inputs,
        marker + output + inputs,
        "overlay( cam2, 5 ) { }\n" + output + inputs,
        "range( 1, 2 )\n" + output + inputs + marker + "marker( 3 ) { }\n",
        "debug( true )\n" + output + inputs,
        "// a comment\n" + output + inputs,
        "Output( a.avi, 1, 2 )\n" + output + inputs,  // a warning's place, too
    };
    const auto seen = [](const LoadedScript& r) {
        std::ostringstream text;
        text << r.loaded << ' ';
        if (r.loaded) {
            const CScript& s = *r.script;
            text << s.outputPath << ' ' << s.width << 'x' << s.height << ' ' << s.interpolation
                 << ' ' << s.wavePath << ' ' << s.inputs.size() << ' ' << s.groups.size() << ' '
                 << s.markers.size() << ' ' << s.overlay.inputId << ' ' << s.rangeStart << '-'
                 << s.rangeEnd << ' ' << s.debug;
        }
        for (const std::string& line : r.log) {
            text << '|' << line;
        }
        return text.str() + r.place;
    };
    for (const std::string& script : scripts) {
        const LoadedScript plain = LoadScript(script);
        EXPECT_TRUE(plain.loaded) << script;
        EXPECT_EQ(seen(LoadScript(std::string(kUtf8Bom) + script)), seen(plain)) << script;
    }
}

// After a failed step's lines comes the place of the statement that failed.
TEST(ScriptFile, FailuresNameTheStatementsPlace) {
    const std::string head = "output( a, 1, 2 )\ninput( c, f ) { }\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\n\n  output( a, 64 )", "at line 3, column 3: 'output( a, 64 )'"},
        {"output( a, 1, 2 )\n\tinput( c, f, nowhere ) { }",
         "at line 2, column 2: 'input( c, f, nowhere ) { }'"},
        {"output( a, 1, 2 )\ninput( c, f ) {\n  contrast( 1 )\n  brightness( ) }",
         "at line 4, column 3: 'brightness( ) }'"},
        {head + "// a comment's line counts\nmarker( 1, nolayout ) { }",
         "at line 4, column 1: 'marker( 1, nolayout ) { }'"},
        {head + "marker( 1 ) {\n  tempo( 90 )\n  display( c, sometimes ) }",
         "at line 5, column 3: 'display( c, sometimes ) }'"},
        // The maps are built after parsing: the marker that names an unknown id.
        {head + "marker( 1 ) { }\nmarker( 2 ) { resize( nobody, 50 ) }",
         "at line 4, column 1: 'marker( 2 ) { resize( nobody, 50 ) }'"},
    };
    for (const auto& [text, place] : cases) {
        const auto r = LoadScript(text);
        EXPECT_FALSE(r.loaded) << text;
        EXPECT_EQ(r.place, "Error (Script): " + place + ".\n") << text;
    }
}

TEST(Input, ArgumentsAndAdjustments) {
    auto r = LoadScript(
        "output( a, 1, 2 ) input( plain\t, f.mov ) { } input( cam, f.mov, bottom_left, 1200, -300 "
        ") "
        "{\n  saturation( 0.5 ); color_balance( 0.1, -0.2, 0.3 ); brightness( 0.1 );\n"
        "  contrast( -1.5 ); brightness( 0.2 ); noise_reduction( 7.9 ); vertical_flip( false );\n"
        "  color_balance( 0.25, -0.5, 1 ); rotate( 270 ); deinterlace( off ); fill( hold );\n}");
    ASSERT_TRUE(r.loaded);
    const CSInput& plain = *r.script->inputs.at("plain");
    EXPECT_EQ(plain.focus, InputFocus::Center);
    EXPECT_EQ(plain.videoSyncMs + plain.timelineSyncMs, 0);
    EXPECT_EQ(plain.settings.verticalFlip, FlipMode::Auto);
    EXPECT_EQ(plain.settings.rotation, -1);  // the file's own
    EXPECT_EQ(plain.settings.deinterlace, DeinterlaceMode::Auto);
    EXPECT_EQ(plain.settings.fill, FillMode::None);
    const CSInput& input = *r.script->inputs.at("cam");
    EXPECT_EQ(input.focus, InputFocus::BottomLeft);
    EXPECT_EQ(input.videoSyncMs, 1200);
    EXPECT_EQ(input.timelineSyncMs, -300);
    // The last statement of each kind decides; colour balances do not add up.
    const AdjustmentSettings& s = input.settings;
    EXPECT_EQ(s.colorBalanceCR, 0.25);
    EXPECT_EQ(s.colorBalanceMG, -0.5);
    EXPECT_EQ(s.colorBalanceYB, 1.0);
    EXPECT_EQ(s.brightness, 0.2);
    EXPECT_EQ(s.contrast, -1.5);
    EXPECT_EQ(s.saturation, 0.5);
    EXPECT_EQ(s.noiseReduction, 7);
    EXPECT_EQ(s.verticalFlip, FlipMode::False);
    EXPECT_EQ(s.rotation, 270);
    EXPECT_EQ(s.deinterlace, DeinterlaceMode::Off);
    EXPECT_EQ(s.fill, FillMode::Hold);
    auto flip = LoadScript("output( a, 1, 2 ) input( cam, f ) { vertical_flip( true ) }");
    EXPECT_EQ(flip.script->inputs.at("cam")->settings.verticalFlip, FlipMode::True);
}

// The focus points themselves show in the capture's crop window; two thirds are taken as
// (2 w) / 3, not 2 (w / 3), which that picture size cannot tell apart.
TEST(FocusPoint, TwoThirdsRoundOnce) {
    EXPECT_EQ(FocusPoint(641, 481, InputFocus::BottomRight), (FocusXY{427, 320}));
}

TEST(Marker, BodyValues) {
    auto r =
        LoadScript(kHead +
                   "marker( 1, 1left_1right ) { separator( 4 ); speed( cam\t, 0.5 );"
                   " tempo( 120 ); tempo( 60 ); signature( 6, 8 ); effect( strobe, each_beat );"
                   " display( cam, every_half_beat ); display( all\n); resize( cam, 50 );"
                   " resize( \"\tcam\", 80 ); effect( fade_in ); separator( 9 ) }\n"
                   "marker( 7, 2top_2bottom ) { effect( fade_out, ignored ) }");
    ASSERT_TRUE(r.loaded);  // the statements not read only warn (Warnings below)
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

TEST(Statements, FailuresPostTheirChain) {
    const std::string inputs = "Error (Script): Failed to parse 'inputs'.\n";
    const std::string overlay = "Error (Script): Failed to parse 'overlay'.\n";
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"input( cam2 ) { }", {kMalformed, inputs}},
        {"input( cam2, f,\ncenter\n) { }",
         {"Error (SInput): Unknown input focus type '", "center\n", "'.\n",
          "Error (SInput): Did you mean 'center'?\n", inputs}},
        {"input( cam2, f ) { color_balance( 0.1, 0.2 ); }",
         {kMalformed, "Error (SInput): Failed to get color balance YB.\n", inputs}},
        {"input( cam2, f ) { noise_reduction(); }",
         {kMalformed, "Error (SInput): Failed to get DNR.\n", inputs}},
        {"input( cam2, f ) { vertical_flip( TRUE ); }",
         {"Error (SIAdjustment): Unknown flip type '", "TRUE", "'.\n",
          "Error (SIAdjustment): Did you mean 'true'?\n", inputs}},
        {"input( cam2, f ) { rotate( -90 ); }",
         {"Error (SIAdjustment): Unknown rotation '", "-90", "'.\n",
          "Error (SIAdjustment): Did you mean '90'?\n", inputs}},
        {"input( cam2, f ) { deinterlace( yes ); }",
         {"Error (SIAdjustment): Unknown deinterlace mode '", "yes", "'.\n",
          "Error (SIAdjustment): Known names: auto, on, off.\n", inputs}},
        {"input( cam2, f ) { fill( blak ); }",
         {"Error (SIAdjustment): Unknown fill mode '", "blak", "'.\n",
          "Error (SIAdjustment): Did you mean 'black'?\n", inputs}},
        {"marker( ) { }", {kMalformed, kMarkers}},
        {"marker( 1, fullscreen ) { }",
         {"Error (Layout): Unknown layout type '", "fullscreen", "'.\n",
          "Error (Layout): Did you mean '1fullscreen'?\n", kMarkers}},
        {"marker( 1 ) { signature( 4 ) }",
         {kMalformed, "Error (SMarker): Failed to extract beat unit.\n", kMarkers}},
        {"marker( 1 ) { effect( sparkle ) }",
         {"Error (SMEffect): Unknown effect type '", "sparkle", "'.\n",
          "Error (SMEffect): Known names: none, fade_in, fade_out, strobe.\n", kMarkers}},
        {"marker( 1 ) { effect( strobe ) }",
         {kMalformed, "Error (SMarker): Failed to extract strobe effect cycle.\n", kMarkers}},
        {"marker( 1 ) { display( cam, Each_beat ) }",
         {"Error (SMDisplay): Unknown display cycle type '", "Each_beat", "'.\n",
          "Error (SMDisplay): Did you mean 'each_beat'?\n", kMarkers}},
        {"marker( 1 ) { resize( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract resize size.\n", kMarkers}},
        {"marker( 1 ) { speed( cam ) }",
         {kMalformed, "Error (SMarker): Failed to extract speed value.\n", kMarkers}},
        // The first failure in the fixed order wins, whatever the text order.
        {"marker( 1 ) { separator() tempo() }",
         {kMalformed, "Error (SMarker): Failed to extract tempo.\n", kMarkers}},
        {"overlay( cam ) { }", {kMalformed, overlay}},
        {"overlay( cam, 5 ) { capture( 1, 2, 3 ) }",
         {kMalformed, "Error (SOverlay): Failed to extract 'bottom'.\n", overlay}},
    };
    for (const auto& [statement, log] : cases) {
        auto r = LoadScript(kHead + "marker( 2, 1fullscreen ) { display( cam ) }\n" + statement);
        EXPECT_FALSE(r.loaded) << statement;
        EXPECT_EQ(r.log, log) << statement;
        // The inputs read before the failure stay in the document.
        EXPECT_EQ(r.script->inputs.count("cam"), 1u);
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
        std::string overlay;  // id frames left top right bottom
        Texts log;
    };
    const std::vector<Case> cases = {
        {"overlay( cam\n, 50 ) { }", "cam 50 0 0 0 0", {}},  // ids are trimmed
        {"overlay( a, 5 ) { capture( 1, 2, 3, 4 ) } overlay( b, 6 ) { }", "b 6 1 2 3 4", {}},
        {"overlay( cam, 5 )",
         " 0 0 0 0 0",
         {"Error (Script): Malformed script, missing '{' character.\n"}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(kHead + c.statements);
        ASSERT_TRUE(r.loaded) << c.statements;
        EXPECT_EQ(r.log, c.log) << c.statements;
        const CSOverlay& o = r.script->overlay;
        std::ostringstream seen;
        seen << o.inputId << ' ' << o.loopFrames << ' ' << o.captureLeft << ' ' << o.captureTop
             << ' ' << o.captureRight << ' ' << o.captureBottom;
        EXPECT_EQ(seen.str(), c.overlay) << c.statements;
    }
}

std::vector<std::string> Ids(const InputList& list) {
    std::vector<std::string> ids;
    for (const CSInput* input : list) {
        ids.push_back(input->id);
    }
    return ids;
}

// `levels` groups, each holding the next twice; the last holds `leaf` twice.
std::string Doubling(int levels, const std::string& leaf) {
    std::string text;
    for (int i = 1; i <= levels; ++i) {
        const std::string next = i == levels ? leaf : "g" + std::to_string(i + 1);
        text += "group( g" + std::to_string(i) + " ) { " + next + ", " + next + " }\n";
    }
    return text;
}

TEST(Groups, ResolveDepthFirstInMemberOrderAndNameTheFailingMember) {
    auto r =
        LoadScript(ValidScript("group( all ) { cam1, cam2 }\n"
                               "group( both ) { all, cam1 }\n"
                               "group( \"q g\" ) { \"cam2\" both }\n"
                               "group( cam1 ) { cam2 }\n"  // an input id wins over a group id
                               "group( lines\n) { cam1\ncam2\n}\n"
                               "group( inner ) { cam1, cam9 }\n"
                               "group( outer ) { cam2, inner }\n"
                               "group( self ) { cam1, self }\n"
                               "group( a ) { b }\ngroup( b ) { cam2, a }\n"));
    ASSERT_TRUE(r.loaded);
    const std::string kFailed = "Error (Script): Failed to build input list: ";
    struct Case {
        std::string id;
        bool ok;
        std::vector<std::string> inputs;  // appended, on a failure too
        Texts log;
    };
    const std::vector<Case> cases = {
        {"all", true, {"cam1", "cam2"}, {}},
        {"both", true, {"cam1", "cam2", "cam1"}, {}},
        {"q g", true, {"cam2", "cam1", "cam2", "cam1"}, {}},
        {"cam1", true, {"cam1"}, {}},
        {"Cam1", false, {}, {}},
        {"nothing", false, {}, {}},
        {"outer",
         false,
         {"cam2", "cam1"},
         {kFailed + "Unknown ID 'cam9'.\n", kFailed + "Unknown ID 'inner'.\n"}},
        {"self", false, {"cam1"}, {kFailed + "group 'self' contains itself.\n"}},
        {"a", false, {"cam2"}, {kFailed + "group 'a' contains itself.\n"}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        InputList list;
        EXPECT_EQ(r.script->BuildInputList(c.id, list), c.ok) << c.id;
        EXPECT_EQ(Ids(list), c.inputs) << c.id;
        EXPECT_EQ(log.Texts(), c.log) << c.id;
    }
    // Members written one per line without separators read as one member, without the line
    // break around it.
    EXPECT_EQ(r.script->groups.at("lines")->members, (std::vector<std::string>{"cam1\ncam2"}));
}

TEST(Validate, ChecksInOrderWithTheirLines) {
    const std::string out = "output( a, 720, 576 )\n";
    const std::string in = "// the camera, on a line a comment ends\ninput( cam1, f ) { }\n";
    const std::string m1 =
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam1 ) }\n";
    const std::string end = "marker( 5 ) { }\n";
    // The script with a first marker of `body`, or with a marker of `body` at measure 3.
    const auto first = [&](const std::string& body) {
        return out + in + "marker( 1, 1fullscreen ) { " + body + " }\n" + end;
    };
    const auto marker = [&](const std::string& body) {
        return out + in + m1 + "marker( 3, 1fullscreen ) { " + body + " }\n" + end;
    };
    const std::string kE = "Error (Script): Failed to validate script: ";
    const std::string kM = "Error (SMarker): Failed to validate script: ";
    // A marker's own line is followed by kMarkerFailed; the table leaves that out. A marker's
    // failure ends with its place: as given, or any.
    const std::string kMarkerFailed = kE + "'marker' validation failed.\n";
    struct Case {
        std::string name;
        std::string script;
        Texts log;
        std::string place = "";
    };
    const std::vector<Case> cases = {
        {"no input", out + m1 + end, {kE + "'input' list is empty.\n"}},
        {"one marker", out + in + m1, {kE + "'markers' list must have at least two elements.\n"}},
        {"first not 1",
         out + in + "marker( 2, 1fullscreen ) { display( cam1 ) }\n" + end,
         {kE + "first marker must be at measure '1'.\n"}},
        // Sorted before the first measure is checked.
        {"sorted first", out + in + end + m1, {}},
        {"empty group",
         marker("display( cam1 )") + "group( g ) { }",
         {"Error (SGroup): Failed to validate script: list of input or group ID references must "
          "have at least one element.\n",
          kE + "'group' validation failed.\n"}},
        {"group cycle",
         marker("display( cam1 )") + "group( g ) { cam1, h } group( h ) { g }",
         {"Error (Script): Failed to build input list: group 'g' contains itself.\n",
          kE + "'group' ('g') contains itself.\n"}},
        {"tempo 0 on 1",
         first("signature( 4, 4 ) display( cam1 )"),
         {kM + "marker tempo can't be 0 if this is the marker #1.\n"}},
        {"no display",
         first("tempo( 90 ) signature( 4, 4 )"),
         {kM + "display list can only be empty if it's the last element.\n"},
         "marker #1 at line 4, column 1: 'marker( 1, 1fullscreen ) { tempo( 90 ) s'"},
        {"terminal content",
         out + in + m1 + "marker( 5 ) { tempo( 100 ) }",
         {kM + "the content of the last marker element must be empty.\n",
          "Error (SMarker): the last marker must be an empty terminal marker such as 'marker( 9 ) "
          "{ }'.\n"}},
        {"terminal may carry unused settings",
         out + in + m1 + "marker( 5 ) { effect( fade_in ) separator( 2 ) speed( cam1, 3 ) }",
         {}},
        {"terminal layout",
         out + in + m1 + "marker( 5, 1fullscreen ) { }",
         {kM + "layout must be 'none' on a the terminal marker.\n"}},
        {"unknown display id",
         marker("display( cam7 )"),
         {kE + "'marker' (#3) contains a reference to unknown id 'cam7'.\n"},
         "marker #3 at line 5, column 1: 'marker( 3, 1fullscreen ) { display( cam7'"},
        {"overlay loop 0",
         marker("display( cam1 )") + "overlay( cam1, 0 ) { }",
         {"Error (SOverlay): Failed to validate script: overlay was set but loop count is "
          "incorrect.\n",
          kE + "'overlay' validation failed.\n"}},
        {"width 0",
         "output( a, 0, 576 )\n" + in + m1 + end,
         {kE + "'output' size must be between 1 and 16384 pixels.\n"}},
        {"largest size", "output( a, 16384, 1 )\n" + in + m1 + end, {}},
        {"beat unit 0 later",
         marker("signature( 3, 0 ) display( cam1 )"),
         {kM + "tempo and time signature must be positive on marker #3.\n"}},
        {"beat count 0 keeps the signature", marker("signature( 0, 0 ) display( cam1 )"), {}},
        {"speed 0",
         marker("speed( cam1, 0 ) display( cam1 )"),
         {kM + "speed of 'cam1' must be positive on marker #3.\n"}},
        {"block shorter than a frame",
         first("tempo( 120 ) signature( 6, 8 ) display( cam1, every_eighth_beat )"),
         {kM + "blocks of marker #1 last 31.250 ms, less than one frame (40 ms).\n"}},
        {"span of length 0",
         // A second marker at measure 1.
         out + in + m1 +
             "marker( 1, 1fullscreen ) { tempo( 60 ) signature( 4, 4 ) display( cam1, "
             "every_eighth_beat ) }\n" +
             end,
         {}},
        {"group of too many inputs",
         marker("display( cam1 )") + Doubling(17, "cam1"),
         {"Error (Script): Failed to build input list: group 'g1' stands for too many inputs "
          "(more than 65536, or more than 1048576 in all groups).\n",
          kE + "'group' ('g1') stands for too many inputs.\n"}},
        {"largest group", marker("display( cam1 )") + Doubling(16, "cam1"), {}},
        {"span wraps",
         out + in + m1 + "marker( 17897 ) { }",
         {kM + "tempo, time signature and length of marker #1 are too large to be timed.\n"}},
        {"longest span", out + in + m1 + "marker( 17896 ) { }", {}},
        {"separator wider than the output",
         marker("separator( 721 ) display( cam1 )"),
         {kM + "separator size 721 on marker #3 is larger than the output (720 pixels).\n"}},
        {"separator as wide as the output", marker("separator( 720 ) display( cam1 )"), {}},
        {"speed too fast to count",
         marker("speed( cam1, 1e8 ) display( cam1 )"),
         {kM + "speed 1e+08 of 'cam1' on marker #3 is out of range.\n"}},
        {"speed 16", marker("speed( cam1, 16 ) display( cam1 )"), {}},
        {"sync beyond 32 bits",
         out + "input( cam1, f, center, 2147483647, -1 ) { }\n" + m1 + end,
         {"Error (SInput): Failed to validate script: sync of input 'cam1' puts its video "
          "outside 32-bit milliseconds.\n",
          kE + "'input' validation failed.\n"}},
        {"range that ends where it starts",
         marker("display( cam1 )") + "range( 1, 1 )",
         {kE + "'range' from measure 1 to 1 selects no frame.\n"}},
        {"range after the last span",
         marker("display( cam1 )") + "range( 4, 9 )",
         {kE + "'range' from measure 4 to 9 selects no frame.\n"}},
        {"range of the last span", marker("display( cam1 )") + "range( 3, 9 )", {}},
        {"largest negative sync",
         out + "input( cam1, f, center, -2147483647, 1 ) { }\n" + m1 + end,
         {}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(c.script, true);
        ASSERT_TRUE(r.loaded) << c.name;
        EXPECT_EQ(r.validated, c.log.empty()) << c.name;
        Texts log = c.log;
        if (!log.empty() && log[0].rfind(kM, 0) == 0) {
            log.push_back(kMarkerFailed);
        }
        EXPECT_EQ(r.log, log) << c.name;
        const bool marker =
            !log.empty() && (log[0].rfind(kM, 0) == 0 || log[0].rfind(kE + "'marker' (#", 0) == 0);
        EXPECT_EQ(r.place.rfind("Error (Script): marker #", 0) == 0, marker) << c.name;
        if (!c.place.empty()) {
            EXPECT_EQ(r.place, "Error (Script): " + c.place + ".\n") << c.name;
        }
    }
}

// Text that reading skips in silence draws a warning and its place (shown by its first 40
// characters), in text order; a script without any (every other test here) draws none.
TEST(Warnings, TextReadAsNoStatement) {
    const std::string w = "Warning (Script): ";
    const auto warn = [&](const std::string& head, const std::string& word, const std::string& tail,
                          const std::string& place) {
        return Texts{w + head + "'", word, "'" + tail + "\n", w + "at line 6, " + place + ".\n"};
    };
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"Marker( 2, 1fullscreen ) { effect( strobe, each_beat ) display( cam1 ) }",
         warn("Unknown statement ", "Marker", ", did you mean 'marker'?",
              "column 1: 'Marker( 2, 1fullscreen ) { effect( strob'")},
        {"input( cam3, c.mov ) { brightness( 0,1 ) }",
         warn("Too many arguments for ", "brightness",
              ": it takes 1, found 2; decimals take a point, not a comma.",
              "column 24: 'brightness( 0,1 ) }'")},
        {"input( cam3, c.mov )\ninput( cam4, d.mov ) { }",
         warn("Statement ", "input",
              " has no '{ }' of its own: the text up to the next '{' is not read.",
              "column 1: 'input( cam3, c.mov )'")},
        {"marker( 2, 1fullscreen ) { display( cam1 ) contrast( 1 ) }",
         warn("Statement ", "contrast", " is not read here: it belongs in an input's body.",
              "column 44: 'contrast( 1 ) }'")},
        {"range( 1, 3 ) frob( 1 )",
         warn("Unknown statement ", "frob",
              "; statements here: output, input, group, marker, overlay, range, debug, song_start.",
              "column 15: 'frob( 1 )'")},
    };
    for (const auto& [extra, log] : cases) {
        const auto r = LoadScript(ValidScript(extra));
        EXPECT_TRUE(r.loaded) << extra;
        EXPECT_EQ(r.log, log) << extra;
    }
}

}  // namespace
}  // namespace zorvo::test
