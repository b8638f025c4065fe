#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Extract.h"

namespace zorvo {
namespace {

using Texts = std::vector<std::string>;

// Splits an argument text the way statements read it: required first, then optional.
std::vector<std::string> SplitAll(const std::string& arguments) {
    std::vector<std::string> out;
    size_t cursor = 0;
    std::string value;
    while (CExtract::NextArgument(arguments, cursor, value, true)) {
        out.push_back(value);
    }
    return out;
}

TEST(NextArgument, SplitsArguments) {
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"1,10", {"1", "10"}},
        {" a ,, b ", {"a", "b"}},
        {"480", {"480"}},
        {"\"\"", {""}},
        {"\"a b, c\" d", {"a b, c", "d"}},
        {"\"x\"y", {"x", "y"}},  // text right after a closing quote starts a new argument
        {"cam1\n, cam2", {"cam1\n", "cam2"}},
        {"cam1\ncam2\ncam3", {"cam1\ncam2\ncam3"}},  // line breaks do not separate
        {"a\tb c", {"a\tb", "c"}},
        {" \t\r\n,", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        EXPECT_EQ(SplitAll(c.text), c.expected) << "text: [" << c.text << "]";
        EXPECT_TRUE(log.Texts().empty());
    }
}

TEST(NextArgument, RequiredAndUnterminated) {
    {
        LogCollector log;
        size_t cursor = 0;
        std::string value = "default";
        EXPECT_FALSE(CExtract::NextArgument("  , ", cursor, value));
        EXPECT_EQ(value, "default");
        EXPECT_EQ(log.Texts(), Texts{"Error (Script): Malformed script.\n"});
    }
    {
        LogCollector log;
        size_t cursor = 0;
        std::string value = "default";
        EXPECT_FALSE(CExtract::NextArgument("  , ", cursor, value, true));
        EXPECT_EQ(value, "default");
        EXPECT_TRUE(log.Texts().empty());
    }
    {
        LogCollector log;
        size_t cursor = 0;
        std::string value = "keep";
        EXPECT_FALSE(CExtract::NextArgument(" \"cam", cursor, value, true));
        EXPECT_EQ(value, "keep");
        EXPECT_EQ(log.Texts(),
                  Texts{"Error (Script): Malformed script, missing '\"' character.\n"});
    }
}

TEST(ExtractCall, FindsStatementsAndReportsMissingCharacters) {
    struct Case {
        std::string keyword;
        std::string text;
        bool found;
        std::string arguments;
        Texts log;
    };
    const Texts missingOpen{"Error (Script): Malformed script, missing '(' character.\n"};
    const Texts missingClose{"Error (Script): Malformed script, missing ')' character.\n"};
    const std::vector<Case> cases = {
        {"range", "range(1,10)", true, "1,10", {}},
        {"range", "xx range ( 5 ) ;", true, " 5 ", {}},
        {"output", "output( a, 720, 480)", true, " a, 720, 480", {}},
        {"range", "no statement here", false, "", {}},
        {"output", "Output( a, 1, 2 )", false, "", {}},                     // case-sensitive
        {"range", "input( a, orange.avi ) x( 1, 2 )", true, " 1, 2 ", {}},  // inside a word
        {"range", "orange.avi", false, "", missingOpen},
        {"range", "range", false, "", missingOpen},
        {"range", "range( 1, 2", false, "", missingClose},
        {"input", "input( \"cam(1)\", f )", true, " \"cam(1", {}},  // first ')' ends the text
    };
    for (const Case& c : cases) {
        LogCollector log;
        size_t cursor = 0;
        std::string arguments;
        EXPECT_EQ(CExtract::ExtractCall(c.text, c.keyword, cursor, arguments), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(arguments, c.arguments) << c.text;
            EXPECT_EQ(c.text[cursor], ')');
        }
        EXPECT_EQ(log.Texts(), c.log) << c.text;
    }
}

TEST(ExtractCall, RepeatedCallsWalkThroughStatements) {
    const std::string body = "display( a ); x display(b, each_beat) display( c )";
    size_t cursor = 0;
    std::string arguments;
    std::vector<std::string> found;
    while (CExtract::ExtractCall(body, "display", cursor, arguments)) {
        found.push_back(arguments);
    }
    EXPECT_EQ(found, (std::vector<std::string>{" a ", "b, each_beat", " c "}));
}

TEST(ExtractBlock, CutsArgumentsAndBody) {
    struct Case {
        std::string text;
        bool found;
        std::string arguments;
        std::string body;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"group( all ) { a, b }", true, " all ", " a, b ", {}},
        {"group(g){}", true, "g", "", {}},
        {"group( g ) ; x { a } }", true, " g ", " a ", {}},
        {"group( g )",
         false,
         "",
         "",
         {"Error (Script): Malformed script, missing '{' character.\n"}},
        {"group( g ) { a",
         false,
         "",
         "",
         {"Error (Script): Malformed script, missing '}' character.\n"}},
        {"group g", false, "", "", {"Error (Script): Malformed script, missing '(' character.\n"}},
        {"group( g", false, "", "", {"Error (Script): Malformed script, missing ')' character.\n"}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        size_t cursor = 0;
        std::string arguments = "untouched";
        std::string body = "untouched";
        EXPECT_EQ(CExtract::ExtractBlock(c.text, "group", cursor, arguments, body), c.found)
            << c.text;
        if (c.found) {
            EXPECT_EQ(arguments, c.arguments);
            EXPECT_EQ(body, c.body);
            EXPECT_EQ(c.text[cursor], '}');
        } else {
            EXPECT_EQ(cursor, 0u);
        }
        EXPECT_EQ(log.Texts(), c.log) << c.text;
    }
}

TEST(RemoveComments, BlanksToEndOfLineAndKeepsLength) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a // b\nc", "a      c"},
        {"a // b\r\nc", "a       c"},
        {"// only", "       "},
        {"x// one\n// two\ny", "x              y"},
        {"output( \"C://clips/a.avi\", 1 )\nnext", "output( \"C:                    next"},
        {"no comment / here", "no comment / here"},
        {"///", "   "},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        CExtract::RemoveComments(text);
        EXPECT_EQ(text, c.expected) << c.text;
        EXPECT_EQ(text.size(), c.text.size());
    }
}

TEST(Numbers, FollowTheCLibraryRules) {
    struct IntCase {
        const char* text;
        std::int32_t value;
    };
    for (const IntCase& c : std::vector<IntCase>{{"480", 480},
                                                 {"  -12x", -12},
                                                 {"+7", 7},
                                                 {"abc", 0},
                                                 {"19.9", 19},
                                                 {"", 0},
                                                 {"99999999999", INT32_MAX},
                                                 {"-99999999999", INT32_MIN}}) {
        EXPECT_EQ(CExtract::ToInt(c.text), c.value) << c.text;
    }
    struct RealCase {
        const char* text;
        double value;
    };
    for (const RealCase& c : std::vector<RealCase>{{"0.5", 0.5},
                                                   {"-1e-1", -0.1},
                                                   {" .25;", 0.25},
                                                   {"x", 0.0},
                                                   {"2,5", 2.0},
                                                   {"1e3", 1000.0}}) {
        EXPECT_DOUBLE_EQ(CExtract::ToDouble(c.text), c.value) << c.text;
    }
}

}  // namespace
}  // namespace zorvo
