#include <gtest/gtest.h>

#include "render/Layout.h"

namespace zorvo {
namespace {

using Rects = std::vector<Rect>;

// Rectangles count rows from the bottom, so the upper area has the larger top. At 720 x 576:
// halves at 360 and 288, thirds at 240 and 480, and each third but the last takes one column
// more, over its neighbour's edge.
TEST(Layout, RectanglesAt720x576) {
    struct Case {
        LayoutType layout;
        Rects displays;
        Rects separators;
    };
    const std::vector<Case> cases = {
        {LayoutType::Left1Right1, {{0, 0, 360, 576}, {360, 0, 720, 576}}, {{360, 0, 360, 576}}},
        {LayoutType::Top1Bottom1, {{0, 288, 720, 576}, {0, 0, 720, 288}}, {{0, 288, 720, 288}}},
        {LayoutType::Left1Right2,
         {{0, 0, 360, 576}, {360, 288, 720, 576}, {360, 0, 720, 288}},
         {{360, 0, 360, 576}, {360, 288, 720, 288}}},
        {LayoutType::Top2Bottom2,
         {{0, 288, 360, 576}, {360, 288, 720, 576}, {0, 0, 360, 288}, {360, 0, 720, 288}},
         {{360, 0, 360, 576}, {0, 288, 720, 288}}},
        {LayoutType::Top1Bottom3,
         {{0, 288, 720, 576}, {0, 0, 241, 288}, {240, 0, 481, 288}, {480, 0, 720, 288}},
         {{240, 0, 240, 288}, {480, 0, 480, 288}, {0, 288, 720, 288}}},
        {LayoutType::Top3Bottom1,
         {{0, 288, 241, 576}, {240, 288, 481, 576}, {480, 288, 720, 576}, {0, 0, 720, 288}},
         {{0, 288, 720, 288}, {240, 288, 240, 576}, {480, 288, 480, 576}}},
        {LayoutType::Top3Bottom3,
         {{0, 288, 241, 576},
          {240, 288, 481, 576},
          {480, 288, 720, 576},
          {0, 0, 241, 288},
          {240, 0, 481, 288},
          {480, 0, 720, 288}},
         {{240, 0, 240, 576}, {480, 0, 480, 576}, {0, 288, 720, 288}}},
    };
    for (const Case& c : cases) {
        Rects displays{{9, 9, 9, 9}};
        Rects separators{{9, 9, 9, 9}};
        ASSERT_TRUE(GetLayoutRects(720, 576, c.layout, displays, separators));
        EXPECT_EQ(displays, c.displays) << "layout " << static_cast<int>(c.layout);
        EXPECT_EQ(separators, c.separators) << "layout " << static_cast<int>(c.layout);
    }
}

// Whatever the size, the displays of every layout cover the whole picture, and every separator
// runs along an edge shared by two displays.
TEST(Layout, DisplaysCoverThePictureAtManySizes) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {720, 576}, {641, 481}, {1, 1}, {2, 3}, {3, 2}, {1920, 1080}, {7, 5}}) {
        for (int code = 2; code <= 14; ++code) {
            Rects displays;
            Rects separators;
            ASSERT_TRUE(GetLayoutRects(w, h, static_cast<LayoutType>(code), displays, separators));
            std::vector<int> covered(static_cast<size_t>(w * h), 0);
            for (const Rect& r : displays) {
                ASSERT_GE(r.left, 0);
                ASSERT_GE(r.top, 0);
                ASSERT_LE(r.right, w);
                ASSERT_LE(r.bottom, h);
                for (int y = r.top; y < r.bottom; ++y) {
                    for (int x = r.left; x < r.right; ++x) {
                        covered[static_cast<size_t>(y * w + x)] = 1;
                    }
                }
            }
            EXPECT_EQ(std::count(covered.begin(), covered.end(), 0), 0)
                << w << "x" << h << " layout " << code;
            for (const Rect& s : separators) {
                EXPECT_TRUE(s.left == s.right || s.top == s.bottom);
            }
        }
    }
}

}  // namespace
}  // namespace zorvo
