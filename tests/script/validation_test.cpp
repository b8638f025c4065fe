#include <gtest/gtest.h>

#include "ScriptFixture.h"

namespace zorvo {
namespace {

using test::LoadScript;
using test::ValidScript;
using Texts = std::vector<std::string>;

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
                               "group( lines ) { cam1\ncam2\n}\n"
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
    // Members written one per line without separators read as one member.
    EXPECT_EQ(r.script->groups.at("lines")->members, (std::vector<std::string>{"cam1\ncam2\n"}));
}

TEST(Validate, ChecksInOrderWithTheirLines) {
    const std::string out = "output( a, 720, 576 )\n";
    const std::string in = "input( cam1, f ) { }\n";
    const std::string m1 =
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam1 ) }\n";
    const std::string end = "marker( 5 ) { }\n";
    const auto marker = [&](const std::string& body) {
        return out + in + m1 + "marker( 3, 1fullscreen ) { " + body + " }\n" + end;
    };
    const std::string kE = "Error (Script): Failed to validate script: ";
    const std::string kM = "Error (SMarker): Failed to validate script: ";
    // A marker's own line is followed by kMarkerFailed; the table leaves that out.
    const std::string kMarkerFailed = kE + "'marker' validation failed.\n";
    struct Case {
        std::string name;
        std::string script;
        Texts log;
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
         out + in + "marker( 1, 1fullscreen ) { signature( 4, 4 ) display( cam1 ) }\n" + end,
         {kM + "marker tempo can't be 0 if this is the marker #1.\n"}},
        {"no display",
         out + in + "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 4, 4 ) }\n" + end,
         {kM + "display list can only be empty if it's the last element.\n"}},
        {"terminal content",
         out + in + m1 + "marker( 5 ) { tempo( 100 ) }",
         {kM + "the content of the last marker element must be empty.\n"}},
        {"terminal may carry unused settings",
         out + in + m1 + "marker( 5 ) { effect( fade_in ) separator( 2 ) speed( cam1, 3 ) }",
         {}},
        {"terminal layout",
         out + in + m1 + "marker( 5, 1fullscreen ) { }",
         {kM + "layout must be 'none' on a the terminal marker.\n"}},
        {"unknown display id",
         marker("display( cam7 )"),
         {kE + "'marker' (#3) contains a reference to unknown id 'cam7'.\n"}},
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
         out + in + m1 + "marker( 3, 1fullscreen ) { signature( 3, 0 ) display( cam1 ) }\n" + end,
         {kM + "tempo and time signature must be positive on marker #3.\n"}},
        {"beat count 0 keeps the signature",
         out + in + m1 + "marker( 3, 1fullscreen ) { signature( 0, 0 ) display( cam1 ) }\n" + end,
         {}},
        {"speed 0",
         marker("speed( cam1, 0 ) display( cam1 )"),
         {kM + "speed of 'cam1' must be positive on marker #3.\n"}},
        {"block shorter than a frame",
         out + in +
             "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 6, 8 ) display( cam1, "
             "every_eighth_beat ) }\n" +
             end,
         {kM + "blocks of marker #1 last 31.250 ms, less than one frame (40 ms).\n"}},
        {"span of length 0",
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
    }
}

}  // namespace
}  // namespace zorvo
