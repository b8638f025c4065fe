// What real cameras record beyond a plain picture: the colour matrix, range and transfer the
// stream is tagged with, a display matrix that turns it, interlaced fields. Sources are made by the
// ffmpeg program from lavfi graphs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "capture/FFMPEGCapture.h"
#include "check/MediaCheck.h"
#include "common/LogChannel.h"
#include "output/EncodedWriter.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"

namespace zorvo::test {
namespace {

// A 75 % chart: grey, yellow, cyan, green, magenta, red, blue, black, in RGB.
const std::string kBars =
    "nullsrc=s=8x1:r=25:d=0.08,format=gbrp,geq=r='191*lt(mod(X\\,4)\\,2)':g='191*lt(X\\,4)':"
    "b='191*eq(mod(X\\,2)\\,0)',scale=s=%s:flags=neighbor";

struct Rgb {
    int r, g, b;
};

Rgb BarColour(int bar) {
    return {bar % 4 < 2 ? 191 : 0, bar < 4 ? 191 : 0, bar % 2 == 0 ? 191 : 0};
}

// Encodes the lavfi `graph` into `path` with the ffmpeg options.
void MakeSource(const std::string& path, const std::string& graph, const std::string& options) {
    std::vector<std::string> argv = Words("ffmpeg -nostdin -v error -y -f lavfi -i");
    argv.push_back(graph);
    for (std::string& word : Words(options)) {
        argv.push_back(std::move(word));
    }
    argv.push_back(path);
    const ProgramRun run = RunProgram(argv);
    ASSERT_EQ(run.status, 0) << run.err;
}

// The first picture of `input` as the capture gives it, width x height, upright; `whole`
// takes all of an upright picture of that size, unscaled.
void Capture(const CSInput& input, std::int32_t width, std::int32_t height, FrameBitmap& out,
             bool whole = false) {
    CaptureOptions options = InputCaptureOptions(&input);
    options.frameCount = 1;
    options.width = width;
    options.height = height;
    options.zoom = 0;
    options.noiseReduction = 0;
    options.flipMode = FlipMode::True;
    if (whole) {
        options.sourceRect = Rect{0, 0, width, height};
    }
    CFFMPEGCapture capture(std::move(options));
    ASSERT_TRUE(capture.Start());
    const FrameBitmap* bitmap = nullptr;
    for (int i = 0; i < 600 && !bitmap && !capture.m_bFailed.load(); ++i) {
        bitmap = capture.GetBitmap(0);
    }
    ASSERT_NE(bitmap, nullptr);
    ASSERT_TRUE(out.Allocate(width, height));
    std::memcpy(out.Bits(), bitmap->Bits(), out.SizeBytes());
}

// The colour at the middle of each bar, on the middle row, of a top-down BGR picture.
void ExpectBars(const std::uint8_t* topRow, std::ptrdiff_t stride, int width, int height,
                int tolerance) {
    for (int bar = 0; bar < 8; ++bar) {
        const std::uint8_t* p = topRow + stride * (height / 2) + 3 * ((2 * bar + 1) * width / 16);
        const Rgb want = BarColour(bar);
        EXPECT_LE(std::abs(p[2] - want.r), tolerance) << "bar " << bar << " red " << +p[2];
        EXPECT_LE(std::abs(p[1] - want.g), tolerance) << "bar " << bar << " green " << +p[1];
        EXPECT_LE(std::abs(p[0] - want.b), tolerance) << "bar " << bar << " blue " << +p[0];
    }
}

void ExpectBars(const FrameBitmap& bitmap, int tolerance) {
    ExpectBars(bitmap.Row(bitmap.Height() - 1), -bitmap.Stride(), bitmap.Width(), bitmap.Height(),
               tolerance);
}

// The chart in each matrix and range, tagged or not, comes out as the RGB it was made of.
TEST(CameraColour, BarsInEveryMatrixAndRange) {
    const std::string kHlg =
        "zscale=tin=709:pin=709:min=709:rin=full:t=arib-std-b67:p=2020:m=2020_ncl:npl=203";
    const std::string kHlgTags =
        "-c:v libx264 -qp 0 -colorspace bt2020nc -color_primaries bt2020 -color_trc arib-std-b67";
    struct Case {
        const char* name;
        const char* size;
        std::string conversion;  // from the RGB chart
        std::string options;     // encoder and tags
        int tolerance;           // the scaler's fast tables are off by up to 3
    };
    const Case cases[] = {
        {"601 limited.mp4", "352x288", "zscale=m=170m:r=limited:dither=none,format=yuv420p",
         "-c:v libx264 -qp 0 -colorspace smpte170m -color_range tv", 3},
        {"601 full.mp4", "352x288", "zscale=m=170m:r=full:dither=none,format=yuvj420p",
         "-c:v libx264 -qp 0 -colorspace smpte170m -color_range pc", 2},
        {"709 limited.mp4", "352x288", "zscale=m=709:r=limited:dither=none,format=yuv420p",
         "-c:v libx264 -qp 0 -colorspace bt709 -color_range tv", 3},
        {"709 full.mkv", "352x288", "zscale=m=709:r=full:dither=none,format=yuv420p",
         "-c:v ffv1 -colorspace bt709 -color_range pc", 2},
        {"untagged HD.mp4", "1280x720", "zscale=m=709:r=limited:dither=none,format=yuv420p",
         "-c:v libx264 -qp 0", 3},
        {"untagged SD.mp4", "720x576", "zscale=m=170m:r=limited:dither=none,format=yuv420p",
         "-c:v libx264 -qp 0", 3},
        // SDR white at HDR's reference white: the tone map gives the SDR chart back, within
        // what BT.2020 in 10 bits and back keeps of a 75 % chart.
        {"HLG limited.mp4", "352x288", kHlg + ":r=limited:dither=none,format=yuv420p10le",
         kHlgTags + " -color_range tv", 16},
        {"HLG full.mp4", "352x288", kHlg + ":r=full:dither=none,format=yuv420p10le",
         kHlgTags + " -color_range pc", 16},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CSInput input("cam", dir.File(c.name));
        MakeSource(input.file, Format(kBars.c_str(), c.size) + "," + c.conversion, c.options);
        FrameBitmap picture;
        Capture(input, 160, 90, picture);
        ExpectBars(picture, c.tolerance);
    }
}

// An HD camera's colours survive a render to an HD MKV, read as the matrix it is tagged with.
TEST(CameraColour, HdRoundTripThroughMatroska) {
    TempDir dir;
    const CSInput input("cam", dir.File("hd.mp4"));
    MakeSource(
        input.file,
        Format(kBars.c_str(), "1280x720") + ",zscale=m=709:r=limited:dither=none,format=yuv420p",
        "-c:v libx264 -qp 0 -colorspace bt709 -color_range tv");
    EncodedWriter writer(dir.File("out.mkv"), 1280, 720, "", OutputKind::Matroska);
    ASSERT_TRUE(writer.Open());
    Capture(input, 1280, 720, writer.frameBitmap);
    ASSERT_TRUE(writer.InsertFrame(0));
    ASSERT_TRUE(writer.Close());
    MediaContents contents;
    std::string error;
    ASSERT_TRUE(ReadMedia(dir.File("out.mkv"), contents, error)) << error;
    EXPECT_EQ(contents.colorSpace, "bt709");
    ASSERT_EQ(contents.pictures.size(), 1u);
    ExpectBars(contents.pictures[0].data(), 1280 * 3, 1280, 720, 3);
}

// A vertical white bar moving across an interlaced picture (fields top first) shows no comb:
// the rows of the captured picture are alike, unless deinterlacing is off.
TEST(CameraInterlace, MovingEdgeShowsNoComb) {
    TempDir dir;
    CSInput input("cam", dir.File("interlaced.mp4"));
    MakeSource(input.file,
               "color=c=black:s=720x576:r=50:d=0.3[back];color=c=white:s=80x576:r=50:d=0.3[bar];"
               "[back][bar]overlay=x='40+t*400':y=0,interlace=scan=tff",
               "-c:v libx264 -qp 0 -flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p");
    for (const auto mode : {DeinterlaceMode::Auto, DeinterlaceMode::On, DeinterlaceMode::Off}) {
        SCOPED_TRACE(static_cast<int>(mode));
        input.settings.deinterlace = mode;
        FrameBitmap picture;
        Capture(input, 720, 576, picture, true);
        int combed = 0;  // pixels unlike the one below them
        for (int y = 0; y + 1 < 576; ++y) {
            for (int x = 0; x < 720 * 3; ++x) {
                combed += std::abs(picture.Row(y)[x] - picture.Row(y + 1)[x]) > 100;
            }
        }
        // Off: the bar's two edges lie 8 pixels apart from field to field on every row.
        if (mode == DeinterlaceMode::Off) {
            EXPECT_GT(combed, 575 * 2 * 8 * 3 / 2);
        } else {
            EXPECT_EQ(combed, 0);
        }
    }
}

// Writes the display matrix into the track header of an MP4 that has none.
void SetDisplayMatrix(const std::string& path, const std::int32_t (&matrix)[9]) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const std::size_t header = bytes.find("tkhd");
    ASSERT_NE(header, std::string::npos);
    ASSERT_EQ(bytes[header + 4], 0);  // version 0: times of 32 bits
    // Type, version and flags, two times, track, reserved, duration, reserved, layer, group,
    // volume, reserved.
    file.seekp(static_cast<std::streamoff>(header + 4 + 4 + 5 * 4 + 8 + 4 * 2));
    for (const std::int32_t value : matrix) {
        const auto u = static_cast<std::uint32_t>(value);
        const char big[4] = {static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                             static_cast<char>(u >> 8), static_cast<char>(u)};
        file.write(big, 4);
    }
    ASSERT_TRUE(file.good());
}

// A phone's display matrix, or the input's rotate, shows the picture upright: a 64x32 picture
// (a red block in the top left corner, a blue band down the right edge) is captured at its
// upright size and compared with the stored picture turned by the test's own arithmetic.
TEST(CameraOrientation, DisplayMatrixAndRotateTurnThePicture) {
    constexpr std::int32_t kOne = 1 << 16;
    constexpr std::int32_t kW = 1 << 30;
    struct Case {
        const char* name;
        std::int32_t matrix[9];
        int rotate;  // the input's statement; -1: none
        bool tall;   // the upright picture is 32x64
        // The stored pixel (x, y) shown at column u and row v of the upright w x h picture.
        std::function<void(int u, int v, int w, int h, int& x, int& y)> source;
    };
    const auto turn90 = [](int u, int v, int w, int, int& x, int& y) {
        x = v;
        y = w - 1 - u;
    };
    const Case cases[] = {
        {"90", {0, kOne, 0, -kOne, 0, 0, 0, 0, kW}, -1, true, turn90},
        {"180",
         {-kOne, 0, 0, 0, -kOne, 0, 0, 0, kW},
         -1,
         false,
         [](int u, int v, int w, int h, int& x, int& y) {
             x = w - 1 - u;
             y = h - 1 - v;
         }},
        {"270",
         {0, -kOne, 0, kOne, 0, 0, 0, 0, kW},
         -1,
         true,
         [](int u, int v, int, int h, int& x, int& y) {
             x = h - 1 - v;
             y = u;
         }},
        {"mirror",
         {-kOne, 0, 0, 0, kOne, 0, 0, 0, kW},
         -1,
         false,
         [](int u, int v, int w, int, int& x, int& y) {
             x = w - 1 - u;
             y = v;
         }},
        {"rotate 0 over 90",
         {0, kOne, 0, -kOne, 0, 0, 0, 0, kW},
         0,
         false,
         [](int u, int v, int, int, int& x, int& y) {
             x = u;
             y = v;
         }},
        {"rotate 90 over none", {kOne, 0, 0, 0, kOne, 0, 0, 0, kW}, 90, true, turn90},
    };
    TempDir dir;
    const CSInput stored("cam", dir.File("stored.mp4"));
    MakeSource(stored.file,
               "color=c=black:s=64x32:d=0.08,drawbox=x=0:y=0:w=16:h=8:color=red:t=fill,"
               "drawbox=x=56:y=0:w=8:h=32:color=blue:t=fill",
               "-c:v libx264 -qp 0 -pix_fmt yuv444p");
    FrameBitmap reference;
    Capture(stored, 64, 32, reference, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSInput input("cam", dir.File(std::string(c.name) + ".mp4"));
        std::filesystem::copy_file(stored.file, input.file);
        SetDisplayMatrix(input.file, c.matrix);
        input.settings.rotation = c.rotate;
        const int w = c.tall ? 32 : 64;
        const int h = c.tall ? 64 : 32;
        FrameBitmap picture;
        Capture(input, w, h, picture, true);
        int wrong = 0;
        for (int v = 0; v < h; ++v) {
            for (int u = 0; u < w; ++u) {
                int x = 0;
                int y = 0;
                c.source(u, v, w, h, x, y);
                // The scaler rounds the last columns of a row its own way.
                const std::uint8_t* shown = picture.Row(h - 1 - v) + 3 * u;
                const std::uint8_t* want = reference.Row(31 - y) + 3 * x;
                for (int k = 0; k < 3; ++k) {
                    wrong += std::abs(shown[k] - want[k]) > 2;
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// Picture times that swing between 20 and 30 a second, or wander around 30: source picture k
// carries k in its red and green, and output frame n must show the last picture whose time is at
// or before the segment's start + 40 n ms, as a player shows it.
TEST(CameraFrameRate, VariableRateShowsThePictureOfItsTime) {
    const std::string kCounter =
        "nullsrc=s=32x32:r=30:d=1.7,format=gbrp,geq=r='16*mod(N\\,16)':g='16*floor(N/16)':b=128,";
    const std::string kSwing =
        "settb=1/600,setpts='if(lt(mod(N\\,20)\\,10)\\,30*mod(N\\,20)\\,300+20*(mod(N\\,20)-10))"
        "+500*floor(N/20)'";
    const std::string kWander = "settb=1/90000,setpts='N*3000+540*sin(N*1.7)'";
    const std::string kEncode =
        "-c:v libx264 -qp 0 -pix_fmt yuv444p -fps_mode vfr -enc_time_base -1";
    struct Case {
        const char* name;
        std::string timing;
        std::int64_t startMs;
    };
    const Case cases[] = {
        {"swing.mp4", kSwing, 0},   {"swing.mkv", kSwing, 0},    {"swing late.mkv", kSwing, 130},
        {"wander.mp4", kWander, 0}, {"wander.mkv", kWander, 70},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CSInput input("cam", dir.File(c.name));
        MakeSource(input.file, kCounter + c.timing, kEncode);
        MediaContents contents;
        std::string error;
        ASSERT_TRUE(ReadMedia(input.file, contents, error)) << error;
        std::vector<double> times = contents.pictureTimes;
        std::sort(times.begin(), times.end());
        const double first = times.front();
        constexpr std::uint32_t kFrames = 30;
        CaptureOptions options = InputCaptureOptions(&input);
        options.startMs = c.startMs;
        options.frameCount = kFrames;
        options.width = options.height = 32;
        options.zoom = 0;
        options.noiseReduction = 0;
        options.flipMode = FlipMode::True;
        options.sourceRect = Rect{0, 0, 32, 32};
        CFFMPEGCapture capture(std::move(options));
        ASSERT_TRUE(capture.Start());
        std::vector<int> shown;
        std::vector<int> wanted;
        for (std::uint32_t n = 0; n < kFrames; ++n) {
            const FrameBitmap* bitmap = nullptr;
            for (int i = 0; i < 600 && !bitmap && !capture.m_bFailed.load(); ++i) {
                bitmap = capture.GetBitmap(n);
            }
            ASSERT_NE(bitmap, nullptr) << n;
            const std::uint8_t* p = bitmap->Row(16) + 3 * 16;
            shown.push_back(static_cast<int>(std::lround(p[2] / 16.0)) +
                            16 * static_cast<int>(std::lround(p[1] / 16.0)));
            capture.ReleaseBitmap(n);
            const double moment = (c.startMs + 40.0 * n) / 1000;
            wanted.push_back(static_cast<int>(
                std::upper_bound(times.begin(), times.end(), first + moment + 1e-9) -
                times.begin() - 1));
        }
        EXPECT_EQ(shown, wanted);
    }
}

// What `check` says about each camera: the codec, the size as shown, the rate, the colour and the
// interlacing, from the headers alone.
TEST(CameraFacts, CheckSaysWhatEachFileHolds) {
    struct Case {
        const char* name;
        std::string graph;
        std::string options;
        int rotate;
        DeinterlaceMode deinterlace;
        std::string line;  // after "Input 'cam': ", before " (file …).\n"
    };
    const std::string kSd = "testsrc=s=720x576:r=25:d=0.2";
    const std::string kFields = "testsrc=s=720x576:r=50:d=0.2,interlace=scan=tff";
    const Case cases[] = {
        {"hd.mp4", "testsrc=s=1280x720:r=25:d=0.2", "-c:v libx264 -pix_fmt yuv420p", -1,
         DeinterlaceMode::Auto, "h264, 1280x720, 25 fps, BT.709 limited"},
        {"ntsc.mkv", "testsrc=s=320x240:r=30000/1001:d=0.2", "-c:v mpeg4", 90,
         DeinterlaceMode::Auto, "mpeg4, 240x320 (rotated 90\u00b0), 29.97 fps, BT.601 limited"},
        {"hlg.mp4", "testsrc=s=352x288:r=50:d=0.2,format=yuv420p10le",
         "-c:v libx264 -colorspace bt2020nc -color_primaries bt2020 -color_trc arib-std-b67", -1,
         DeinterlaceMode::Auto, "h264, 352x288, 50 fps, BT.2020 HLG \u2192 SDR"},
        {"interlaced.mp4", kFields,
         "-c:v libx264 -flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p", -1,
         DeinterlaceMode::Auto, "h264, 720x576, 25 fps, BT.601 limited, interlaced, deinterlaced"},
        {"interlaced off.mp4", kFields,
         "-c:v libx264 -flags +ildct+ilme -x264-params tff=1 -pix_fmt yuv420p", -1,
         DeinterlaceMode::Off,
         "h264, 720x576, 25 fps, BT.601 limited, interlaced, not deinterlaced"},
        {"forced.avi", kSd, "-c:v mjpeg -pix_fmt yuvj422p", -1, DeinterlaceMode::On,
         "mjpeg, 720x576, 25 fps, BT.601 full, deinterlaced"},
        {"variable.mkv", kSd + ",settb=1/600,setpts='N*24+6*mod(N\\,2)'",
         "-c:v libx264 -pix_fmt yuv420p -fps_mode vfr -enc_time_base -1", -1, DeinterlaceMode::Auto,
         "h264, 720x576, variable frame rate, BT.601 limited"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSInput input("cam", dir.File(c.name));
        input.settings.rotation = c.rotate;
        input.settings.deinterlace = c.deinterlace;
        MakeSource(input.file, c.graph, c.options);
        VideoFacts facts;
        std::string reason;
        ASSERT_EQ(ProbeVideo(input.file, facts, reason), ProbeStatus::Ok) << reason;
        EXPECT_EQ(DescribeInput(input, facts),
                  "Input 'cam': " + c.line + " (file " + input.file + ").\n");
    }
}

}  // namespace
}  // namespace zorvo::test
