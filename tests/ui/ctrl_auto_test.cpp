// Controls follow the main window's size: edge rules, then pushed clear of the controls that
// lay above them or to their left.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "UiTestSupport.h"
#include "ui/CtrlAuto.h"
#include "ui/ZorvoDlg.h"

namespace zorvo::test {
namespace {

// Half-open edges, as the anchoring works with them.
struct Edges {
    int left, top, right, bottom;
    bool operator==(const Edges&) const = default;
};

Edges EdgesOf(const QWidget& widget) {
    const QRect g = widget.geometry();
    return {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

std::ostream& operator<<(std::ostream& out, const Edges& e) {
    return out << "(" << e.left << ", " << e.top << ", " << e.right << ", " << e.bottom << ")";
}

TEST(AnchoringTest, HundredPixelsTallerMovesTheBarsAndTheBottomRowDown) {
    CZorvoDlg window;
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
    const auto control = [&](const std::string& name) {
        return window.findChild<QWidget*>(QString::fromStdString(name));
    };
    std::map<std::string, Edges> expected;
    for (const char* name : {"log", "upperBar", "lowerBar", "remainingLabel", "remaining", "build",
                             "adjustments", "autoSync", "storyboard"}) {
        ASSERT_NE(control(name), nullptr) << name;
        expected[name] = EdgesOf(*control(name));
        expected[name].bottom += 100;
    }
    // Each bar closes up to the control above it, the bottom row to the lower bar.
    expected["upperBar"].top = expected["log"].bottom;
    expected["lowerBar"].top = expected["upperBar"].bottom;
    for (const char* name :
         {"adjustments", "autoSync", "storyboard", "remainingLabel", "remaining", "build"}) {
        expected[name].top = expected["lowerBar"].bottom;
    }
    const QSize taller = window.size() + QSize(0, 100);
    window.resize(taller);
    ASSERT_TRUE(WaitUntil([&] { return window.size() == taller; }));
    for (const auto& [name, edges] : expected) {
        EXPECT_EQ(EdgesOf(*control(name)), edges) << name;
    }
}

TEST(AnchoringTest, PushesRunUntilNothingOverlaps) {
    QWidget parent;
    parent.resize(200, 200);
    // Listed bottom to top: each push uncovers the need for another one in a later sweep.
    const QRect initial[] = {{10, 150, 50, 20}, {10, 100, 50, 30}, {10, 10, 50, 80}};
    const int bottomModes[] = {2, 2, 0};
    std::vector<std::unique_ptr<QWidget>> widgets;
    std::vector<CCtrlAuto> list;
    for (int i = 0; i < 3; ++i) {
        widgets.push_back(std::make_unique<QWidget>(&parent));
        widgets.back()->setGeometry(initial[i]);
        AddControl(widgets.back().get(), list, 0, 0);
        list.back().bottomMode = bottomModes[i];
        RecordInitial(parent, list.back());
    }
    Relayout(list, 200, 300);
    // The top one follows the bottom border; the others keep their heights of 30 and 20.
    const Edges expected[] = {{10, 220, 60, 240}, {10, 190, 60, 220}, {10, 10, 60, 190}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(EdgesOf(*widgets[i]), expected[i]) << i;
        const Rect& r = list[i].currentRect;
        EXPECT_EQ(EdgesOf(*widgets[i]), (Edges{r.left, r.top, r.right, r.bottom})) << i;
    }
}

}  // namespace
}  // namespace zorvo::test
