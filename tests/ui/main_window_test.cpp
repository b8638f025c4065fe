// The main window's three actions on a small generated session: each blocks all of them while
// it runs, then shows its result.
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <map>
#include <vector>

#include "RecordingWindow.h"
#include "support/AviReader.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "support/TestVideo.h"
#include "ui/StoryboardDlg.h"

namespace zorvo::test {
namespace {

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

QRgb Rgb(const std::uint8_t* bgr) {
    return qRgb(bgr[2], bgr[1], bgr[0]);
}

// One measure of 4/4 at 93 bpm shows a silent video; the sync hears a second camera, 812.5 ms
// into the song.
std::string MakeSession(const TempDir& dir) {
    const SyntheticSong song(21, 6.0);
    EXPECT_TRUE(WriteSongWave(dir.File("song.wav"), song.Render(44100), 44100));
    const Room room{0.4, {{0.0113, 0.5}}, 120.0, 7000.0, 0.02, 0.0, 5};
    CameraFile heard{TestAudioCodec::Pcm, 48000, {}, 0.0, 0.0, 5.0};
    heard.samples = CameraSound(song, 0.8125, 0.0, 48000, 5.0, room);
    std::string error;
    EXPECT_TRUE(WriteCameraFile(dir.File("heard.mov"), heard, &error)) << error;
    TestVideo video;
    video.frameCount = 90;
    EXPECT_TRUE(WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    const std::string script =
        "output( " + dir.File("song.avi") + ", 64, 48, bicubic, " + dir.File("song.wav") +
        " )\ninput( cam, " + dir.File("cam.avi") + " ) { brightness( 0.1 ); }\ninput( heard, " +
        dir.File("heard.mov") +
        " ) { }\nmarker( 1, 1fullscreen ) { tempo( 93 ); signature( 4, 4 ); display( cam ); }\n"
        "marker( 2 ) { }\n";
    EXPECT_TRUE(WriteTextFile(dir.File("song.txt"), script));
    return dir.File("song.txt");
}

TEST(MainWindowTest, EachActionBlocksAllThenShowsItsResult) {
    TempDir dir;
    const std::string good = MakeSession(dir);
    const std::string bad = dir.File("bad.txt");
    ASSERT_TRUE(WriteTextFile(bad, "output( o.avi, 64, 48 )\nmarker( 1 ) { }\n"));
    const std::string build = "build", storyboard = "storyboard", sync = "autoSync";
    struct Case {
        std::string button;
        std::string script;
        std::vector<std::string> logged;  // among the lines the action added
    };
    const std::vector<Case> cases = {
        {build, good, {"* Parsing script...\n", "Done without error.\n"}},
        {storyboard, bad, {"Error ("}},
        {storyboard, good, {"Storyboard of 1 still(s)"}},
        {sync, good, {"\ncam: no audio stream; left unchanged\n", "\nheard: offset 812."}},
        {sync, bad, {"Error ("}},
    };
    RecordingWindow window;
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));  // the welcome line, before the user can press a button
    VisibilityLog visibility;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button + " of " + c.script);
        window.syncsShown.clear();
        window.scriptPath = QString::fromStdString(c.script);
        window.Button(c.button.c_str())->click();
        const size_t logFrom = window.LogText().size();  // build and storyboard clear the log
        if (c.button == build) {
            ASSERT_NE(window.OutputDialog(), nullptr);
            window.OutputDialog()->installEventFilter(&visibility);
        }
        for (const std::string& button : {build, storyboard, sync}) {
            EXPECT_FALSE(window.Button(button.c_str())->isEnabled()) << button;
        }
        ASSERT_TRUE(WaitUntil([&] { return window.Button(c.button.c_str())->isEnabled(); }, 60000));
        for (const std::string& button : {build, storyboard, sync}) {
            EXPECT_TRUE(window.Button(button.c_str())->isEnabled()) << button;
        }
        EXPECT_EQ(window.BuildJob(), nullptr);
        EXPECT_FALSE(window.SyncRunning());
        EXPECT_FALSE(window.OutputDialog() && window.OutputDialog()->isVisible());
        const std::string log = window.LogText().substr(logFrom);
        for (const std::string& line : c.logged) {
            EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
        }
        const bool ok = c.script == good;
        if (ok) {
            EXPECT_EQ(window.windowTitle().toStdString(), CZorvoDlg::kTitle);
        }
        CStoryboardDlg* sheetWindow = window.StoryboardWindow();
        ASSERT_EQ(sheetWindow && sheetWindow->isVisible(), ok && c.button == storyboard);
        ASSERT_EQ(window.syncsShown.size(), ok && c.button == sync ? 1u : 0u);
        if (ok && c.button == build) {
            // The preview showed while the build ran, and kept the last frame, upright.
            EXPECT_EQ(visibility.events, (std::vector<QEvent::Type>{QEvent::Show, QEvent::Hide}));
            EXPECT_EQ(window.Bar("lowerBar")->value(), 100);
            AviContents contents;
            std::string error;
            ASSERT_TRUE(ReadAvi(dir.File("song.avi"), contents, error)) << error;
            ASSERT_FALSE(contents.pictures.empty());
            const std::vector<std::uint8_t>& last = contents.pictures.back();  // rows from the top
            const QImage picture = window.OutputDialog()->Picture();
            EXPECT_EQ(picture.pixel(0, picture.height() - 1), Rgb(&last[47 * 64 * 3]));
            EXPECT_EQ(picture.pixel(picture.width() - 1, 0), Rgb(&last[63 * 3]));
        } else if (ok && c.button == storyboard) {
            // The sheet shows upright, in its own colours, and is saved so.
            const FrameBitmap& sheet = sheetWindow->Sheet();
            const QImage shown =
                sheetWindow->findChild<QLabel*>(QStringLiteral("sheet"))->pixmap().toImage();
            ASSERT_EQ(shown.size(), QSize(sheet.Width(), sheet.Height()));
            for (const QPoint p : {QPoint(30, 40), QPoint(sheet.Width() / 2, sheet.Height() / 2)}) {
                EXPECT_EQ(shown.pixel(p), Rgb(sheet.Row(sheet.Height() - 1 - p.y()) + 3 * p.x()));
            }
            ASSERT_TRUE(sheetWindow->Save(QString::fromStdString(dir.File("sheet.png"))));
            QImage saved;
            ASSERT_TRUE(saved.load(QString::fromStdString(dir.File("sheet.png"))));
            EXPECT_EQ(saved.convertToFormat(shown.format()), shown);
            sheetWindow->hide();
        } else if (ok && c.button == sync) {
            std::map<std::string, SyncOutcome> outcomes;
            for (const SyncResult& result : window.syncsShown[0]) {
                outcomes[result.id] = result.outcome;
                if (result.id == "heard") {
                    EXPECT_NEAR(result.offsetMs, 812.5, 1.0);
                }
            }
            EXPECT_EQ(outcomes,
                      (std::map<std::string, SyncOutcome>{{"cam", SyncOutcome::NoAudio},
                                                          {"heard", SyncOutcome::Matched}}));
        }
    }
}

}  // namespace
}  // namespace zorvo::test
