#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptFixture.h"
#include "script/Interpolation.h"

namespace zorvo {
namespace {

using test::LoadScript;
using Texts = std::vector<std::string>;

const std::string kMalformed = "Error (Script): Malformed script.\n";

TEST(Output, ValuesDefaultsAndFailures) {
    struct Case {
        std::string statement;
        std::string values;  // path|width|height|wave|flags; empty when the load fails
        Texts log;
    };
    const std::string kOutput = "Error (Script): Failed to parse 'output'.\n";
    const std::vector<Case> cases = {
        {"output( C:\\clips\\song.avi, 720, 576, bicubic, C:\\clips\\song.wav )",
         "C:\\clips\\song.avi|720|576|C:\\clips\\song.wav|4",
         {}},
        {"output(\"my video.avi\",1,2,spline,\"s.wav\")", "my video.avi|1|2|s.wav|1024", {}},
        {"output( a.avi, wide, 480, Bicubic )",
         "a.avi|0|480||1",
         {"Warning (Script): Unknown interpolation type '", "Bicubic",
          "'. defaulting on 'fast_bilinear'\n"}},
        {"output( a.avi, 1, 2 ) output( b.avi, 3, 4 )", "a.avi|1|2||1", {}},
        {"output( a.avi, 640 )", "", {kMalformed, kOutput}},
        {"// output( a.avi, 1, 2 )\n", "", {kOutput}},
    };
    for (const Case& c : cases) {
        interpolationFlags = 77;
        auto r = LoadScript(c.statement);
        EXPECT_EQ(r.log, c.log) << c.statement;
        EXPECT_EQ(r.loaded, !c.values.empty()) << c.statement;
        if (r.loaded) {
            const CScript& s = *r.script;
            EXPECT_EQ(s.outputPath + "|" + std::to_string(s.width) + "|" +
                          std::to_string(s.height) + "|" + s.wavePath + "|" +
                          std::to_string(interpolationFlags.load()),
                      c.values);
        }
    }
}

TEST(RangeAndDebug, ValuesAndFailures) {
    struct Case {
        std::string extra;
        std::string values;  // start end debug; empty when the load fails
        Texts log;
    };
    const std::vector<Case> cases = {
        {"range(1,10)", "1 10 0", {}},
        {"range( 5 )", "", {kMalformed, "Error (Script): Failed to parse 'range'.\n"}},
        {"range", "0 0 0", {"Error (Script): Malformed script, missing '(' character.\n"}},
        {"debug( false )", "0 0 1", {}},
        // "range" inside a file name is found as the statement.
        {"input( c, orange.avi ) { } debug( 7, 9 )", "7 9 1", {}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript("output( a.avi, 1, 2 )\n" + c.extra);
        EXPECT_EQ(r.log, c.log) << c.extra;
        EXPECT_EQ(r.loaded, !c.values.empty()) << c.extra;
        if (r.loaded) {
            const CScript& s = *r.script;
            EXPECT_EQ(std::to_string(s.rangeStart) + " " + std::to_string(s.rangeEnd) + " " +
                          std::to_string(s.debug),
                      c.values);
        }
    }
}

TEST(ScriptFile, OpenReadAndText) {
    test::TempDir dir;
    const std::string big = dir.File("big.zorvo");
    ASSERT_TRUE(test::WriteTextFile(big, ""));
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

    // A NUL byte ends the text: the statement after it is never seen.
    auto r = LoadScript(std::string("output( a.avi, 1, 2 )\0range( 1, 2 )", 35));
    EXPECT_TRUE(r.loaded);
    EXPECT_EQ(r.script->rangeStart, 0);

    auto empty = LoadScript("");
    EXPECT_FALSE(empty.loaded);
    EXPECT_EQ(empty.log, Texts{"Error (Script): Failed to parse 'output'.\n"});
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
        {head + "marker( 1, nolayout ) { }", "at line 3, column 1: 'marker( 1, nolayout ) { }'"},
        {head + "marker( 1 ) {\n  tempo( 90 )\n  display( c, sometimes ) }",
         "at line 5, column 3: 'display( c, sometimes ) }'"},
        // The maps are built after parsing: the marker that names an unknown id.
        {head + "marker( 1 ) { }\nmarker( 2 ) { resize( nobody, 50 ) }",
         "at line 4, column 1: 'marker( 2 ) { resize( nobody, 50 ) }'"},
        // A long statement is shown by its beginning.
        {"output( a_very_long_name_for_an_output_file.avi, 1 )",
         "at line 1, column 1: 'output( a_very_long_name_for_an_output_f'"},
    };
    for (const auto& [text, place] : cases) {
        const auto r = LoadScript(text);
        EXPECT_FALSE(r.loaded) << text;
        EXPECT_EQ(r.place, "Error (Script): " + place + ".\n") << text;
    }
}

TEST(Input, ArgumentsAndAdjustments) {
    auto r = LoadScript(
        "output( a, 1, 2 ) input( plain, f.mov ) { } input( cam, f.mov, bottom_left, 1200, -300 ) "
        "{\n  saturation( 0.5 ); color_balance( 0.1, -0.2, 0.3 ); brightness( 0.1 );\n"
        "  contrast( -1.5 ); brightness( 0.2 ); noise_reduction( 7.9 ); vertical_flip( false );\n"
        "  color_balance( 1, 1, 1 );\n}");
    ASSERT_TRUE(r.loaded);
    const CSInput& plain = *r.script->inputs.at("plain");
    EXPECT_EQ(plain.focus, InputFocus::Center);
    EXPECT_EQ(plain.videoSyncMs + plain.timelineSyncMs, 0);
    EXPECT_EQ(plain.settings.verticalFlip, FlipMode::Auto);
    const CSInput& input = *r.script->inputs.at("cam");
    EXPECT_EQ(input.focus, InputFocus::BottomLeft);
    EXPECT_EQ(input.videoSyncMs, 1200);
    EXPECT_EQ(input.timelineSyncMs, -300);
    EXPECT_EQ(input.adjustments.size(), 8u);
    // The last statement of each kind decides; colour balances do not add up.
    const AdjustmentSettings& s = input.settings;
    EXPECT_EQ(s.colorBalanceCR + s.colorBalanceMG + s.colorBalanceYB, 3.0);
    EXPECT_EQ(s.brightness, 0.2);
    EXPECT_EQ(s.contrast, -1.5);
    EXPECT_EQ(s.saturation, 0.5);
    EXPECT_EQ(s.noiseReduction, 7);
    EXPECT_EQ(s.verticalFlip, FlipMode::False);
    auto flip = LoadScript("output( a, 1, 2 ) input( cam, f ) { vertical_flip( true ) }");
    EXPECT_EQ(flip.script->inputs.at("cam")->settings.verticalFlip, FlipMode::True);
}

TEST(Input, FailuresPostTheirChain) {
    const std::string inputs = "Error (Script): Failed to parse 'inputs'.\n";
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"input( cam ) { }", {kMalformed, inputs}},
        {"input( cam, f,\ncenter\n) { }",
         {"Error (SInput): Unknown input focus type '", "center\n", "'.\n", inputs}},
        {"input( cam, f ) { color_balance( 0.1, 0.2 ); }",
         {kMalformed, "Error (SInput): Failed to get color balance YB.\n", inputs}},
        {"input( cam, f ) { noise_reduction(); }",
         {kMalformed, "Error (SInput): Failed to get DNR.\n", inputs}},
        {"input( cam, f ) { vertical_flip( TRUE ); }",
         {"Error (SIAdjustment): Unknown flip type '", "TRUE", "'.\n", inputs}},
    };
    for (const auto& [statement, log] : cases) {
        auto r = LoadScript("output( a, 1, 2 ) input( ok, ok.mov ) { } " + statement);
        EXPECT_FALSE(r.loaded) << statement;
        EXPECT_EQ(r.log, log) << statement;
        // The inputs read before the failure stay in the document.
        EXPECT_EQ(r.script->inputs.count("ok"), 1u);
    }
}

// The focus points themselves show in the capture's crop window; two thirds are taken as
// (2 w) / 3, not 2 (w / 3), which that picture size cannot tell apart.
TEST(FocusPoint, TwoThirdsRoundOnce) {
    EXPECT_EQ(FocusPoint(641, 481, InputFocus::BottomRight), (FocusXY{427, 320}));
}

}  // namespace
}  // namespace zorvo
