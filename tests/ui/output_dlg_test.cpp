// The output preview: nearest-neighbour scaling of bottom-up BGR frames, alpha 255.
#include <gtest/gtest.h>

#include <QCoreApplication>
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

class OutputDlgTest : public ::testing::Test {
  protected:
    QWidget owner;
    COutputDlg preview{&owner};
};

TEST_F(OutputDlgTest, NearestNeighbourMapsFirstAndLastOntoEachOther) {
    const int w = preview.width();
    const int h = preview.height();
    struct Case {
        const char* name;
        int frameWidth;
        int frameHeight;
    };
    const Case cases[] = {
        {"twice as wide", 2 * w, h},
        {"half as high", w, h / 2},
        {"small", 7, 5},
        {"one pixel", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frame = PatternFrame(c.frameWidth, c.frameHeight);
        preview.ShowFrame(frame.data(), c.frameWidth, c.frameHeight);
        const QImage picture = preview.Picture();
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            const int sy = y * (c.frameHeight - 1) / (h - 1);
            for (int x = 0; x < w; ++x) {
                const int sx = x * (c.frameWidth - 1) / (w - 1);
                wrong += picture.pixel(x, h - 1 - y) != PatternPixel(sx, sy);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(OutputDlgTest, FramesFromAnotherThreadArriveWhole) {
    preview.show();
    const int w = preview.width();
    const int h = preview.height();
    // Two plain frames, alternating: any picture must be all one or all the other.
    std::vector<std::uint8_t> dark(static_cast<size_t>(w) * h * 3, 0x20);
    std::vector<std::uint8_t> light(static_cast<size_t>(w) * h * 3, 0xD0);
    std::atomic<bool> done{false};
    std::thread builder([&] {
        for (int i = 0; i < 200; ++i) {
            const auto& frame = i % 2 ? light : dark;
            preview.ShowFrame(frame.data(), w, h);
        }
        done = true;
    });
    int mixed = 0;
    while (!done) {
        QCoreApplication::processEvents();
        const QImage picture = preview.Picture();
        const QRgb first = picture.pixel(0, 0);
        for (int y = 0; y < h; y += 7) {
            for (int x = 0; x < w; x += 7) {
                mixed += picture.pixel(x, y) != first;
            }
        }
    }
    builder.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(preview.Picture().pixel(3, 3), 0xFFD0D0D0u);
    WaitUntil([] { return false; }, 50);  // the posted repaint runs against a live window
}

}  // namespace
}  // namespace zorvo::test
