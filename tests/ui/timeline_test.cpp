// The studio's timeline model against the plan the command line prints for the same script.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cmath>

#include "script/Script.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "timeline/TimelineModel.h"
#include "ui/TimelineView.h"

namespace zorvo::test {
namespace {

const std::string kInputs =
    "input( a, a.mp4 ) { }\ninput( b, b.mp4, center, 300, 0 ) { }\ninput( c, c.mp4 ) { }\n"
    "group( ab ) { a, b }\n";

struct Session {
    const char* name;
    std::string markers;
};

TEST(TimelineModelTest, SpansAndBlocksMatchThePlan) {
    const Session sessions[] = {
        {"128 bpm 4/4 with a range",
         "range( 3, 8 )\n"
         "marker( 1, 1fullscreen ) { tempo( 128 ); signature( 4, 4 ); effect( fade_in ); "
         "display( a ); }\n"
         "marker( 3, 1left_1right ) { display( ab, each_beat ); display( c, every_3_beats ); }\n"
         "marker( 6, 1fullscreen ) { effect( strobe, each_beat ); display( ab, every_half_beat ); "
         "}\nmarker( 8, 1fullscreen ) { effect( fade_out ); display( c ); }\nmarker( 9 ) { }\n"},
        {"140 bpm 7/8, then 93 bpm",
         "marker( 1, 1top_2bottom ) { tempo( 140 ); signature( 7, 8 ); display( ab, each_beat ); "
         "display( c ); display( ab, every_3_beats ); }\n"
         "marker( 4, 1fullscreen ) { tempo( 93 ); display( ab, every_half_beat ); }\n"
         "marker( 6 ) { }\n"},
    };
    for (const Session& session : sessions) {
        SCOPED_TRACE(session.name);
        TempDir dir;
        const std::string path = dir.File("session.zorvo");
        ASSERT_TRUE(WriteTextFile(
            path, "output( out.avi, 320, 240, bicubic, song.wav )\n" + kInputs + session.markers));
        const ProgramRun run = RunZorvo("plan --json --blocks " + path);
        ASSERT_EQ(run.status, 0) << run.err;
        const QJsonObject plan =
            QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
        CScript script(path);
        ASSERT_TRUE(script.Load() && script.Validate());
        TimelineModel model;
        ASSERT_TRUE(model.Build(script));

        // The plan ends at the range end; the timeline goes on to the song's end.
        const QJsonArray spans = plan["spans"].toArray();
        ASSERT_EQ(model.spans.size(),
                  static_cast<size_t>(spans.size()) + (script.rangeEnd ? 1 : 0));
        EXPECT_EQ(model.spans.back().afterRange, script.rangeEnd != 0);
        EXPECT_EQ(script.rangeEnd, plan["range"]["end"].toInt());
        EXPECT_EQ(model.frames, plan["frames"].toInteger());
        EXPECT_NEAR(model.durationMs, plan["durationMs"].toDouble(), 5e-4);
        for (qsizetype s = 0; s < spans.size(); ++s) {
            const QJsonObject want = spans[s].toObject();
            const TimelineModelSpan& got = model.spans[s];
            SCOPED_TRACE(got.fromMeasure);
            EXPECT_EQ(got.fromMeasure, want["from"].toInt());
            EXPECT_EQ(got.toMeasure, want["to"].toInt());
            EXPECT_EQ(got.skipped, want["skipped"].toBool());
            EXPECT_FALSE(got.afterRange);
            EXPECT_NEAR(got.startMs, want["startMs"].toDouble(), 5e-4);
            EXPECT_NEAR(got.endMs, want["endMs"].toDouble(), 5e-4);
            EXPECT_EQ(got.firstFrame, want["firstFrame"].toInteger());
            EXPECT_EQ(got.endFrame, want["endFrame"].toInteger());
            EXPECT_EQ(got.tempo, want["tempo"].toInt());
            EXPECT_EQ(got.beatCount, want["signature"][0].toInt());
            EXPECT_EQ(got.beatUnit, want["signature"][1].toInt());
            EXPECT_EQ(got.layout, want["layout"].toString().toStdString());
            EXPECT_EQ(got.effect, want["effect"].toString().toStdString());
            const QJsonArray areas = want["areas"].toArray();
            ASSERT_EQ(got.areas.size(), static_cast<size_t>(areas.size()));
            for (qsizetype a = 0; a < areas.size(); ++a) {
                EXPECT_EQ(got.areas[a], areas[a]["display"].toString().toStdString());
            }
            // The musical grid lands on the plan's span starts.
            EXPECT_NEAR(model.MomentOf(got.fromMeasure, 1), want["startMs"].toDouble(), 5e-4);
            EXPECT_EQ(model.PositionAt(want["startMs"].toDouble()).measure, got.fromMeasure);
            EXPECT_EQ(model.StepMarker(got.startMs, 1), got.endMs);
            const double beat = 240000.0 / (got.tempo * got.beatUnit);
            EXPECT_NEAR(model.StepBeat(got.startMs, 1), got.startMs + beat, 1e-6);
            EXPECT_NEAR(model.StepBeat(got.endMs, -1), got.endMs - beat, 1e-6);
            if (got.skipped) {
                continue;  // the plan lists no blocks for spans the range skips
            }
            const QJsonArray blocks = want["blocks"].toArray();
            ASSERT_EQ(got.blocks.size(), static_cast<size_t>(blocks.size()));
            for (qsizetype b = 0; b < blocks.size(); ++b) {
                const QJsonObject block = blocks[b].toObject();
                EXPECT_NEAR(got.blocks[b].startMs, block["startMs"].toDouble(), 5e-4);
                EXPECT_EQ(got.blocks[b].firstFrame, block["firstFrame"].toInteger());
                EXPECT_EQ(got.blocks[b].endFrame, block["endFrame"].toInteger());
                const QJsonArray inputs = block["areas"].toArray();
                ASSERT_EQ(got.blocks[b].inputs.size(), static_cast<size_t>(inputs.size()));
                for (qsizetype a = 0; a < inputs.size(); ++a) {
                    EXPECT_EQ(got.blocks[b].inputs[a], inputs[a]["input"].toString().toStdString());
                }
            }
        }
    }
}

// A click picks the moment drawn under it, at the fitting zoom and zoomed in and scrolled;
// the marker keys step along the model's spans.
TEST(TimelineViewTest, ClicksAndKeysFollowTheModel) {
    TempDir dir;
    const std::string path = dir.File("session.zorvo");
    ASSERT_TRUE(WriteTextFile(
        path,
        "output( out.avi, 320, 240 )\n" + kInputs +
            "marker( 1, 1fullscreen ) { tempo( 140 ); signature( 7, 8 ); display( ab, "
            "each_beat ); }\nmarker( 3, 1left_1right ) { tempo( 93 ); display( a ); "
            "display( c ); }\nmarker( 4, 1fullscreen ) { display( b ); }\nmarker( 6 ) { }\n"));
    CScript script(path);
    ASSERT_TRUE(script.Load() && script.Validate());
    TimelineModel model;
    ASSERT_TRUE(model.Build(script));
    TimelineView view;
    view.resize(640, 200);
    view.SetModel(model);
    std::vector<double> moved;
    QObject::connect(&view, &TimelineView::PlayheadMoved, [&](double ms) { moved.push_back(ms); });
    const auto click = [&](double x) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 20), QPointF(x, 20), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &press);
        return moved.back();
    };
    const auto key = [&](int code) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &press);
        return moved.back();
    };
    for (const double zoom : {0.0, 400.0}) {
        SCOPED_TRACE(zoom);
        view.SetZoom(zoom);
        EXPECT_EQ(key(Qt::Key_Home), 0.0);
        for (const TimelineModelSpan& span : view.Model().spans) {
            // Zoomed in, the view pages to the playhead; both ends of the span drawn in sight.
            view.SetPlayhead(span.startMs);
            const double first = std::ceil(view.XOf(span.startMs)) + 1;
            const double last = std::min(std::floor(view.XOf(span.endMs)) - 1, 600.0);
            for (const double x : {first, last}) {
                const double drawn = view.MsAt(x);
                const double ms = click(x);
                EXPECT_EQ(ms, drawn);
                EXPECT_EQ(model.SpanAt(ms), &model.spans[&span - view.Model().spans.data()]) << x;
            }
            view.SetPlayhead(span.startMs);
            EXPECT_EQ(key(Qt::Key_PageDown), span.endMs);
        }
        EXPECT_EQ(key(Qt::Key_End), model.durationMs);
        EXPECT_EQ(click(639), model.durationMs);  // past the end: the end
    }
}

}  // namespace
}  // namespace zorvo::test
