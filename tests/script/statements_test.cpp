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
        bool ok;
        std::string path;
        int width, height;
        std::string wave;
        int flags;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"output( C:\\clips\\song.avi, 720, 576, bicubic, C:\\clips\\song.wav )",
         true,
         "C:\\clips\\song.avi",
         720,
         576,
         "C:\\clips\\song.wav",
         4,
         {}},
        {"output( a.avi, 640, 480)", true, "a.avi", 640, 480, "", 1, {}},
        {"output( a.avi, 640, 480, lanczos )", true, "a.avi", 640, 480, "", 512, {}},
        {"output(\"my video.avi\",1,2,spline,\"s.wav\")",
         true,
         "my video.avi",
         1,
         2,
         "s.wav",
         1024,
         {}},
        {"output( a.avi, wide, 480, Bicubic )",
         true,
         "a.avi",
         0,
         480,
         "",
         1,
         {"Warning (Script): Unknown interpolation type '", "Bicubic",
          "'. defaulting on 'fast_bilinear'\n"}},
        {"output( a.avi, 640 )",
         false,
         "",
         0,
         0,
         "",
         -1,
         {kMalformed, "Error (Script): Failed to parse 'output'.\n"}},
        {"input( a, b ) { }",
         false,
         "",
         0,
         0,
         "",
         -1,
         {"Error (Script): Failed to parse 'output'.\n"}},
        {"output( a.avi, 1, 2 ) output( b.avi, 3, 4 )", true, "a.avi", 1, 2, "", 1, {}},
        {"Output( a.avi, 1, 2 )",
         false,
         "",
         0,
         0,
         "",
         -1,
         {"Error (Script): Failed to parse 'output'.\n"}},
        {"// output( a.avi, 1, 2 )\n",
         false,
         "",
         0,
         0,
         "",
         -1,
         {"Error (Script): Failed to parse 'output'.\n"}},
    };
    for (const Case& c : cases) {
        interpolationFlags = 77;
        auto r = LoadScript(c.statement);
        EXPECT_EQ(r.log, c.log) << c.statement;
        if (!c.ok) {
            EXPECT_FALSE(r.loaded) << c.statement;
            continue;
        }
        EXPECT_TRUE(r.loaded) << c.statement;
        EXPECT_EQ(r.script->outputPath, c.path);
        EXPECT_EQ(r.script->width, c.width);
        EXPECT_EQ(r.script->height, c.height);
        EXPECT_EQ(r.script->wavePath, c.wave);
        EXPECT_EQ(interpolationFlags.load(), c.flags) << c.statement;
    }
}

TEST(Interpolation, EveryName) {
    const std::vector<std::pair<std::string, int>> names = {
        {"fast_bilinear", 1}, {"bilinear", 2},  {"bicubic", 4},   {"x", 8},
        {"point", 16},        {"area", 32},     {"bicublin", 64}, {"gauss", 128},
        {"sinc", 256},        {"lanczos", 512}, {"spline", 1024}};
    for (const auto& [name, value] : names) {
        LogCollector log;
        EXPECT_EQ(ParseInterpolation(name), value) << name;
        EXPECT_TRUE(log.Texts().empty());
    }
}

TEST(RangeAndDebug, ValuesAndFailures) {
    struct Case {
        std::string extra;
        bool ok;
        int start, end;
        bool debug;
        Texts log;
    };
    const std::string output = "output( a.avi, 1, 2 )\n";
    const std::vector<Case> cases = {
        {"", true, 0, 0, false, {}},
        {"range(1,10)", true, 1, 10, false, {}},
        {"range( 5 )",
         false,
         0,
         0,
         false,
         {kMalformed, "Error (Script): Failed to parse 'range'.\n"}},
        {"range",
         true,
         0,
         0,
         false,
         {"Error (Script): Malformed script, missing '(' character.\n"}},
        {"range( 3, 4 ) range( 5, 6 )", true, 3, 4, false, {}},
        {"debug()", true, 0, 0, true, {}},
        {"debug( false )", true, 0, 0, true, {}},
        {"debug",
         true,
         0,
         0,
         false,
         {"Error (Script): Malformed script, missing '(' character.\n"}},
        // "range" inside a file name is found as the statement.
        {"input( c, orange.avi ) { } debug( 7, 9 )", true, 7, 9, true, {}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript(output + c.extra);
        EXPECT_EQ(r.log, c.log) << c.extra;
        EXPECT_EQ(r.loaded, c.ok) << c.extra;
        if (c.ok) {
            EXPECT_EQ(r.script->rangeStart, c.start);
            EXPECT_EQ(r.script->rangeEnd, c.end);
            EXPECT_EQ(r.script->debug, c.debug);
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
        {"/dev/null", {open, "Error (Script): '/dev/null' is not a regular file.\n"}},
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
        {head + "group( g ) { }\ngroup( ) { c }", "at line 4, column 1: 'group( ) { c }'"},
        {head + "marker( 1, nolayout ) { }", "at line 3, column 1: 'marker( 1, nolayout ) { }'"},
        {head + "marker( 1 ) {\n  tempo( 90 )\n  display( c, sometimes ) }",
         "at line 5, column 3: 'display( c, sometimes ) }'"},
        {head + "overlay( c ) { }", "at line 3, column 1: 'overlay( c ) { }'"},
        {head + "range( 5 )", "at line 3, column 1: 'range( 5 )'"},
        // The maps are built after parsing: the marker that names an unknown id.
        {head + "marker( 1 ) { }\nmarker( 2 ) { resize( nobody, 50 ) }",
         "at line 4, column 1: 'marker( 2 ) { resize( nobody, 50 ) }'"},
        {head + "marker( 1 ) { speed( nobody, 2 ) }\nmarker( 2 ) { }",
         "at line 3, column 1: 'marker( 1 ) { speed( nobody, 2 ) }'"},
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

TEST(Input, ArgumentsAndDefaults) {
    struct Case {
        std::string statement;
        InputFocus focus;
        int videoSync, timelineSync;
    };
    const std::vector<Case> cases = {
        {"input( cam, f.mov ) { }", InputFocus::Center, 0, 0},
        {"input( cam, f.mov, top_right ) { }", InputFocus::TopRight, 0, 0},
        {"input( cam, f.mov, \"left\", 500 ) { }", InputFocus::Left, 500, 0},
        {"input( cam, f.mov, bottom_left, 1200, -300 ) { }", InputFocus::BottomLeft, 1200, -300},
        {"input(cam,f.mov,bottom_right,7,8){}", InputFocus::BottomRight, 7, 8},
    };
    for (const Case& c : cases) {
        auto r = LoadScript("output( a, 1, 2 ) " + c.statement);
        ASSERT_TRUE(r.loaded) << c.statement;
        EXPECT_TRUE(r.log.empty());
        const CSInput& input = *r.script->inputs.at("cam");
        EXPECT_EQ(input.file, "f.mov");
        EXPECT_EQ(input.focus, c.focus) << c.statement;
        EXPECT_EQ(input.videoSyncMs, c.videoSync);
        EXPECT_EQ(input.timelineSyncMs, c.timelineSync);
        EXPECT_TRUE(input.adjustments.empty());
        EXPECT_EQ(input.settings.saturation, 1.0);
        EXPECT_EQ(input.settings.noiseReduction, 0);
        EXPECT_EQ(input.settings.verticalFlip, FlipMode::Auto);
        EXPECT_FALSE(input.settings.lut);
    }
}

TEST(Input, AdjustmentBody) {
    auto r = LoadScript(
        "output( a, 1, 2 ) input( cam, f.mov ) {\n"
        "  saturation( 0.5 ); color_balance( 0.1, -0.2, 0.3 ); brightness( 0.1 );\n"
        "  contrast( -1.5 ); brightness( 0.2 ); noise_reduction( 7.9 ); vertical_flip( false );\n"
        "  color_balance( 1, 1, 1 );\n"
        "}");
    ASSERT_TRUE(r.loaded);
    const CSInput& input = *r.script->inputs.at("cam");
    // Grouped by kind in a fixed order, text order within a kind.
    ASSERT_EQ(input.adjustments.size(), 8u);
    EXPECT_NE(dynamic_cast<CSIAColorBalance*>(input.adjustments[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIAColorBalance*>(input.adjustments[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIABrightness*>(input.adjustments[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIABrightness*>(input.adjustments[3].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIAContrast*>(input.adjustments[4].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIASaturation*>(input.adjustments[5].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIADNR*>(input.adjustments[6].get()), nullptr);
    EXPECT_NE(dynamic_cast<CSIAVerticalFlip*>(input.adjustments[7].get()), nullptr);
    // The last statement of each kind decides; colour balances do not add up.
    const AdjustmentSettings& s = input.settings;
    EXPECT_EQ(s.colorBalanceCR, 1.0);
    EXPECT_EQ(s.colorBalanceMG, 1.0);
    EXPECT_EQ(s.colorBalanceYB, 1.0);
    EXPECT_EQ(s.brightness, 0.2);
    EXPECT_EQ(s.contrast, -1.5);
    EXPECT_EQ(s.saturation, 0.5);
    EXPECT_EQ(s.noiseReduction, 7);
    EXPECT_EQ(s.verticalFlip, FlipMode::False);
}

TEST(Input, FailuresPostTheirChain) {
    const std::string inputs = "Error (Script): Failed to parse 'inputs'.\n";
    struct Case {
        std::string statement;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"input( cam ) { }", {kMalformed, inputs}},
        {"input( cam, f, Left ) { }",
         {"Error (SInput): Unknown input focus type '", "Left", "'.\n", inputs}},
        {"input( cam, f,\ncenter\n) { }",
         {"Error (SInput): Unknown input focus type '", "center\n", "'.\n", inputs}},
        {"input( cam, f ) { color_balance( 0.1, 0.2 ); }",
         {kMalformed, "Error (SInput): Failed to get color balance YB.\n", inputs}},
        {"input( cam, f ) { color_balance( 0.1 ); }",
         {kMalformed, "Error (SInput): Failed to get color balance MG.\n", inputs}},
        {"input( cam, f ) { color_balance(); }",
         {kMalformed, "Error (SInput): Failed to get color balance CR.\n", inputs}},
        {"input( cam, f ) { brightness(); }",
         {kMalformed, "Error (SInput): Failed to get brightness.\n", inputs}},
        {"input( cam, f ) { contrast( ); }",
         {kMalformed, "Error (SInput): Failed to get contrast.\n", inputs}},
        {"input( cam, f ) { saturation(,); }",
         {kMalformed, "Error (SInput): Failed to get saturation.\n", inputs}},
        {"input( cam, f ) { noise_reduction(); }",
         {kMalformed, "Error (SInput): Failed to get DNR.\n", inputs}},
        {"input( cam, f ) { vertical_flip(); }",
         {kMalformed, "Error (SInput): Failed to get vertical flip value.\n", inputs}},
        {"input( cam, f ) { vertical_flip( TRUE ); }",
         {"Error (SIAdjustment): Unknown flip type '", "TRUE", "'.\n", inputs}},
        {"input( \"cam(1)\", f ) { }",
         {"Error (Script): Malformed script, missing '\"' character.\n", inputs}},
    };
    for (const Case& c : cases) {
        auto r = LoadScript("output( a, 1, 2 ) input( ok, ok.mov ) { } " + c.statement);
        EXPECT_FALSE(r.loaded) << c.statement;
        EXPECT_EQ(r.log, c.log) << c.statement;
        // The inputs read before the failure stay in the document.
        EXPECT_EQ(r.script->inputs.count("ok"), 1u);
    }
}

TEST(Input, ReplacementMalformedAndMissingBraces) {
    auto twice =
        LoadScript("output( a, 1, 2 ) input( cam, one.mov ) { } input( cam, two.mov ) { }");
    ASSERT_TRUE(twice.loaded);
    ASSERT_EQ(twice.script->inputs.size(), 1u);
    EXPECT_EQ(twice.script->inputs.at("cam")->file, "two.mov");

    // A malformed adjustment only ends the search for that keyword.
    auto malformed = LoadScript("output( a, 1, 2 ) input( cam, f ) { brightness 0.5 }");
    ASSERT_TRUE(malformed.loaded);
    EXPECT_EQ(malformed.log, Texts{"Error (Script): Malformed script, missing '(' character.\n"});
    EXPECT_EQ(malformed.script->inputs.at("cam")->settings.brightness, 0.0);

    // Without braces the body is the next block's; that input is then never read.
    auto braces =
        LoadScript("output( a, 1, 2 ) input( cam1, f1 ) input( cam2, f2 ) { brightness( 0.5 ); }");
    ASSERT_TRUE(braces.loaded);
    ASSERT_EQ(braces.script->inputs.size(), 1u);
    EXPECT_EQ(braces.script->inputs.at("cam1")->settings.brightness, 0.5);
}

TEST(Input, ClipboardSnippet) {
    auto r = LoadScript(
        "output( a, 1, 2 )\ninput( \"\", /videos/cam.mov ) {\n"
        "\tcolor_balance( 0.50, -0.50, 1.00 );\n\tbrightness( 0.02 );\n\tcontrast( 2.00 );\n"
        "\tsaturation( 1.00 );\n\tnoise_reduction( 19 );\n\tvertical_flip( auto );\n}\n");
    ASSERT_TRUE(r.loaded);
    const CSInput& input = *r.script->inputs.at("");
    EXPECT_EQ(input.file, "/videos/cam.mov");
    EXPECT_EQ(input.adjustments.size(), 6u);
    EXPECT_EQ(input.settings.colorBalanceMG, -0.5);
    EXPECT_EQ(input.settings.contrast, 2.0);
    EXPECT_EQ(input.settings.noiseReduction, 19);
}

TEST(FocusPoint, Thirds) {
    struct Case {
        InputFocus focus;
        FocusXY point;
    };
    const std::vector<Case> cases = {
        {InputFocus::Center, {360, 288}},      {InputFocus::Left, {240, 288}},
        {InputFocus::Right, {480, 288}},       {InputFocus::Top, {360, 192}},
        {InputFocus::Bottom, {360, 384}},      {InputFocus::TopLeft, {240, 192}},
        {InputFocus::BottomLeft, {240, 384}},  {InputFocus::TopRight, {480, 192}},
        {InputFocus::BottomRight, {480, 384}}, {static_cast<InputFocus>(42), {360, 288}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FocusPoint(720, 576, c.focus), c.point) << static_cast<int>(c.focus);
    }
    // Two thirds are taken as (2 w) / 3, not 2 (w / 3).
    EXPECT_EQ(FocusPoint(641, 481, InputFocus::BottomRight), (FocusXY{427, 320}));
}

}  // namespace
}  // namespace zorvo
