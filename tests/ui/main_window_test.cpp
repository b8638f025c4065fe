// The main window: the receiving end of the log channel, its three actions on a small
// generated session (each blocks all of them while it runs, then shows its result), its controls
// following its size, and the program's own command line.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "UiTestSupport.h"
#include "common/Version.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "support/TestVideo.h"
#include "ui/AdjustmentsDlg.h"
#include "ui/StoryboardDlg.h"

namespace zorvo::test {
namespace {

const std::string kPlainTitle = CZorvoDlg::kTitle;

std::string Title(const QWidget& window) {
    return window.windowTitle().toStdString();
}

TEST(LogReceiverTest, ProgressSetsBarsAndTitle) {
    RecordingWindow window;
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));
    // A build of a missing script fails at once and leaves the preview created and hidden.
    window.StartBuild(QStringLiteral("/nonexistent/missing.txt"));
    ASSERT_TRUE(WaitUntil([&] { return window.BuildJob() == nullptr; }));
    COutputDlg* preview = window.OutputDialog();
    ASSERT_NE(preview, nullptr);
    ASSERT_FALSE(preview->isVisible());
    // A build's opening reset comes before any frame: the preview stays hidden until one.
    size_t count = window.taken.size();
    PostProgress(0, 1);
    ASSERT_TRUE(window.TakeUpTo(++count));
    EXPECT_FALSE(preview->isVisible());
    const std::vector<std::uint8_t> frame(4 * 4 * 3);
    preview->ShowFrame(frame.data(), 4, 4);

    struct Step {
        int percent, bar;
        std::string title;
        int upper, lower;
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
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.percent) + " on bar " + std::to_string(step.bar));
        PostProgress(step.percent, step.bar);
        ASSERT_TRUE(window.TakeUpTo(++count));
        EXPECT_EQ(Title(window), step.title);
        EXPECT_EQ(window.Bar("upperBar")->value(), step.upper);
        EXPECT_EQ(window.Bar("lowerBar")->value(), step.lower);
        EXPECT_EQ(preview->isVisible(), step.previewVisible);
    }
}

TEST(LogReceiverTest, MessagesAreDroppedWhileAdjustmentsIsOpen) {
    RecordingWindow window;
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));
    const std::string logBefore = window.LogText();
    size_t expected = 0;  // messages taken once the four posted below have come
    QElapsedTimer clock;
    clock.start();
    QTimer poll;  // runs in the dialog's own event loop
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* adjustments = window.findChild<CAdjustmentsDlg*>();
        if (adjustments && expected == 0) {
            expected = window.taken.size() + 4;
            PostLog("dropped\n");
            PostProgress(50, 1);
            PostProgress(60, 0);
            PostStatus("00:01");
        } else if (adjustments && (window.taken.size() >= expected || clock.elapsed() > 20000)) {
            adjustments->accept();
        }
    });
    poll.start(5);
    window.Button("adjustments")->click();
    poll.stop();
    ASSERT_EQ(window.taken.size(), expected);
    EXPECT_EQ(window.LogText(), logBefore);
    EXPECT_EQ(Title(window), kPlainTitle);
    EXPECT_EQ(window.Bar("upperBar")->value(), 0);
    EXPECT_EQ(window.Bar("lowerBar")->value(), 0);
    EXPECT_TRUE(window.findChild<QLineEdit*>(QStringLiteral("remaining"))->text().isEmpty());

    // Once the dialog is closed, messages count again.
    PostLog("kept\n");
    ASSERT_TRUE(window.TakeUpTo(window.taken.size() + 1));
    EXPECT_EQ(window.LogText(), logBefore + "kept\n");
}

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
    EXPECT_TRUE(WriteTestVideo(dir.File("cam.avi"), {.frameCount = 90}, &error)) << error;
    const std::string script =
        "output( " + dir.File("song.avi") + ", 64, 48, bicubic, " + dir.File("song.wav") +
        " )\ninput( cam, " + dir.File("cam.avi") + " ) { brightness( 0.1 ); }\ninput( heard, " +
        dir.File("heard.mov") +
        " ) { }\nmarker( 1, 1fullscreen ) { tempo( 93 ); signature( 4, 4 ); display( cam ); }\n"
        "marker( 2 ) { }\n";
    EXPECT_TRUE(WriteTextFile(dir.File("song.txt"), script));
    return dir.File("song.txt");
}

// Notes that a widget was shown, however briefly.
class ShowSpy : public QObject {
  public:
    bool shown = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        shown = shown || event->type() == QEvent::Show;
        return QObject::eventFilter(watched, event);
    }
};

TEST(MainWindowTest, EachActionBlocksAllThenShowsItsResult) {
    TempDir dir;
    const std::string good = MakeSession(dir);
    const std::string bad = dir.File("bad.txt");
    ASSERT_TRUE(WriteTextFile(bad, "output( o.avi, 64, 48 )\nmarker( 1, nolayout ) { }\n"));
    // It arrives in three texts, and shows as one line.
    const std::string badLine = "Error (Layout): Unknown layout type 'nolayout'.\n";
    const std::string build = "build", storyboard = "storyboard", sync = "autoSync";
    struct Case {
        std::string button;
        std::string script;
        std::vector<std::string> logged;  // among the lines the action added
        std::string status;               // the status line after it
    };
    const std::string failure = ": Error (Layout): Unknown layout type 'nolayout'.";
    const std::vector<Case> cases = {
        {build, good, {"* Parsing script...\n", "Done without error.\n"}, ""},
        {build, bad, {badLine}, "Build failed" + failure},
        {storyboard, bad, {badLine}, "Storyboard failed" + failure},
        {storyboard, good, {"Storyboard of 1 still(s)"}, ""},
        {sync, good, {"\ncam: no audio stream; left unchanged\n", "\nheard: offset 812."}, ""},
        {sync, bad, {badLine}, "Auto-sync failed" + failure},
    };
    RecordingWindow window;
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));  // the welcome line, before the user can press a button
    EXPECT_EQ(window.LogText(), std::string("Welcome in Zorvo ") + kVersion + " by r.vosque\n\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button + " of " + c.script);
        window.syncsShown.clear();
        window.OpenScript(QString::fromStdString(c.script));
        if (c.script == bad) {  // what an earlier run left, for the failure to clear
            window.setWindowTitle(QStringLiteral("Zorvo - 32%"));
            window.Bar("lowerBar")->setValue(32);
            window.findChild<QLineEdit*>(QStringLiteral("remaining"))->setText(QStringLiteral("9"));
        }
        window.Button(c.button.c_str())->click();
        const size_t logFrom = window.LogText().size();  // build and storyboard clear the log
        ASSERT_NE(window.OutputDialog(), nullptr);  // made by the first case's build, then kept
        for (const std::string& button : {build, storyboard, sync}) {
            EXPECT_FALSE(window.Button(button.c_str())->isEnabled()) << button;
        }
        // Only by a build that runs: a storyboard writes no video. A short build may show and
        // hide the preview between two polls, so its show event is caught as well.
        ShowSpy spy;
        window.OutputDialog()->installEventFilter(&spy);
        bool previewShown = window.OutputDialog()->isVisible();
        ASSERT_TRUE(WaitUntil(
            [&] {
                previewShown = previewShown || spy.shown || window.OutputDialog()->isVisible();
                return window.Button(c.button.c_str())->isEnabled();
            },
            60000));
        EXPECT_EQ(previewShown, c.button == build && c.script == good);
        for (const std::string& button : {build, storyboard, sync}) {
            EXPECT_TRUE(window.Button(button.c_str())->isEnabled()) << button;
        }
        EXPECT_EQ(window.BuildJob(), nullptr);
        EXPECT_FALSE(window.SyncRunning());
        EXPECT_FALSE(window.OutputDialog()->isVisible());
        // The window posts its own report lines after it has enabled the buttons.
        const auto logged = [&] {
            const std::string log = window.LogText().substr(logFrom);
            return std::all_of(c.logged.begin(), c.logged.end(), [&](const std::string& line) {
                return log.find(line) != std::string::npos;
            });
        };
        EXPECT_TRUE(WaitUntil(logged, 5000)) << window.LogText().substr(logFrom);
        const bool ok = c.script == good;
        const std::string name = ok ? "song.txt" : "bad.txt";
        EXPECT_EQ(Title(window), name + " - " + kPlainTitle);
        EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("statusLine"))->text().toStdString(),
                  c.status);
        if (!ok) {
            EXPECT_EQ(window.Bar("lowerBar")->value(), 0);
            EXPECT_TRUE(
                window.findChild<QLineEdit*>(QStringLiteral("remaining"))->text().isEmpty());
        }
        CStoryboardDlg* sheetWindow = window.StoryboardWindow();
        ASSERT_EQ(sheetWindow && sheetWindow->isVisible(), ok && c.button == storyboard);
        // The log lines above report what the sync's dialog shows.
        ASSERT_EQ(window.syncsShown.size(), ok && c.button == sync ? 1u : 0u);
        EXPECT_TRUE(window.syncsShown.empty() || window.syncsShown[0].size() == 2u);
        if (ok && c.button == build) {
            // The preview kept the last frame, upright.
            EXPECT_EQ(window.Bar("lowerBar")->value(), 100);
            MediaContents contents;
            std::string error;
            ASSERT_TRUE(ReadMedia(dir.File("song.avi"), contents, error)) << error;
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
            EXPECT_FALSE(sheetWindow->Save(QString::fromStdString(dir.File("cam.avi"))));
            // Never over what is not a regular file, nor through a link where it used to write.
            mkfifo(dir.File("fifo").c_str(), 0644);
            std::filesystem::create_symlink("cam.avi", dir.File("sheet.zorvo-partial.png"));
            const std::string camera = test::ReadTextFile(dir.File("cam.avi"));
            for (const std::string& refused : {dir.File("fifo"), dir.Path().string()}) {
                EXPECT_FALSE(sheetWindow->Save(QString::fromStdString(refused))) << refused;
            }
            ASSERT_TRUE(sheetWindow->Save(QString::fromStdString(dir.File("sheet.png"))));
            EXPECT_TRUE(test::ReadTextFile(dir.File("cam.avi")) == camera);
            QImage saved;
            ASSERT_TRUE(saved.load(QString::fromStdString(dir.File("sheet.png"))));
            EXPECT_EQ(saved.convertToFormat(shown.format()), shown);
            sheetWindow->hide();
        }
    }
}

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

// Controls follow the window's size: edge rules, then pushed clear of the controls that lay
// above them or to their left.
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

// These must answer before Qt starts: no display, no platform plugin.
TEST(GuiCommandLine, AnswersWithoutADisplay) {
    struct Case {
        std::string arguments;
        int status;
        std::string start;  // of standard output
    };
    const std::vector<Case> cases = {
        {"--help", 0, "Usage: zorvo-gui [SCRIPT]\n"},
        {"--version", 0, std::string("zorvo-gui ") + kVersion + "\n"},
        {"a b", 2, ""},
        {"--frob", 2, ""},
        {"", 1, ""},  // one line, no abort
    };
    // This program's own QApplication is up already; only the children see the change.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        unsetenv(name);
    }
    for (const Case& c : cases) {
        const ProgramRun run = RunZorvo(c.arguments, "zorvo-gui");
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out.substr(0, c.start.size()), c.start) << c.arguments;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.status != 0) << run.err;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace
}  // namespace zorvo::test
