// The studio in the main window: the picture and its label, clicks, typed moments, the keys at
// the song's end, the room the preview takes, and the window's status lines.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

#include "UiTestSupport.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"
#include "ui/OutputDlg.h"
#include "ui/StudioView.h"
#include "ui/TimelineView.h"

namespace zorvo::test {
namespace {

// Two cameras, a 4 s song at 120 bpm (2 measures, 100 frames), a 1left_1right cut.
class StudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestVideo video;
        video.frameCount = 125;
        ASSERT_TRUE(WriteTestVideo(dir.File("a.avi"), video));
        ASSERT_TRUE(WriteSongWave(dir.File("song.wav"), std::vector<float>(4 * 8000, 0.0f), 8000));
        script = dir.File("song.zorvo");
        ASSERT_TRUE(WriteTextFile(script, Text("1left_1right")));
        studio = StudioView::AttachTo(window);
        window.resize(1280, 900);
        window.show();
        ASSERT_TRUE(window.TakeUpTo(1));
    }
    static std::string Text(const std::string& layout) {
        return "output( out.avi, 320, 180, bilinear, song.wav )\ninput( a, a.avi ) { }\n"
               "input( b, a.avi, center, 1000 ) { }\nmarker( 1, " +
               layout +
               " ) { tempo( 120 ); signature( 4, 4 ); display( a ) display( b ) }\n"
               "marker( 3 ) { }\n";
    }
    // Waits until the preview shows the frame asked for last, and says what it is labelled.
    std::string Shown() {
        EXPECT_TRUE(WaitUntil([&] { return !studio->Preview()->Busy(); }));
        return studio->Preview()->Label().toStdString();
    }
    void Key(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(studio->Timeline(), &press);
    }

    TempDir dir;
    std::string script;
    RecordingWindow window;
    StudioView* studio = nullptr;
};

// Every picture carries its own moment (as `still` names it); the latest of several quick clicks is
// the one shown; End goes to the last frame, and neither it nor the beat before it says no frame is
// there.
TEST_F(StudioTest, ThePictureShownIsTheOneAskedForAndSaysWhen) {
    window.OpenScript(QString::fromStdString(script));
    EXPECT_EQ(Shown(), "00:00.000   1.1");
    const QString none = QStringLiteral("No frame is rendered at this moment.");
    for (const double ms : {500.0, 2500.0, 1520.0}) {
        studio->SetPlayhead(ms);
        EXPECT_TRUE(studio->Preview()->Busy());
    }
    EXPECT_EQ(Shown(), "00:01.520   1.4+");
    Key(Qt::Key_End);
    EXPECT_DOUBLE_EQ(studio->Timeline()->Playhead(), 3960);
    EXPECT_EQ(Shown(), "00:03.960   2.4+");
    EXPECT_NE(studio->Status(), none);
    studio->SetPlayhead(4000);  // the song's end: no frame
    EXPECT_EQ(studio->Status(), none);
    Key(Qt::Key_Left);
    EXPECT_EQ(Shown(), "00:03.480   2.4");
    EXPECT_NE(studio->Status(), none);
    // Opening again starts with a frame, and says nothing of a missing one.
    window.OpenScript(QString::fromStdString(script));
    EXPECT_EQ(Shown(), "00:00.000   1.1");
    EXPECT_NE(studio->Status(), none);
}

// The playhead takes a moment typed as `still --at` takes it; one that names none is refused
// with both forms.
TEST_F(StudioTest, TypedMomentsMoveThePlayhead) {
    window.OpenScript(QString::fromStdString(script));
    Shown();
    struct Case {
        const char* typed;
        double ms;  // -1: refused
        const char* said;
    };
    for (const Case& c : std::vector<Case>{{"0:01.5", 1500, ""},
                                           {"2.3", 3000, ""},
                                           {"2.5s", 2500, ""},
                                           {"7.05", -1, "7.5s"},
                                           {"2.5", -1, "the song has 100 frames"},
                                           {"9s", -1, "MEASURE.BEAT"}}) {
        studio->SetPlayhead(100);
        EXPECT_EQ(studio->GoTo(QString::fromLatin1(c.typed)), c.ms >= 0) << c.typed;
        EXPECT_DOUBLE_EQ(studio->Timeline()->Playhead(), c.ms >= 0 ? c.ms : 100) << c.typed;
        EXPECT_TRUE(studio->Status().contains(QString::fromLatin1(c.said)))
            << c.typed << ": " << studio->Status().toStdString();
    }
    // Typed into the playhead's field and Enter.
    auto* field = studio->findChild<QLineEdit*>(QStringLiteral("playhead"));
    ASSERT_NE(field, nullptr);
    field->setText(QStringLiteral("1.2"));
    emit field->returnPressed();
    EXPECT_DOUBLE_EQ(studio->Timeline()->Playhead(), 500);
    EXPECT_EQ(Shown(), "00:00.480   1.2");
}

// A script saved again is re-read at once; its cameras are opened off the window's thread, the
// last picture staying meanwhile with the status saying so, then the frame at the kept playhead.
TEST_F(StudioTest, CamerasAreOpenedBesideTheWindow) {
    window.OpenScript(QString::fromStdString(script));
    studio->SetPlayhead(1520);
    ASSERT_EQ(Shown(), "00:01.520   1.4+");
    const QImage before = studio->Preview()->Picture();
    ASSERT_TRUE(WriteTextFile(script, Text("1top_1bottom")));
    window.PollScript();
    EXPECT_TRUE(studio->Opening());
    EXPECT_EQ(studio->Status(), "Opening the cameras for the preview...");
    EXPECT_EQ(studio->Preview()->Picture(), before);
    EXPECT_TRUE(studio->Preview()->Busy());
    EXPECT_EQ(Shown(), "00:01.520   1.4+");
    EXPECT_NE(studio->Preview()->Picture(), before);  // the new layout
    EXPECT_FALSE(studio->Opening());
}

// The sound is read ahead by a thread of its own; the output gets the file's samples from the
// frame asked for to the end, in order, packed 24-bit ones widened to 32 bits.
TEST(SongStreamTest, GivesTheFileFromAFrameOn) {
    TempDir dir;
    for (const std::uint16_t bits : {16, 24}) {
        WaveFormat format;
        format.sampleRate = 8000;
        format.bitsPerSample = bits;
        const std::size_t frameBytes = bits / 8 * 2;
        const std::size_t frames = 8000 * 3 / 2;  // several turns of the ring
        const std::vector<std::uint8_t> samples = PatternBytes(frames * frameBytes, bits);
        const std::string path = dir.File("song" + std::to_string(bits) + ".wav");
        ASSERT_TRUE(WriteWaveFile(path, format, samples));
        auto wave = std::make_shared<WaveFile>();
        ASSERT_TRUE(wave->Inspect(path));
        const std::size_t from = 1001;
        std::string expected;
        for (std::size_t i = from * 2; i < frames * 2; ++i) {
            const auto* sample = reinterpret_cast<const char*>(samples.data() + i * (bits / 8));
            expected +=
                bits == 24 ? std::string(1, '\0') + std::string(sample, 3) : std::string(sample, 2);
        }
        SongStream stream(wave, from);
        ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
        std::string got;
        EXPECT_TRUE(WaitUntil([&] {
            got += stream.read(5000).toStdString();
            return stream.bytesAvailable() == 0;
        }));
        EXPECT_TRUE(got == expected) << bits << " bits: " << got.size() << " bytes";
    }
}

// At 1280 x 900 the preview takes at least half the window's width.
TEST_F(StudioTest, PreviewTakesTheRoomTheWindowHas) {
    window.OpenScript(QString::fromStdString(script));
    Shown();
    QCoreApplication::processEvents();
    const QSize picture =
        studio->Preview()->Picture().size().scaled(studio->Preview()->size(), Qt::KeepAspectRatio);
    EXPECT_GE(picture.width() * 2, window.width()) << picture.width() << "x" << picture.height();
}

// A failed build's red line goes once the script checks clean again, and the build's output
// window opens on the screen.
TEST_F(StudioTest, FailureLineGoesWhenTheScriptIsFixed) {
    int checked = 0;
    QObject::connect(&window, &CZorvoDlg::ProblemsChecked, [&] { ++checked; });
    ASSERT_TRUE(WriteTextFile(script, Text("nolayout")));
    window.OpenScript(QString::fromStdString(script));
    ASSERT_TRUE(WaitUntil([&] { return checked == 1; }));
    window.StartBuild(QString::fromStdString(script));
    auto* line = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    ASSERT_TRUE(WaitUntil([&] { return line->text().startsWith("Build failed"); }));
    ASSERT_NE(window.OutputDialog(), nullptr);
    const QRect room = window.screen()->availableGeometry();
    EXPECT_TRUE(room.contains(window.OutputDialog()->frameGeometry().topLeft()));
    ASSERT_TRUE(WriteTextFile(script, Text("1left_1right") + "// fixed\n"));
    window.PollScript();
    ASSERT_TRUE(WaitUntil([&] { return checked == 2; }));
    EXPECT_TRUE(line->text().isEmpty()) << line->text().toStdString();
}

}  // namespace
}  // namespace zorvo::test
