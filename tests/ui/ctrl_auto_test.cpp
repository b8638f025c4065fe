// Controls follow the main window's size: edge rules, then pushed clear of the controls that
// lay above them or to their left.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <map>

#include "RecordingWindow.h"
#include "ui/CtrlAuto.h"

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

const char* const kControls[] = {"log",   "upperBar",    "lowerBar", "remainingLabel", "remaining",
                                 "build", "adjustments", "autoSync", "storyboard"};
// The bottom row, left to right.
const char* const kBottomRow[] = {"adjustments",    "autoSync",  "storyboard",
                                  "remainingLabel", "remaining", "build"};

class MainWindowAnchoringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
        initialSize = window.size();
        for (const char* name : kControls) {
            QWidget* control = window.findChild<QWidget*>(QString::fromLatin1(name));
            ASSERT_NE(control, nullptr) << name;
            initial[name] = EdgesOf(*control);
        }
    }

    // Resizes the window and waits until it has the size it keeps.
    void ResizeTo(QSize size, QSize expected) {
        window.resize(size);
        ASSERT_TRUE(WaitUntil([&] { return window.size() == expected; }))
            << window.width() << " x " << window.height();
    }

    Edges Now(const char* name) const {
        return EdgesOf(*window.findChild<QWidget*>(QString::fromLatin1(name)));
    }

    void ExpectAll(const std::map<std::string, Edges>& expected) const {
        for (const auto& [name, edges] : expected) {
            EXPECT_EQ(Now(name.c_str()), edges) << name;
        }
    }

    RecordingWindow window;
    QSize initialSize;
    std::map<std::string, Edges> initial;
};

TEST_F(MainWindowAnchoringTest, HundredPixelsTaller) {
    ResizeTo(initialSize + QSize(0, 100), initialSize + QSize(0, 100));
    std::map<std::string, Edges> expected = initial;
    for (auto& [name, edges] : expected) {
        edges.bottom += 100;
    }
    // Each bar closes up to the control above it, the bottom row to the lower bar.
    expected["upperBar"].top = expected["log"].bottom;
    expected["lowerBar"].top = expected["upperBar"].bottom;
    for (const char* name : kBottomRow) {
        expected[name].top = expected["lowerBar"].bottom;
    }
    ExpectAll(expected);
}

// Records over plain widgets, to follow chains of pushes.
class RelayoutTest : public ::testing::Test {
  protected:
    QWidget* Add(QRect geometry, int leftMode, int rightMode, int bottomMode) {
        auto& widget = widgets.emplace_back(std::make_unique<QWidget>(&parent));
        widget->setGeometry(geometry);
        AddControl(widget.get(), list, leftMode, rightMode);
        list.back().bottomMode = bottomMode;
        return widget.get();
    }
    void Record() {
        for (CCtrlAuto& record : list) {
            RecordInitial(parent, record);
        }
    }

    QWidget parent;
    std::vector<std::unique_ptr<QWidget>> widgets;
    std::vector<CCtrlAuto> list;
};

TEST_F(RelayoutTest, PushesRunUntilNothingOverlaps) {
    parent.resize(200, 200);
    // Listed bottom to top: each push uncovers the need for another one in a later sweep.
    QWidget* low = Add(QRect(10, 150, 50, 20), 0, 0, 2);
    QWidget* middle = Add(QRect(10, 100, 50, 30), 0, 0, 2);
    QWidget* top = Add(QRect(10, 10, 50, 80), 0, 0, 0);
    Record();
    Relayout(list, 200, 300);
    EXPECT_EQ(EdgesOf(*top), (Edges{10, 10, 60, 190}));
    EXPECT_EQ(EdgesOf(*middle), (Edges{10, 190, 60, 220}));  // keeps its height of 30
    EXPECT_EQ(EdgesOf(*low), (Edges{10, 220, 60, 240}));     // keeps its height of 20
    for (const CCtrlAuto& record : list) {
        EXPECT_EQ(EdgesOf(*record.control),
                  (Edges{record.currentRect.left, record.currentRect.top, record.currentRect.right,
                         record.currentRect.bottom}));
    }
}

}  // namespace
}  // namespace zorvo::test
