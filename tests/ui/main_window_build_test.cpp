// A whole build driven from the main window, on a small generated session.
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <algorithm>
#include <vector>

#include "RecordingWindow.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"
#include "ui/StoryboardDlg.h"

namespace zorvo::test {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
// One measure of 4/4 at 120 bpm: 2000 ms, 50 frames.
constexpr int kFrames = 50;

// Notes the preview's show and hide events.
class VisibilityLog : public QObject {
  public:
    std::vector<QEvent::Type> events;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
            events.push_back(event->type());
        }
        return false;
    }
};

// A one-camera session of `measures` measures of 4/4 at 120 bpm (50 frames each), written into
// `dir`; returns the script's path.
std::string MakeSession(const TempDir& dir, int measures) {
    TestVideo video;
    video.frameCount = measures * 50 + 20;
    std::string error;
    EXPECT_TRUE(WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    // 44100 Hz, 16-bit stereo: one second more than the video.
    const size_t seconds = static_cast<size_t>(measures) * 2 + 1;
    EXPECT_TRUE(
        WriteWaveFile(dir.File("song.wav"), WaveFormat{}, PatternBytes(seconds * 176400, 3)));
    const std::string script = "output( " + dir.File("song.avi") + ", " + std::to_string(kWidth) +
                               ", " + std::to_string(kHeight) + ", bicubic, " +
                               dir.File("song.wav") +
                               " )\n"
                               "input( cam, " +
                               dir.File("cam.avi") +
                               " ) { brightness( 0.1 ); }\n"
                               "marker( 1, 1fullscreen ) { tempo( 120 ); signature( 4, 4 ); "
                               "display( cam ); }\n"
                               "marker( " +
                               std::to_string(measures + 1) + " ) { }\n";
    EXPECT_TRUE(WriteTextFile(dir.File("song.txt"), script));
    return dir.File("song.txt");
}

TEST(MainWindowBuildTest, BuildsASessionFromTheBuildButton) {
    TempDir dir;
    const std::string scriptPath = MakeSession(dir, 1);
    const std::string output = dir.File("song.avi");
    std::string error;

    RecordingWindow window;
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));  // the welcome line, before the user can press Build
    window.scriptPath = QString::fromStdString(scriptPath);
    window.Button("build")->click();
    EXPECT_FALSE(window.Button("build")->isEnabled());
    COutputDlg* preview = window.OutputDialog();
    ASSERT_NE(preview, nullptr);
    VisibilityLog visibility;
    preview->installEventFilter(&visibility);

    ASSERT_TRUE(WaitUntil([&] { return window.Button("build")->isEnabled(); }, 120000));
    EXPECT_EQ(window.BuildJob(), nullptr);
    const std::string log = window.LogText();
    const std::string last = "Done without error.\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
    EXPECT_EQ(log.rfind("* Parsing script...\n", 0), 0u) << log;
    EXPECT_EQ(window.windowTitle().toStdString(), CZorvoDlg::kTitle);
    EXPECT_EQ(window.Bar("lowerBar")->value(), 100);
    EXPECT_EQ(visibility.events, (std::vector<QEvent::Type>{QEvent::Show, QEvent::Hide}));
    EXPECT_FALSE(preview->isVisible());

    AviContents contents;
    ASSERT_TRUE(ReadAvi(output, contents, error)) << error;
    ASSERT_EQ(contents.streams.size(), 2u);
    const auto videoStream =
        std::find_if(contents.streams.begin(), contents.streams.end(),
                     [](const AviStreamInfo& stream) { return stream.type == "video"; });
    ASSERT_NE(videoStream, contents.streams.end());
    EXPECT_EQ(videoStream->width, kWidth);
    EXPECT_EQ(videoStream->height, kHeight);
    ASSERT_EQ(contents.pictures.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(contents.audio.size(), static_cast<size_t>(kFrames) * 176400 / 25);

    // The preview kept the last written frame, upright: compare its first and last corners.
    const std::vector<std::uint8_t>& lastFrame = contents.pictures.back();  // rows from the top
    const QImage picture = preview->Picture();
    const std::uint8_t* bottomLeft = &lastFrame[static_cast<size_t>(kHeight - 1) * kWidth * 3];
    const std::uint8_t* topRight = &lastFrame[(kWidth - 1) * 3];
    EXPECT_EQ(picture.pixel(0, picture.height() - 1),
              qRgb(bottomLeft[2], bottomLeft[1], bottomLeft[0]));
    EXPECT_EQ(picture.pixel(picture.width() - 1, 0), qRgb(topRight[2], topRight[1], topRight[0]));
}

TEST(MainWindowBuildTest, StoryboardShowsTheSheetInAWindowOfItsOwn) {
    TempDir dir;
    const std::string scriptPath = MakeSession(dir, 2);
    ASSERT_TRUE(WriteTextFile(dir.File("bad.txt"), "output( o.avi, 64, 48 )\nmarker( 1 ) { }\n"));
    struct Case {
        std::string script;
        bool shown;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {dir.File("bad.txt"), false, "Error ("},
        {scriptPath, true, "Storyboard of 1 still(s)"},
    };
    RecordingWindow window;
    window.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        window.scriptPath = QString::fromStdString(c.script);
        window.Button("storyboard")->click();
        for (const char* button : {"storyboard", "build", "autoSync"}) {
            EXPECT_FALSE(window.Button(button)->isEnabled()) << button;
        }
        ASSERT_TRUE(WaitUntil([&] { return window.Button("storyboard")->isEnabled(); }, 60000));
        EXPECT_NE(window.LogText().find(c.logged), std::string::npos) << window.LogText();
        CStoryboardDlg* sheetWindow = window.StoryboardWindow();
        ASSERT_EQ(sheetWindow != nullptr && sheetWindow->isVisible(), c.shown);
        if (!c.shown) {
            continue;
        }
        EXPECT_FALSE(window.OutputDialog() && window.OutputDialog()->isVisible());
        // The window shows the sheet upright, in its own colours.
        const FrameBitmap& sheet = sheetWindow->Sheet();
        const QImage shown =
            sheetWindow->findChild<QLabel*>(QStringLiteral("sheet"))->pixmap().toImage();
        ASSERT_EQ(shown.size(), QSize(sheet.Width(), sheet.Height()));
        for (const QPoint p : {QPoint(30, 40), QPoint(sheet.Width() / 2, sheet.Height() / 2)}) {
            const std::uint8_t* bgr = sheet.Row(sheet.Height() - 1 - p.y()) + 3 * p.x();
            EXPECT_EQ(shown.pixel(p), qRgb(bgr[2], bgr[1], bgr[0])) << p.x() << "," << p.y();
        }
        ASSERT_TRUE(sheetWindow->Save(QString::fromStdString(dir.File("sheet.png"))));
        QImage saved;
        ASSERT_TRUE(saved.load(QString::fromStdString(dir.File("sheet.png"))));
        EXPECT_EQ(saved.convertToFormat(shown.format()), shown);
    }
}

}  // namespace
}  // namespace zorvo::test
