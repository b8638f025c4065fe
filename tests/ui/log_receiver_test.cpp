// The main window as the receiving end of the log channel.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "RecordingWindow.h"
#include "common/Version.h"
#include "render/Project.h"
#include "support/TestPaths.h"
#include "ui/AdjustmentsDlg.h"

namespace zorvo::test {
namespace {

const std::string kPlainTitle = CZorvoDlg::kTitle;

class LogReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(window.TakeUpTo(1));
    }

    std::string Title() const { return window.windowTitle().toStdString(); }

    TempDir dir;
    RecordingWindow window;
};

TEST_F(LogReceiverTest, WelcomeLineAndLineFeeds) {
    const std::string welcome = std::string("Welcome in Zorvo ") + kVersion + " by r.vosque\n\n";
    EXPECT_EQ(window.LogText(), welcome);

    const auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("log"));
    const int blocksBefore = log->blockCount();
    PostLog("first line\nsecond line\n");
    // A line quoting the user's word arrives as three texts and still shows as one line.
    PostQuoted("Error (SMEffect): Unknown effect type '", "zoom", "'.\n");
    ASSERT_TRUE(window.TakeUpTo(5));
    EXPECT_EQ(window.LogText(), welcome +
                                    "first line\nsecond line\n"
                                    "Error (SMEffect): Unknown effect type 'zoom'.\n");
    EXPECT_EQ(log->blockCount(), blocksBefore + 3);
    EXPECT_EQ(log->document()->findBlockByNumber(blocksBefore - 1).text(), "first line");
    EXPECT_EQ(log->document()->findBlockByNumber(blocksBefore).text(), "second line");
}

TEST_F(LogReceiverTest, ProgressSetsBarsAndTitle) {
    // A build of a missing script fails at once and leaves the preview created and hidden.
    window.scriptPath = QString::fromStdString(dir.File("missing.txt"));
    window.Button("build")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.BuildJob() == nullptr; }));
    const COutputDlg* preview = window.OutputDialog();
    ASSERT_NE(preview, nullptr);
    ASSERT_FALSE(preview->isVisible());

    struct Step {
        int percent;
        int bar;
        std::string title;
        int upper;
        int lower;
        bool previewVisible;
    };
    // Each step follows the one before it.
    const Step steps[] = {
        {42, 0, kPlainTitle, 42, -1, false},     // the upper bar leaves title and preview alone
        {99, 1, "Zorvo - 99%", 42, 99, true},    // the lower bar shows the percentage
        {100, 0, "Zorvo - 99%", 100, 99, true},  // even an upper 100 keeps the title
        {0, 1, "Zorvo - 0%", 100, 0, true},
        {100, 1, kPlainTitle, 100, 100, true},  // 100 restores the plain title
        {7, 2, "Zorvo - 7%", 100, 7, true},     // any bar but 0 is the lower one
    };
    // Whatever the failed build left behind.
    window.setWindowTitle(QString::fromStdString(kPlainTitle));
    window.Bar("lowerBar")->reset();  // -1: no position
    size_t count = window.taken.size();
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.percent) + " on bar " + std::to_string(step.bar));
        PostProgress(step.percent, step.bar);
        ASSERT_TRUE(window.TakeUpTo(++count));
        EXPECT_EQ(Title(), step.title);
        EXPECT_EQ(window.Bar("upperBar")->value(), step.upper);
        EXPECT_EQ(window.Bar("lowerBar")->value(), step.lower);
        EXPECT_EQ(preview->isVisible(), step.previewVisible);
    }
}

TEST_F(LogReceiverTest, MessagesAreDroppedWhileAdjustmentsIsOpen) {
    const std::string logBefore = window.LogText();
    bool sawDialog = false;
    size_t expected = 0;
    QElapsedTimer clock;
    clock.start();
    const auto poll = PollFromEventLoop([&] {
        auto* adjustments = window.findChild<CAdjustmentsDlg*>();
        if (!adjustments) {
            return clock.elapsed() > 20000;
        }
        if (expected == 0) {
            sawDialog = adjustments->isVisible();
            expected = window.taken.size() + 4;
            PostLog("dropped\n");
            PostProgress(50, 1);
            PostProgress(60, 0);
            PostStatus("00:01");
            return false;
        }
        if (window.taken.size() < expected && clock.elapsed() < 20000) {
            return false;
        }
        adjustments->accept();
        return true;
    });
    window.Button("adjustments")->click();
    ASSERT_TRUE(sawDialog);
    ASSERT_EQ(window.taken.size(), expected);
    EXPECT_EQ(window.LogText(), logBefore);
    EXPECT_EQ(Title(), kPlainTitle);
    EXPECT_EQ(window.Bar("upperBar")->value(), 0);
    EXPECT_EQ(window.Bar("lowerBar")->value(), 0);
    EXPECT_TRUE(window.findChild<QLineEdit*>(QStringLiteral("remaining"))->text().isEmpty());

    // Once the dialog is closed, messages count again.
    PostLog("kept\n");
    ASSERT_TRUE(window.TakeUpTo(window.taken.size() + 1));
    EXPECT_EQ(window.LogText(), logBefore + "kept\n");
}

}  // namespace
}  // namespace zorvo::test
