#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Script.h"
#include "sync/MarkerEdit.h"
#include "timeline/TimelineModel.h"

namespace zorvo {
namespace {

// The spans as the walk sees them: "from-to layout id:cycle ...", one per span.
std::string Spans(const std::string& text) {
    CScript script("edited.zorvo");
    TimelineModel model;
    if (!script.LoadText(text) || !script.Validate() || !model.Build(script)) {
        return "invalid";
    }
    std::string spans;
    for (const TimelineModelSpan& span : model.spans) {
        spans += std::to_string(span.fromMeasure) + "-" + std::to_string(span.toMeasure) + " " +
                 span.layout;
        for (size_t d = 0; d < span.areas.size(); ++d) {
            spans += " " + span.areas[d] + ":" + span.cycles[d];
        }
        spans += " | ";
    }
    return spans;
}

// Each edit changes exactly its tokens or statements, and the walk of the result is the one
// the edit names; a refused edit says why and changes nothing.
TEST(MarkerEdit, ChangesOnlyWhatItNames) {
    const std::string head =
        "output( out.avi, 320, 240 )\ninput( a, a.mp4 ) { }\ninput( b, b.mp4 ) { }\n";
    const std::string verse =
        "  marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); display( a, each_beat "
        "); display( b ); } // verse\n";
    const std::string chorus = "marker( 5,\"1fullscreen\" ) { display( \"b\", each_measure ); }\n";
    const std::string end = "marker( 9 ) { }\n";
    const std::string base = head + verse + chorus + end;
    struct Case {
        MarkerEdit edit;
        std::string expected;  // empty: refused
        std::string spans;     // of the result
        std::string refusal;   // the first line of a refusal
    };
    const std::string verseAt3 =
        "  marker( 3, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); display( a, each_beat "
        "); display( b ); }";
    const std::vector<Case> cases = {
        {MarkerEdit::Layout(1, "1top_1bottom"),
         head +
             "  marker( 1, 1top_1bottom ) { tempo( 120 ); signature( 4, 4 ); display( a, "
             "each_beat ); display( b ); } // verse\n" +
             chorus + end,
         "1-5 1top_1bottom a:each_beat b:none | 5-9 1fullscreen b:each_measure | ", ""},
        {MarkerEdit::Layout(5, "1fullscreen"), base, "", ""},
        {MarkerEdit::Cycle(1, 1, "every_half_beat"),
         head +
             "  marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); display( a, "
             "each_beat ); display( b, every_half_beat ); } // verse\n" +
             chorus + end,
         "1-5 1left_1right a:each_beat b:every_half_beat | 5-9 1fullscreen b:each_measure | ", ""},
        {MarkerEdit::Cycle(5, 0, "each_beat"),
         head + verse + "marker( 5,\"1fullscreen\" ) { display( \"b\", each_beat ); }\n" + end,
         "1-5 1left_1right a:each_beat b:none | 5-9 1fullscreen b:each_beat | ", ""},
        {MarkerEdit::Insert(3),
         head + verse.substr(0, verse.size() - 1) + "\n" + verseAt3 + "\n" + chorus + end, "", ""},
        {MarkerEdit::Delete(5), head + verse + end, "1-9 1left_1right a:each_beat b:none | ", ""},
        {MarkerEdit::Move(5, 7),
         head + verse + "marker( 7,\"1fullscreen\" ) { display( \"b\", each_measure ); }\n" + end,
         "1-7 1left_1right a:each_beat b:none | 7-9 1fullscreen b:each_measure | ", ""},
        {MarkerEdit::Move(9, 12), head + verse + chorus + "marker( 12 ) { }\n",
         "1-5 1left_1right a:each_beat b:none | 5-12 1fullscreen b:each_measure | ", ""},
        {MarkerEdit::Move(5, 9), "", "",
         "Error (Edit): The marker at measure 5 moves between its "
         "neighbours only, not to measure 9.\n"},
        {MarkerEdit::Insert(5), "", "", "Error (Edit): A marker is at measure 5 already.\n"},
        {MarkerEdit::Insert(10), "", "", "Error (Edit): Measure 10 lies outside the song.\n"},
        {MarkerEdit::Delete(9), "", "",
         "Error (Edit): The edit would leave the script invalid; it is left unchanged.\n"},
        {MarkerEdit::Layout(1, "1fullscreen"), "", "",
         "Error (Edit): The layout '1fullscreen' does not take 2 display(s).\n"},
        {MarkerEdit::Cycle(5, 1, "each_beat"), "", "",
         "Error (Edit): The marker at measure 5 has no display 2.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DescribeEdit(c.edit));
        LogCollector log;
        std::string edited = "untouched";
        const bool done = EditMarkers(base, c.edit, edited);
        ASSERT_EQ(done, !c.expected.empty()) << log.Joined();
        if (!done) {
            EXPECT_EQ(edited, "untouched");
            EXPECT_EQ(log.Texts().at(0), c.refusal);
            continue;
        }
        EXPECT_EQ(edited, c.expected);
        if (!c.spans.empty()) {
            EXPECT_EQ(Spans(edited), c.spans);
        }
    }
    // The inserted marker starts a span of its own with the statements of the one it splits.
    std::string edited;
    ASSERT_TRUE(EditMarkers(base, MarkerEdit::Insert(3), edited));
    EXPECT_EQ(Spans(edited),
              "1-3 1left_1right a:each_beat b:none | 3-5 1left_1right a:each_beat b:none | 5-9 "
              "1fullscreen b:each_measure | ");
}

TEST(MarkerEdit, OffersTheValuesTheLanguageTakes) {
    EXPECT_EQ(LayoutsFor(1), std::vector<std::string>{"1fullscreen"});
    EXPECT_EQ(LayoutsFor(3), (std::vector<std::string>{"1left_2right", "2left_1right",
                                                       "1top_2bottom", "2top_1bottom"}));
    EXPECT_EQ(LayoutsFor(6), std::vector<std::string>{"3top_3bottom"});
    EXPECT_EQ(CycleNames().size(), 8u);
    EXPECT_EQ(CycleNames().front(), "none");
}

}  // namespace
}  // namespace zorvo
