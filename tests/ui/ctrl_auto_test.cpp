// Controls follow the main window's size: edge rules, then pushed clear of the controls that
// lay above them or to their left.
#include <gtest/gtest.h>

#include <map>

#include "UiTestSupport.h"
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

}  // namespace
}  // namespace zorvo::test
