// The Problems list of `zorvo check` and the window: what the check's messages say, by their
// fields (place in the script, marker, file), gathered into one problem per failure.
#include <gtest/gtest.h>

#include "check/ScriptCheck.h"
#include "support/TestPaths.h"

namespace zorvo {
namespace {

// As a plain error line is posted.
Message Error(const std::string& component, const std::string& text) {
    return MessageOfText("Error (" + component + "): " + text + "\n");
}

Message Place(Severity severity, int line, int column, const std::string& shown) {
    Message message{severity, "Script",
                    "at line " + std::to_string(line) + ", column " + std::to_string(column) +
                        ": '" + shown + "'."};
    message.line = line;
    message.column = column;
    message.context = true;
    return message;
}

std::string Line(const Message& message) {
    std::string line = LogText(message);
    line.pop_back();
    return line;
}

TEST(Problems, OneProblemPerFailureWithItsFields) {
    const Message layout = Error("Layout", "Unknown layout type 'x'.");
    const Message names = Error("Layout", "Known names: 1fullscreen, none.");
    const Message chain = Error("Script", "Failed to parse 'markers'.");
    const Message place = Place(Severity::Error, 3, 1, "marker( 1, x )");
    const Message parse = Error("Project", "Failed to parse script.");
    Message media = Error("Project", "Input 'a' does not open (file a.mov).");
    media.file = "a.mov";
    Message late = media;
    late.text = "Input 'a' ends at 00:01.00 but marker 2 needs it until 00:02.00.";
    late.marker = 2;
    const Message checked = Error("Project", "Failed to check media.");
    const Message fileContext = {Severity::Error, "Script", "file 'a': gone.", 0, 0, 0, {}, true};
    const Message typo = {Severity::Warning, "Script", "Unknown statement 'overlai'."};
    const Message typoPlace = Place(Severity::Warning, 9, 4, "overlai( v )");
    Message invalid = Error("SMarker", "Failed to validate script: no display.");
    Message marker = Place(Severity::Error, 4, 2, "marker( 1 )");
    marker.text = "marker #1 " + marker.text;
    marker.marker = 1;
    Message tempo = {Severity::Warning, "Beats", "marker 5 (measure 5): the song plays 90 bpm."};
    tempo.line = 7;
    tempo.column = 1;
    tempo.marker = 5;
    const Message parsing = {.text = "* Parsing script...\n"};
    const Message valid = {.text = "Script is valid: 1 input(s).\n"};
    const Message found = {
        .text = "Input 'a': h264, 1280x720, 25 fps, BT.709 limited (file a.mov).", .file = "a.mov"};
    const Message advice = {Severity::Error,
                            "Project",
                            "Add fill( hold ) or fill( black ) to the input's block.",
                            0,
                            0,
                            0,
                            {},
                            true};
    const auto detail = [](std::initializer_list<Message> lines) {
        std::string joined;
        for (const Message& line : lines) {
            joined += (joined.empty() ? "" : "\n") + Line(line);
        }
        return joined;
    };
    struct Case {
        std::vector<Message> messages;
        std::vector<ScriptProblem> problems;
    };
    const std::vector<Case> cases = {
        // A parse failure: its first line at the place that ends it, every line in its detail.
        {{parsing, layout, names, chain, place, parse},
         {{false, 3, 1, Line(layout), detail({layout, names, chain, place, parse})}}},
        {{invalid, marker}, {{false, 4, 2, Line(invalid), detail({invalid, marker}), false, 1}}},
        // Media problems: one each, with their file and marker; callers' lines join the last.
        {{media, late, checked},
         {{false, 0, 0, Line(media), Line(media), false, 0, "a.mov"},
          {false, 0, 0, Line(late), detail({late, checked}), false, 2, "a.mov"}}},
        // A context line joins the failure before it; a placed warning is one problem.
        {{media, fileContext, typo, typoPlace, place, valid},
         {{false, 0, 0, Line(media), detail({media, fileContext}), false, 0, "a.mov"},
          {true, 9, 4, Line(typo), detail({typo, typoPlace})},
          {false, 3, 1, Line(place), Line(place)}}},
        // A message with a place of its own ends nothing: the warning before stays apart.
        {{typo, tempo},
         {{true, 0, 0, Line(typo), Line(typo)}, {true, 7, 1, Line(tempo), Line(tempo), false, 5}}},
        {{valid}, {}},
        // What the check found in a camera's file is information; the fill advice joins the
        // camera's failure.
        {{valid, found}, {{false, 0, 0, found.text, found.text, true}}},
        {{late, advice}, {{false, 0, 0, Line(late), detail({late, advice}), false, 2, "a.mov"}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProblemsFromMessages(c.messages), c.problems) << Line(c.messages.front());
    }
}

// The check of a script file hands over its problems with their fields.
TEST(Problems, TheCheckOfAScriptFileFindsThemWhereTheyAre) {
    test::TempDir dir;
    const std::string script = dir.File("song.zorvo");
    ASSERT_TRUE(test::WriteTextFile(script, "output( out.avi, 64, 48 )\n\n  marker( 1, x ) { }\n"));
    CheckReport report = CheckForProblems(script);
    EXPECT_FALSE(report.valid);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].text, "Error (Layout): Unknown layout type 'x'.");
    EXPECT_EQ(std::make_pair(report.problems[0].line, report.problems[0].column),
              std::make_pair(3, 3));

    ASSERT_TRUE(test::WriteTextFile(
        script,
        "output( out.avi, 64, 48 )\noutput( b.avi, 3, 4 )\ninput( a, missing.mov ) { }\n"
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( a ) }\n"
        "marker( 2 ) { }\n"));
    report = CheckForProblems(script);
    EXPECT_FALSE(report.valid);
    ASSERT_EQ(report.problems.size(), 2u);
    const ScriptProblem& warning = report.problems[0];
    EXPECT_TRUE(warning.warning);
    EXPECT_EQ(warning.text,
              "Warning (Script): Statement 'output' is not read: only the first one in the "
              "script counts.");
    EXPECT_EQ(std::make_pair(warning.line, warning.column), std::make_pair(2, 1));
    const ScriptProblem& media = report.problems[1];
    EXPECT_FALSE(media.warning);
    EXPECT_EQ(media.line, 0);
    EXPECT_EQ(media.file, dir.File("missing.mov"));
    EXPECT_TRUE(media.text.starts_with("Error (Project): Input 'a' does not open: ")) << media.text;
    EXPECT_TRUE(media.detail.ends_with("\nError (Project): Failed to check media."));
}

}  // namespace
}  // namespace zorvo
