// The Adjustments dialog: the clipboard snippet, the paste, capture restarts and the preview.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSlider>
#include <map>

#include "UiTestSupport.h"
#include "capture/FFMPEGCapture.h"
#include "capture/ImageAdjustments.h"
#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "ui/AdjustmentsDlg.h"

namespace zorvo::test {
namespace {

// The dialog with its file dialog and error box replaced.
class TestAdjustmentsDlg : public CAdjustmentsDlg {
  public:
    int failures = 0;
    QString chosen;

    QSlider* Slider(const char* name) const {
        return findChild<QSlider*>(QString::fromLatin1(name));
    }
    QComboBox* Flip() const { return findChild<QComboBox*>(QStringLiteral("verticalFlip")); }

  protected:
    void ReportCaptureFailure() override { ++failures; }
    QString ChooseVideoFile() override { return chosen; }
};

std::string Clipboard() {
    return QGuiApplication::clipboard()->text().toStdString();
}
void SetClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

std::string StartSnippet(const std::string& path) {
    return "input( \"\", \"" + path +
           "\" ) {\n"
           "\tcolor_balance( 0.00, 0.00, 0.00 );\n"
           "\tbrightness( 0.00 );\n"
           "\tcontrast( 0.00 );\n"
           "\tsaturation( 1.00 );\n"
           "\tnoise_reduction( 0 );\n"
           "\tvertical_flip( auto );\n"
           "}";
}

// The start snippet with one line replaced.
std::string SnippetWith(const std::string& startLine, const std::string& line) {
    std::string text = StartSnippet("");
    const size_t at = text.find(startLine);
    EXPECT_NE(at, std::string::npos) << startLine;
    return text.replace(at, startLine.size(), line);
}

bool SameAsStart(const AdjustmentPositions& p) {
    const AdjustmentPositions start;
    return p.colorBalanceCR == start.colorBalanceCR && p.colorBalanceMG == start.colorBalanceMG &&
           p.colorBalanceYB == start.colorBalanceYB && p.brightness == start.brightness &&
           p.contrast == start.contrast && p.saturation == start.saturation &&
           p.noiseReduction == start.noiseReduction && p.flipItem == start.flipItem;
}

class AdjustmentsTest : public ::testing::Test {
  protected:
    LogCollector log;  // the dialog's captures report here
};

TEST_F(AdjustmentsTest, StartPositionsAndTheirSnippet) {
    TestAdjustmentsDlg dialog;
    EXPECT_TRUE(SameAsStart(dialog.Positions()));
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Zorvo - Adjustments");
    EXPECT_EQ(dialog.Flip()->currentText().toStdString(), "auto");
    EXPECT_EQ(dialog.Flip()->count(), 3);

    // The path goes in as it is, backslashes and all.
    dialog.LoadVideo(QStringLiteral("C:\\v\\take1.avi"));
    dialog.CopySnippet();
    EXPECT_EQ(Clipboard(),
              "input( \"\", \"C:\\v\\take1.avi\" ) {\n\tcolor_balance( 0.00, 0.00, 0.00 );\n"
              "\tbrightness( 0.00 );\n\tcontrast( 0.00 );\n\tsaturation( 1.00 );\n"
              "\tnoise_reduction( 0 );\n\tvertical_flip( auto );\n}");
    // That file does not exist: the capture fails and the error box shows once.
    EXPECT_TRUE(WaitUntil([&] { return dialog.failures == 1; }));
    EXPECT_FALSE(dialog.HasCapture());
}

TEST_F(AdjustmentsTest, MovingAControlWritesTheSnippet) {
    struct Case {
        const char* slider;  // nullptr: the flip choice
        int position;
        const char* startLine;
        const char* line;
        bool restarts;
    };
    const Case cases[] = {
        {"contrast", 100, "contrast( 0.00 )", "contrast( 2.00 )", false},
        {"contrast", 0, "contrast( 0.00 )", "contrast( -2.00 )", false},
        {"contrast", 49, "contrast( 0.00 )", "contrast( -0.04 )", false},
        {"saturation", 100, "saturation( 1.00 )", "saturation( 2.00 )", false},
        {"saturation", 0, "saturation( 1.00 )", "saturation( 0.00 )", false},
        {"brightness", 49, "brightness( 0.00 )", "brightness( -0.02 )", false},
        {"brightness", 100, "brightness( 0.00 )", "brightness( 1.00 )", false},
        {"colorBalanceCR", 49, "( 0.00, 0.00, 0.00 )", "( -0.02, 0.00, 0.00 )", false},
        {"colorBalanceMG", 77, "( 0.00, 0.00, 0.00 )", "( 0.00, 0.54, 0.00 )", false},
        {"colorBalanceYB", 0, "( 0.00, 0.00, 0.00 )", "( 0.00, 0.00, -1.00 )", false},
        {"noiseReduction", 99, "noise_reduction( 0 )", "noise_reduction( 19 )", true},
        {"noiseReduction", 4, "noise_reduction( 0 )", "noise_reduction( 0 )", false},
        {nullptr, 2, "vertical_flip( auto )", "vertical_flip( false )", true},
        {nullptr, 1, "vertical_flip( auto )", "vertical_flip( true )", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.slider ? c.slider : "flip") + " at " +
                     std::to_string(c.position));
        TestAdjustmentsDlg dialog;
        SetClipboard("something else");
        if (c.slider) {
            dialog.Slider(c.slider)->setValue(c.position);
        } else {
            dialog.Flip()->setCurrentIndex(c.position);
            emit dialog.Flip()->activated(c.position);
        }
        EXPECT_EQ(Clipboard(), SnippetWith(c.startLine, c.line));
        // A colour change only rewrites the clipboard; noise and flip restart the capture,
        // which, with no video loaded, opens the empty path and fails.
        EXPECT_EQ(dialog.HasCapture(), c.restarts);
        if (c.restarts) {
            EXPECT_TRUE(WaitUntil([&] { return dialog.failures == 1; }));
        }
    }
}

TEST_F(AdjustmentsTest, PasteSetsTheControls) {
    struct Case {
        const char* text;
        std::map<std::string, int> sliders;  // the ones that move
        int flipItem;
        int noiseLevel;
        bool restarts;
    };
    const Case cases[] = {
        {"color_balance( 0.5, -0.5, 1 )",
         {{"colorBalanceCR", 75}, {"colorBalanceMG", 25}, {"colorBalanceYB", 100}},
         0,
         0,
         false},
        // Only the first color_balance counts.
        {"color_balance( 0.5, 0, 0 ) color_balance( -1, -1, -1 )",
         {{"colorBalanceCR", 75}},
         0,
         0,
         false},
        {"brightness( 3 )", {{"brightness", 100}}, 0, 0, false},
        {"brightness( -7.5 )", {{"brightness", 0}}, 0, 0, false},
        // The last one decides.
        {"brightness( 0.5 ); brightness( -0.5 );", {{"brightness", 25}}, 0, 0, false},
        {"contrast( -1 )", {{"contrast", 25}}, 0, 0, false},
        {"contrast( 0.99 )", {{"contrast", 74}}, 0, 0, false},  // 74.75 truncated
        {"saturation( 1.5 )", {{"saturation", 75}}, 0, 0, false},
        {"noise_reduction( 19 )", {{"noiseReduction", 95}}, 0, 19, true},
        {"noise_reduction( 500000000 )", {{"noiseReduction", 100}}, 0, 500000000, true},
        {"vertical_flip( false )", {}, 2, 0, true},
        {"vertical_flip( TRUE )", {}, 0, 0, true},  // not a flip word, yet a restart
        {"no statement here", {}, 0, 0, false},
        {"input( \"\", \"x.avi\" ) {\n\tcolor_balance( -0.60, 0.20, -0.02 );\n"
         "\tbrightness( -0.02 );\n\tcontrast( -2.00 );\n\tsaturation( 2.00 );\n"
         "\tnoise_reduction( 7 );\n\tvertical_flip( true );\n}",
         {{"colorBalanceCR", 20},
          {"colorBalanceMG", 60},
          {"colorBalanceYB", 49},
          {"brightness", 49},
          {"contrast", 0},
          {"saturation", 100},
          {"noiseReduction", 35}},
         1,
         7,
         true},
    };
    const std::map<std::string, int> start = {
        {"colorBalanceCR", 50}, {"colorBalanceMG", 50}, {"colorBalanceYB", 50}, {"brightness", 50},
        {"contrast", 50},       {"saturation", 50},     {"noiseReduction", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TestAdjustmentsDlg dialog;
        SetClipboard(c.text);
        dialog.PasteSnippet();
        for (const auto& [name, position] : start) {
            const auto moved = c.sliders.find(name);
            EXPECT_EQ(dialog.Slider(name.c_str())->value(),
                      moved == c.sliders.end() ? position : moved->second)
                << name;
        }
        EXPECT_EQ(dialog.Flip()->currentIndex(), c.flipItem);
        EXPECT_EQ(dialog.NoiseLevel(), c.noiseLevel);
        EXPECT_EQ(dialog.HasCapture(), c.restarts);
        // Setting the controls is not a user's move: the clipboard keeps the pasted text.
        EXPECT_EQ(Clipboard(), c.text);
    }
}

TEST_F(AdjustmentsTest, KeyVPastesWithOrWithoutModifiers) {
    struct Case {
        const char* receiver;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {
        {"dialog", Qt::NoModifier},
        {"dialog", Qt::ControlModifier},
        {"brightness", Qt::NoModifier},
        {"verticalFlip", Qt::ShiftModifier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.receiver) + " " + std::to_string(c.modifiers.toInt()));
        TestAdjustmentsDlg dialog;
        dialog.show();
        SetClipboard("brightness( 0.5 ) vertical_flip( false )");
        QWidget* receiver = std::string(c.receiver) == "dialog"
                                ? static_cast<QWidget*>(&dialog)
                                : dialog.findChild<QWidget*>(QString::fromLatin1(c.receiver));
        ASSERT_NE(receiver, nullptr);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_V, c.modifiers, QStringLiteral("v"));
        QCoreApplication::sendEvent(receiver, &press);
        EXPECT_EQ(dialog.Slider("brightness")->value(), 75);
        EXPECT_EQ(dialog.Flip()->currentIndex(), 2);

        // Another key pastes nothing.
        SetClipboard("brightness( -1 )");
        QKeyEvent other(QEvent::KeyPress, Qt::Key_B, c.modifiers, QStringLiteral("b"));
        QCoreApplication::sendEvent(receiver, &other);
        EXPECT_EQ(dialog.Slider("brightness")->value(), 75);
    }
}

TEST_F(AdjustmentsTest, WithoutAVideoThePreviewIsGrey) {
    TestAdjustmentsDlg dialog;
    dialog.show();
    dialog.Slider("brightness")->setValue(90);
    RunEventsFor(100);
    EXPECT_FALSE(dialog.HasCapture());
    const QRect area = dialog.PreviewRect();
    ASSERT_GT(area.width(), 200);
    ASSERT_GT(area.height(), 200);
    const QImage shot = dialog.grab(area).toImage();
    int notGrey = 0;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) {
            notGrey += shot.pixel(x, y) != qRgb(127, 127, 127);
        }
    }
    EXPECT_EQ(notGrey, 0);
}

// A still picture, so every frame of the loop is the same.
class AdjustmentsPreviewTest : public AdjustmentsTest {
  protected:
    void SetUp() override {
        TestVideo video;
        video.codec = TestCodec::Ffv1;
        video.pattern = TestPattern::Coordinates;
        video.width = 64;
        video.height = 48;
        video.frameCount = 110;
        path = dir.File("still.avi");
        std::string error;
        ASSERT_TRUE(WriteTestVideo(path, video, &error)) << error;
    }

    TempDir dir;
    std::string path;
};

TEST_F(AdjustmentsPreviewTest, ShowsTheFramesThroughTheSliders) {
    TestAdjustmentsDlg dialog;
    dialog.chosen = QString::fromStdString(path);
    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("loadVideo"))->click();
    ASSERT_TRUE(dialog.HasCapture());
    dialog.Slider("brightness")->setValue(70);
    dialog.Slider("contrast")->setValue(60);
    dialog.Slider("saturation")->setValue(30);
    dialog.Slider("colorBalanceCR")->setValue(20);
    EXPECT_EQ(dialog.failures, 0);

    // The same frame captured apart from the dialog, through the pixel rule.
    const QRect area = dialog.PreviewRect();
    const CSInput input("reference", path);
    CFFMPEGCapture reference(&input, 0, 100, area.width(), area.height(), 100, 0, FlipMode::Auto);
    ASSERT_TRUE(reference.Start());
    const FrameBitmap* frame = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (frame = reference.GetBitmap(0)) != nullptr; }));
    const AdjustmentValues v = ValuesOf(dialog.Positions());
    const AdjustmentTables tables(v.colorBalanceCR, v.colorBalanceMG, v.colorBalanceYB,
                                  v.brightness, v.contrast, v.saturation);
    const auto expected = [&](int x, int yFromTop) {
        const std::uint8_t* p = frame->Row(area.height() - 1 - yFromTop) + 3 * x;
        const BgrPixel adjusted = tables.Apply(p[0], p[1], p[2]);
        return qRgb(adjusted.red, adjusted.green, adjusted.blue);
    };
    const auto mismatches = [&] {
        const QImage shot = dialog.grab(area).toImage();
        int wrong = 0;
        for (int y = 0; y < area.height(); y += 5) {
            for (int x = 0; x < area.width(); x += 5) {
                wrong += shot.pixel(x, y) != expected(x, y);
            }
        }
        return wrong;
    };
    EXPECT_TRUE(WaitUntil([&] { return mismatches() == 0; })) << mismatches() << " pixels differ";
    // The picture is not plain: top and bottom differ, so an upside-down picture would show.
    EXPECT_NE(expected(10, 0), expected(10, area.height() - 1));

    // The loop runs on past frame 99 and keeps showing the video.
    RunEventsFor(4500);
    EXPECT_TRUE(dialog.HasCapture());
    EXPECT_EQ(dialog.failures, 0);
    EXPECT_EQ(mismatches(), 0);
}

}  // namespace
}  // namespace zorvo::test
