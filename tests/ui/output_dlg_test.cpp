// The output preview: nearest-neighbour scaling of bottom-up BGR frames, alpha 255.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "ui/OutputDlg.h"

namespace zorvo::test {
namespace {

// The opaque colour of pixel (x, y) of a pattern frame, y counted from the bottom: blue and
// green the low bytes of column and row, red their high bits. Each pixel tells its place.
QRgb PatternPixel(int x, int y) {
    return 0xFF000000u | static_cast<QRgb>((x >> 8) | (y >> 8) << 4) << 16 |
           static_cast<QRgb>(y & 0xFF) << 8 | static_cast<QRgb>(x & 0xFF);
}

std::vector<std::uint8_t> PatternFrame(int width, int height) {
    std::vector<std::uint8_t> bits;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = PatternPixel(x, y);
            bits.insert(bits.end(), {static_cast<std::uint8_t>(qBlue(pixel)),
                                     static_cast<std::uint8_t>(qGreen(pixel)),
                                     static_cast<std::uint8_t>(qRed(pixel))});
        }
    }
    return bits;
}

// Frames of several sizes, shown from another thread as the build shows them: every picture
// is one of them, whole, scaled by nearest neighbour with the first and last rows and columns
// onto each other.
TEST(OutputDlgTest, FramesFromAnotherThreadArriveWholeAndScaled) {
    QWidget owner;
    COutputDlg preview(&owner);
    preview.show();
    const int w = preview.width();
    const int h = preview.height();
    const QSize sizes[] = {{2 * w, h}, {w, h / 2}, {7, 5}, {1, 1}};
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<QImage> expected;
    for (const QSize size : sizes) {
        frames.push_back(PatternFrame(size.width(), size.height()));
        QImage& picture = expected.emplace_back(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                picture.setPixel(x, h - 1 - y,
                                 PatternPixel(x * (size.width() - 1) / (w - 1),
                                              y * (size.height() - 1) / (h - 1)));
            }
        }
    }
    const auto show = [&](std::size_t k) {
        preview.ShowFrame(frames[k].data(), sizes[k].width(), sizes[k].height());
    };
    show(0);
    std::atomic<bool> done{false};
    std::thread builder([&] {
        for (std::size_t i = 1; i < 200; ++i) {
            show(i % frames.size());
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        QCoreApplication::processEvents();
        const QImage picture = preview.Picture();
        torn += std::find(expected.begin(), expected.end(), picture) == expected.end();
    }
    builder.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(preview.Picture(), expected[199 % frames.size()]);
    WaitUntil([] { return false; }, 50);  // the posted repaint runs against a live window
}

}  // namespace
}  // namespace zorvo::test
