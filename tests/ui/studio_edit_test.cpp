// Editing the cut on the studio's timeline: each edit rewrites the script, the window follows
// the file, and Ctrl+Z / Ctrl+Shift+Z undo and redo the window's own edits.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "UiTestSupport.h"
#include "support/TestPaths.h"
#include "ui/ScriptEdits.h"
#include "ui/StudioView.h"
#include "ui/TimelineView.h"

namespace zorvo::test {
namespace {

QAction* Find(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
        if (action->menu()) {
            if (QAction* inner = Find(*action->menu(), text)) {
                return inner;
            }
        }
    }
    return nullptr;
}

void Key(QWidget& widget, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, modifiers);
    QCoreApplication::sendEvent(&widget, &press);
}

void Mouse(QWidget& widget, QEvent::Type type, double x) {
    QMouseEvent event(type, QPointF(x, 40), widget.mapToGlobal(QPointF(x, 40)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

TEST(StudioEditTest, TimelineEditsRewriteTheScriptAndUndo) {
    TempDir dir;
    const std::string path = dir.File("song.zorvo");
    const std::string head =
        "output( out.avi, 320, 240 )\ninput( a, a.mp4 ) { }\ninput( b, b.mp4 ) { }\n";
    const std::string verse =
        "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); display( a ); display( b, "
        "each_beat ); }\n";
    const std::string original =
        head + verse + "marker( 5, 1fullscreen ) { display( b ); }\n" + "marker( 9 ) { }\n";
    ASSERT_TRUE(WriteTextFile(path, original));
    RecordingWindow window;
    StudioView* studio = StudioView::AttachTo(window);
    window.OpenScript(QString::fromStdString(path));
    TimelineView& timeline = *studio->Timeline();
    timeline.resize(900, timeline.height());
    ASSERT_EQ(timeline.Model().spans.size(), 2u);
    const auto xOfMeasure = [&](double measure) {
        return timeline.MarkerX(1) + (measure - 1) * 2.0 * timeline.Zoom();  // 2 s a measure
    };

    // Insert at the measure under the pointer, then a layout from the span's menu.
    const auto menu = timeline.EditMenu(QPointF(xOfMeasure(3.5), 60), {}, {});
    ASSERT_TRUE(Find(*menu, "Insert a marker at measure 3"));
    Find(*menu, "Insert a marker at measure 3")->trigger();
    const std::string inserted =
        head + verse +
        "marker( 3, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); display( a );"
        " display( b, each_beat ); }\n" +
        "marker( 5, 1fullscreen ) { display( b ); }\nmarker( 9 ) { }\n";
    EXPECT_EQ(ReadTextFile(path), inserted);
    ASSERT_EQ(timeline.Model().spans.size(), 3u);  // followed at once
    const auto layouts = timeline.EditMenu(QPointF(xOfMeasure(2), 60), {}, {});
    ASSERT_TRUE(Find(*layouts, "1top_1bottom"));
    EXPECT_FALSE(Find(*layouts, "1left_1right")->isEnabled());  // the one it has
    EXPECT_FALSE(Find(*layouts, "1fullscreen"));                // takes one display, not two
    Find(*layouts, "1top_1bottom")->trigger();
    std::string laidOut = inserted;
    laidOut.replace(laidOut.find("1left_1right"), 12, "1top_1bottom");
    EXPECT_EQ(ReadTextFile(path), laidOut);
    EXPECT_EQ(timeline.Model().spans[0].layout, "1top_1bottom");

    // Drag the marker at 5 by its line in the band of spans to measure 7.
    Mouse(timeline, QEvent::MouseButtonPress, xOfMeasure(5));
    Mouse(timeline, QEvent::MouseMove, xOfMeasure(6.9));
    Mouse(timeline, QEvent::MouseButtonRelease, xOfMeasure(6.9));
    std::string moved = laidOut;
    moved.replace(moved.find("marker( 5"), 9, "marker( 7");
    EXPECT_EQ(ReadTextFile(path), moved);
    EXPECT_EQ(timeline.Model().spans[2].fromMeasure, 7u);

    // Undo twice, redo once; the menu names what each would do.
    Key(timeline, Qt::ControlModifier);
    EXPECT_EQ(ReadTextFile(path), laidOut);
    Key(timeline, Qt::ControlModifier);
    EXPECT_EQ(ReadTextFile(path), inserted);
    EXPECT_EQ(studio->Status(), "Undone: layout 1top_1bottom from measure 1.");
    const auto history = timeline.EditMenu(QPointF(xOfMeasure(2), 60), studio->Edits().UndoText(),
                                           studio->Edits().RedoText());
    EXPECT_TRUE(Find(*history, "Undo insert a marker at measure 3"));
    EXPECT_TRUE(Find(*history, "Redo layout 1top_1bottom from measure 1"));
    Key(timeline, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(ReadTextFile(path), laidOut);

    // An outside edit since: undo is refused and the file stays as the user left it.
    const std::string outside = laidOut + "// mine\n";
    ASSERT_TRUE(WriteTextFile(path, outside));
    Key(timeline, Qt::ControlModifier);
    EXPECT_EQ(ReadTextFile(path), outside);
    EXPECT_EQ(studio->Status(),
              "Error (Edit): The script changed since that edit; it is left as it is.");
    // A refused edit says why and writes nothing.
    studio->Edit(MarkerEdit::Delete(9));
    EXPECT_EQ(ReadTextFile(path), outside);
    EXPECT_EQ(studio->Status(),
              "Error (Edit): The edit would leave the script invalid; it is left unchanged.");
}

}  // namespace
}  // namespace zorvo::test
