// The Adjustments dialog: the clipboard snippet, the paste and capture restarts.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QSlider>

#include "UiTestSupport.h"
#include "common/LogCollector.h"
#include "ui/AdjustmentSnippet.h"
#include "ui/AdjustmentsDlg.h"

namespace zorvo::test {
namespace {

// The dialog with its file dialog and error box replaced.
class TestAdjustmentsDlg : public CAdjustmentsDlg {
  public:
    int failures = 0;

    QSlider* Slider(const char* name) const {
        return findChild<QSlider*>(QString::fromLatin1(name));
    }
    std::string Value(const char* name) const {
        const auto* label = findChild<QLabel*>(QString::fromLatin1(name) + QStringLiteral("Value"));
        return label ? label->text().toStdString() : "none";
    }
    QComboBox* Flip() const { return findChild<QComboBox*>(QStringLiteral("verticalFlip")); }

  protected:
    void ReportCaptureFailure() override { ++failures; }
    QString ChooseVideoFile() override { return {}; }
};

std::string Clipboard() {
    return QGuiApplication::clipboard()->text().toStdString();
}
void SetClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

// The snippet of the controls' start positions with one line replaced.
std::string SnippetWith(const std::string& startLine, const std::string& line) {
    std::string text =
        "input( \"cam\", \"\" ) {\n\tcolor_balance( 0.00, 0.00, 0.00 );\n\tbrightness( 0.00 );\n"
        "\tcontrast( 0.00 );\n\tsaturation( 1.00 );\n\tnoise_reduction( 0 );\n"
        "\tvertical_flip( auto );\n}";
    const size_t at = text.find(startLine);
    EXPECT_NE(at, std::string::npos) << startLine;
    return text.replace(at, startLine.size(), line);
}

TEST(AdjustmentsTest, MovingAControlWritesTheSnippet) {
    LogCollector log;  // the dialog's captures report here
    struct Case {
        const char* slider;  // nullptr: the flip choice
        int position;
        const char* startLine;
        const char* line;
        bool restarts;
        std::string value;  // shown beside the slider
    };
    const Case cases[] = {
        {"contrast", 0, "contrast( 0.00 )", "contrast( -2.00 )", false, "-2.00"},
        {"contrast", 49, "contrast( 0.00 )", "contrast( -0.04 )", false, "-0.04"},
        {"saturation", 100, "saturation( 1.00 )", "saturation( 2.00 )", false, "2.00"},
        {"brightness", 49, "brightness( 0.00 )", "brightness( -0.02 )", false, "-0.02"},
        {"colorBalanceCR", 49, "( 0.00, 0.00, 0.00 )", "( -0.02, 0.00, 0.00 )", false, "-0.02"},
        {"colorBalanceMG", 77, "( 0.00, 0.00, 0.00 )", "( 0.00, 0.54, 0.00 )", false, "0.54"},
        {"colorBalanceYB", 0, "( 0.00, 0.00, 0.00 )", "( 0.00, 0.00, -1.00 )", false, "-1.00"},
        {"noiseReduction", 99, "noise_reduction( 0 )", "noise_reduction( 19 )", true, "19"},
        {"noiseReduction", 4, "noise_reduction( 0 )", "noise_reduction( 0 )", false, "0"},
        {nullptr, 2, "vertical_flip( auto )", "vertical_flip( false )", true, ""},
        {nullptr, 1, "vertical_flip( auto )", "vertical_flip( true )", true, ""},
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
        if (c.slider) {
            EXPECT_EQ(dialog.Value(c.slider), c.value);
        }
        // A colour change only rewrites the clipboard; noise and flip restart the capture,
        // which, with no video loaded, opens the empty path and fails.
        EXPECT_EQ(dialog.HasCapture(), c.restarts);
        if (c.restarts) {
            EXPECT_TRUE(WaitUntil([&] { return dialog.failures == 1; }));
        }
    }
}

TEST(AdjustmentsTest, SnippetIdIsAWordOfTheFileName) {
    const std::pair<std::string, std::string> cases[] = {
        {"/clips/Cam 2.take.MOV", "Cam_2"}, {"take1.avi", "take1"}, {"/clips/.mov", "cam"}};
    for (const auto& [path, id] : cases) {
        EXPECT_EQ(SnippetId(path), id) << path;
    }
}

TEST(AdjustmentsTest, PasteSetsTheControls) {
    LogCollector log;
    struct Case {
        const char* text;
        AdjustmentPositions positions;
        int noiseLevel;
        bool restarts;
    };
    const Case cases[] = {
        {"color_balance( 0.5, -0.5, 1 )",
         {.colorBalanceCR = 75, .colorBalanceMG = 25, .colorBalanceYB = 100},
         0,
         false},
        // The last statement of each kind decides, as in a script; a malformed one is left out.
        {"color_balance( -1, -1, -1 ) color_balance( 0.5, 0, 0 ) color_balance( 1 )",
         {.colorBalanceCR = 75},
         0,
         false},
        {"brightness( 0.5 ); brightness( -7.5 );", {.brightness = 0}, 0, false},
        {"contrast( 0.99 )", {.contrast = 74}, 0, false},  // 74.75 truncated
        {"saturation( 1.5 )", {.saturation = 75}, 0, false},
        {"noise_reduction( 500000000 )", {.noiseReduction = 100}, 500000000, true},
        {"vertical_flip( false )", {.flipItem = 2}, 0, true},
        {"vertical_flip( TRUE )", {}, 0, true},  // not a flip word, yet a restart
        {"no statement here", {}, 0, false},
        {"input( \"\", \"x.avi\" ) {\n\tcolor_balance( -0.60, 0.20, -0.02 );\n"
         "\tbrightness( 3 );\n\tcontrast( -2.00 );\n\tsaturation( 2.00 );\n"
         "\tnoise_reduction( 7 );\n\tvertical_flip( true );\n}",
         {20, 60, 49, 100, 0, 100, 35, 1},
         7,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TestAdjustmentsDlg dialog;
        SetClipboard(c.text);
        dialog.PasteSnippet();
        const AdjustmentPositions& p = c.positions;
        const std::pair<const char*, int> sliders[] = {{"colorBalanceCR", p.colorBalanceCR},
                                                       {"colorBalanceMG", p.colorBalanceMG},
                                                       {"colorBalanceYB", p.colorBalanceYB},
                                                       {"brightness", p.brightness},
                                                       {"contrast", p.contrast},
                                                       {"saturation", p.saturation},
                                                       {"noiseReduction", p.noiseReduction}};
        for (const auto& [name, position] : sliders) {
            EXPECT_EQ(dialog.Slider(name)->value(), position) << name;
        }
        EXPECT_EQ(dialog.Flip()->currentIndex(), p.flipItem);
        EXPECT_EQ(dialog.NoiseLevel(), c.noiseLevel);
        EXPECT_EQ(dialog.HasCapture(), c.restarts);
        // Setting the controls is not a user's move: the clipboard keeps the pasted text.
        EXPECT_EQ(Clipboard(), c.text);
    }
}

}  // namespace
}  // namespace zorvo::test
