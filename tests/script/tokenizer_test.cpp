#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Extract.h"

namespace zorvo {
namespace {

using Texts = std::vector<std::string>;
const std::string kNoOpen = "Error (Script): Malformed script, missing '(' character.\n";

TEST(NextArgument, SplitsArguments) {
    const std::vector<std::pair<std::string, Texts>> cases = {
        {"1,10", {"1", "10"}},
        {" a ,, b ", {"a", "b"}},
        {"\"\"", {""}},
        {"\"a b, c\" d", {"a b, c", "d"}},
        {"\"x\"y", {"x", "y"}},  // text right after a closing quote starts a new argument
        {"cam1\ncam2\ncam3", {"cam1\ncam2\ncam3"}},  // line breaks do not separate
        {"a\tb c", {"a\tb", "c"}},
        {" \t\r\n,", {}},
    };
    for (const auto& [text, expected] : cases) {
        LogCollector log;
        Texts out;
        size_t cursor = 0;
        std::string value;
        while (CExtract::NextArgument(text, cursor, value, true)) {
            out.push_back(value);
        }
        EXPECT_EQ(out, expected) << "text: [" << text << "]";
        EXPECT_TRUE(log.Texts().empty());
    }
}

TEST(ExtractCall, FindsStatementsAndReportsMissingCharacters) {
    struct Case {
        std::string text;
        bool found;
        std::string arguments;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"xx range ( 5 ) ;", true, " 5 ", {}},
        {"no statement here", false, "", {}},
        {"Range( 1, 2 )", false, "", {}},                          // case-sensitive
        {"input( a, orange.avi ) x( 1, 2 )", true, " 1, 2 ", {}},  // inside a word
        {"range", false, "", {kNoOpen}},
        {"range( 1, 2", false, "", {"Error (Script): Malformed script, missing ')' character.\n"}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        size_t cursor = 0;
        std::string arguments;
        EXPECT_EQ(CExtract::ExtractCall(c.text, "range", cursor, arguments), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(arguments, c.arguments) << c.text;
            EXPECT_EQ(c.text[cursor], ')');
        }
        EXPECT_EQ(log.Texts(), c.log) << c.text;
    }
}

TEST(ExtractBlock, CutsArgumentsAndBody) {
    struct Case {
        std::string text;
        std::string arguments;  // with the body: empty when not found
        std::string body;
        Texts log;
    };
    const std::vector<Case> cases = {
        {"group( all ) { a, b }", " all ", " a, b ", {}},
        {"group( g ) ; x { a } }", " g ", " a ", {}},
        {"group( g )", "", "", {"Error (Script): Malformed script, missing '{' character.\n"}},
        {"group( g ) { a", "", "", {"Error (Script): Malformed script, missing '}' character.\n"}},
        {"group g", "", "", {kNoOpen}},
    };
    for (const Case& c : cases) {
        LogCollector log;
        size_t cursor = 0;
        std::string arguments;
        std::string body;
        const bool found = CExtract::ExtractBlock(c.text, "group", cursor, arguments, body);
        EXPECT_EQ(found, !c.arguments.empty()) << c.text;
        if (found) {
            EXPECT_EQ(arguments + "|" + body, c.arguments + "|" + c.body);
            EXPECT_EQ(c.text[cursor], '}');
        }
        EXPECT_EQ(log.Texts(), c.log) << c.text;
    }
}

TEST(RemoveComments, BlanksToEndOfLineAndKeepsLength) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a // b\r\nc", "a       c"},
        {"x// one\n// two\ny", "x              y"},
        {"output( \"C://clips/a.avi\", 1 )\nnext", "output( \"C:                    next"},
        {"no comment / here", "no comment / here"},
    };
    for (auto [text, expected] : cases) {
        CExtract::RemoveComments(text);
        EXPECT_EQ(text, expected);
    }
}

TEST(Numbers, FollowTheCLibraryRules) {
    const std::vector<std::pair<const char*, std::int32_t>> ints = {{"  -12x", -12},
                                                                    {"abc", 0},
                                                                    {"19.9", 19},
                                                                    {"2147483647", INT32_MAX},
                                                                    {"99999999999", INT32_MAX},
                                                                    {"-99999999999", INT32_MIN}};
    for (const auto& [text, value] : ints) {
        EXPECT_EQ(CExtract::ToInt(text), value) << text;
    }
    const std::vector<std::pair<const char*, double>> reals = {
        {"-1e-1", -0.1}, {" .25;", 0.25}, {"x", 0.0}, {"2,5", 2.0}};
    for (const auto& [text, value] : reals) {
        EXPECT_DOUBLE_EQ(CExtract::ToDouble(text), value) << text;
    }
}

}  // namespace
}  // namespace zorvo
