#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Extract.h"

namespace zorvo {
namespace {

using Texts = std::vector<std::string>;

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

// `range( ... )` calls and `group( ... ) { ... }` blocks.
TEST(Extract, FindsCallsAndBlocksAndReportsMissingCharacters) {
    struct Case {
        std::string text;
        std::string found;  // arguments, and "|body" for a block; empty when not found
        Texts log;
    };
    const auto missing = [](char c) {
        return Texts{std::string("Error (Script): Malformed script, missing '") + c +
                     "' character.\n"};
    };
    const std::vector<Case> cases = {
        {"xx range ( 5 ) ;", " 5 ", {}},
        {"no statement here", "", {}},
        {"Range( 1, 2 )", "", {}},  // case-sensitive
        // Only a whole word counts; text start and end, spaces and other marks bound it.
        {"input( a, orange.avi ) range( 1, 2 )", " 1, 2 ", {}},
        {"a/range( 1 ) b.range( 2 ) -range( 3 ) x\\range( 4 ) range9( 5 ) range_( 6 ) {range( 7 )",
         " 7 ",
         {}},
        {"range( 8 )", " 8 ", {}},
        {"ranges( 1 ) range", "", missing('(')},
        {"range", "", missing('(')},
        {"range( 1, 2", "", missing(')')},
        {"group( all ) { a, b }", " all | a, b ", {}},
        {"group( g ) ; x { a } }", " g | a ", {}},
        {"group( g )", "", missing('{')},
        {"group( g ) { a", "", missing('}')},
        {"group g", "", missing('(')},
    };
    for (const Case& c : cases) {
        LogCollector log;
        size_t cursor = 0;
        std::string arguments;
        std::string body;
        const bool block = c.text.rfind("group", 0) == 0;
        const bool found = block ? CExtract::ExtractBlock(c.text, "group", cursor, arguments, body)
                                 : CExtract::ExtractCall(c.text, "range", cursor, arguments);
        EXPECT_EQ(found, !c.found.empty()) << c.text;
        if (found) {
            EXPECT_EQ(block ? arguments + "|" + body : arguments, c.found);
            EXPECT_EQ(c.text[cursor], block ? '}' : ')');
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
