// The window while a script naming a long song is saved again and again, as a user does while
// editing it: each save re-reads the script (timeline, cameras, song, check). A timer on the
// window's thread notes the longest gap between its ticks (any stall of the window shows there);
// the process's peak memory and CPU time are reported beside it. The argument is the song's
// minutes. Runs offscreen (QT_QPA_PLATFORM=offscreen is set when no platform is).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/LogCollector.h"
#include "preview/FrameEngine.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"
#include "ui/StudioView.h"
#include "ui/ZorvoDlg.h"

namespace zorvo {
namespace {

constexpr int kSaves = 20;
constexpr int kCameras = 4;

// The script, its layout changing from one save to the next so that every save is a change.
std::string Script(int save) {
    std::string text = "output( out.avi, 640, 360, bilinear, song.wav )\n";
    for (int c = 0; c < kCameras; ++c) {
        text += "input( c" + std::to_string(c) + ", cam" + std::to_string(c) + ".avi ) { }\n";
    }
    text += std::string("marker( 1, ") + (save % 2 ? "1left_1right" : "1top_1bottom") +
            " ) { tempo( 120 ); signature( 4, 4 ); display( c0, each_beat ); display( c1 ); }\n"
            "marker( 3, 2top_2bottom ) { display( c0 ) display( c1 ) display( c2 ) display( c3 ) "
            "}\nmarker( 9 ) { }\n// save " +
            std::to_string(save) + "\n";
    return text;
}

void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void BM_StudioSavesWithLongSong(benchmark::State& state) {
    test::TempDir dir;
    // The song's beat analysis is made, not read from the user's cache, and kept out of it.
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    test::TestVideo video;
    video.width = 1280;
    video.height = 720;
    video.frameCount = 450;
    bool made = test::WriteLongSong(dir.File("song.wav"), static_cast<int>(state.range(0)) * 60);
    for (int c = 0; c < kCameras; ++c) {
        made = made && test::WriteTestVideo(dir.File("cam" + std::to_string(c) + ".avi"), video);
    }
    const std::string script = dir.File("song.zorvo");
    if (!made || !test::WriteTextFile(script, Script(0))) {
        state.SkipWithError("cannot write the session");
        return;
    }
    double longestGapMs = 0;
    double openGapMs = 0;
    double longestSaveMs = 0;
    double longestGapCpuMs = 0;
    double openMs = 0;
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        // What opening the engine costs, which the window's thread once paid on every save.
        const auto before = std::chrono::steady_clock::now();
        LogCollector lines(LogCollector::Scope::ThisThread);
        if (!FrameEngine::Open(script)) {
            state.SkipWithError(("the engine does not open: " + lines.Joined()).c_str());
            return;
        }
        openMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                .count();

        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longest = 0;
        // The window thread's own CPU time over each gap: near the gap, the thread was working;
        // far below it, it was ready but the cores were busy with others.
        double lastCpu = ThreadCpuMs();
        double longestCpu = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            const double cpuNow = ThreadCpuMs();
            if (now - last > longest) {
                longest = now - last;
                longestCpu = cpuNow - lastCpu;
            }
            last = now;
            lastCpu = cpuNow;
        });
        tick.start(10);
        {
            CZorvoDlg window;
            StudioView* studio = StudioView::AttachTo(window);
            window.show();
            window.OpenScript(QString::fromStdString(script));
            // The first open (the window's first paint, the song's first read) is not a save.
            while (studio->Opening() || studio->Preview()->Busy()) {
                RunEvents(50);
            }
            RunEvents(2000);
            openGapMs = static_cast<double>(longest) / 1e6;
            const double cpuFrom = CpuSeconds();
            const qint64 savesFrom = clock.nsecsElapsed();
            longest = 0;
            last = savesFrom;
            for (int save = 1; save <= kSaves; ++save) {
                RunEvents(300);
                test::WriteTextFile(script, Script(save));
                const qint64 saved = clock.nsecsElapsed();
                window.PollScript();
                longestSaveMs = std::max(longestSaveMs,
                                         static_cast<double>(clock.nsecsElapsed() - saved) / 1e6);
            }
            while (studio->Opening() || studio->Preview()->Busy()) {
                RunEvents(50);
            }
            RunEvents(300);
            longestGapMs = static_cast<double>(longest) / 1e6;
            longestGapCpuMs = longestCpu;
            cpu = CpuSeconds() - cpuFrom;
            wall = static_cast<double>(clock.nsecsElapsed() - savesFrom) / 1e9;
        }
        tick.stop();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["longest_gap_ms"] = longestGapMs;
    state.counters["longest_gap_cpu_ms"] = longestGapCpuMs;
    state.counters["first_open_gap_ms"] = openGapMs;
    state.counters["longest_save_ms"] = longestSaveMs;
    state.counters["engine_open_ms"] = openMs;
    state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["cpu_s"] = cpu;
    state.counters["wall_s"] = wall;
}
BENCHMARK(BM_StudioSavesWithLongSong)->Arg(30)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace zorvo

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
