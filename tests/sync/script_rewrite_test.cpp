#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync/ScriptRewrite.h"

namespace zorvo {
namespace {

TEST(ScriptRewrite, ChangesOnlyTheSyncArguments) {
    using namespace std::string_literals;
    struct Case {
        std::string name;
        std::string text;
        SyncEdit edit;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"two arguments", "input( cam1, a.mov ) { }", SyncEdit{"cam1", 1235, 0},
         "input( cam1, a.mov, center, 1235, 0 ) { }"},
        {"three, quoted", "input( \"cam2\", \"b.mov\", \"top\" ) {}", SyncEdit{"cam2", 0, 42},
         "input( \"cam2\", \"b.mov\", \"top\", 0, 42 ) {}"},
        {"four, no spaces, body kept", "input(cam3,c.mov,left,1200){ brightness( 0.1 ); }",
         SyncEdit{"cam3", 17, 0}, "input(cam3,c.mov,left,17, 0){ brightness( 0.1 ); }"},
        {"five, line breaks swallowed by an argument stay",
         "input( cam4, d.mov, center,\n  900\n, 100 ) { contrast( 1 ); }", SyncEdit{"cam4", 0, 5},
         "input( cam4, d.mov, center,\n  0\n, 5 ) { contrast( 1 ); }"},
        {"quoted numbers stay quoted", "input( c, f, right, \"1200\", \"30\" ) { }",
         SyncEdit{"c", 7, 0}, "input( c, f, right, \"7\", \"0\" ) { }"},
        {"comments, other inputs and CRLF line ends untouched",
         "// input( cam1, old.mov, center, 1, 2 ) { }\r\n"
         "input( cam1, a.mov ) { } // input(x)\r\ninput( cam2, b.mov, center, 3, 4 ) { }\r\n",
         SyncEdit{"cam1", 10, 0},
         "// input( cam1, old.mov, center, 1, 2 ) { }\r\n"
         "input( cam1, a.mov, center, 10, 0 ) { } // input(x)\r\n"
         "input( cam2, b.mov, center, 3, 4 ) { }\r\n"},
        {"the last definition of an id is the one read",
         "input( c, one.mov ) { }\ninput( c, two.mov ) { }", SyncEdit{"c", 5, 0},
         "input( c, one.mov ) { }\ninput( c, two.mov, center, 5, 0 ) { }"},
        {"an input without braces hides the next one, as reading does",
         "input( a, a.mov )\ninput( b, b.mov ) { }", SyncEdit{"a", 1, 0},
         "input( a, a.mov, center, 1, 0 )\ninput( b, b.mov ) { }"},
        {"bytes after a NUL stay", "input( c, f ) { }\0input( c, g ) { }"s, SyncEdit{"c", 3, 0},
         "input( c, f, center, 3, 0 ) { }\0input( c, g ) { }"s},
    };
    for (const Case& c : cases) {
        std::string rewritten;
        ASSERT_TRUE(RewriteSyncArguments(c.text, {c.edit}, rewritten)) << c.name;
        EXPECT_EQ(rewritten, c.expected) << c.name;
    }
    // Edits come in any order; an input hidden by the one before it cannot be edited.
    std::string rewritten;
    EXPECT_TRUE(RewriteSyncArguments("input( a, a.mov ) { }\ninput( b, b.mov, center, 1, 2 ) { }",
                                     {{"b", 0, 250}, {"a", 99, 0}}, rewritten));
    EXPECT_EQ(rewritten,
              "input( a, a.mov, center, 99, 0 ) { }\ninput( b, b.mov, center, 0, 250 ) { }");
    EXPECT_FALSE(
        RewriteSyncArguments("input( a, a.mov )\ninput( b, b.mov ) { }", {{"b", 1, 0}}, rewritten));
}

TEST(ScriptRewrite, RoundsTheOffsetIntoOneArgument) {
    const std::vector<std::pair<double, std::pair<int, int>>> cases = {
        {1234.5, {1235, 0}}, {1234.49, {1234, 0}},  {0.4, {0, 0}},
        {-0.6, {0, 1}},      {-2345.67, {0, 2346}},
    };
    for (const auto& [offset, expected] : cases) {
        const SyncEdit edit = EditForOffset("c", offset);
        EXPECT_EQ(edit.videoSyncMs, expected.first) << offset;
        EXPECT_EQ(edit.timelineSyncMs, expected.second) << offset;
    }
}

}  // namespace
}  // namespace zorvo
