#include <gtest/gtest.h>

#include "common/LogCollector.h"
#include "render/Layout.h"

namespace zorvo {
namespace {

using Rects = std::vector<Rect>;

TEST(Layout, KeywordsAndUnknownNames) {
    const std::vector<std::pair<std::string, LayoutType>> names = {
        {"none", LayoutType::None},
        {"1fullscreen", LayoutType::Fullscreen1},
        {"1left_1right", LayoutType::Left1Right1},
        {"1top_1bottom", LayoutType::Top1Bottom1},
        {"1left_2right", LayoutType::Left1Right2},
        {"2left_1right", LayoutType::Left2Right1},
        {"1top_2bottom", LayoutType::Top1Bottom2},
        {"2top_1bottom", LayoutType::Top2Bottom1},
        {"2top_2bottom", LayoutType::Top2Bottom2},
        {"1top_3bottom", LayoutType::Top1Bottom3},
        {"3top_1bottom", LayoutType::Top3Bottom1},
        {"2top_3bottom", LayoutType::Top2Bottom3},
        {"3top_2bottom", LayoutType::Top3Bottom2},
        {"3top_3bottom", LayoutType::Top3Bottom3},
    };
    for (const auto& [name, code] : names) {
        LogCollector log;
        EXPECT_EQ(ParseLayout(name), code) << name;
        EXPECT_TRUE(log.Texts().empty());
    }
    for (const std::string name : {"fullscreen", "1Fullscreen", "None", " 1fullscreen"}) {
        LogCollector log;
        EXPECT_EQ(ParseLayout(name), LayoutType::Unknown);
        EXPECT_EQ(log.Texts(), (std::vector<std::string>{"Error (Layout): Unknown layout type '",
                                                         name, "'.\n"}));
    }
}

struct LayoutCase {
    LayoutType layout;
    Rects displays;
    Rects separators;
};

void ExpectLayouts(std::uint32_t w, std::uint32_t h, const std::vector<LayoutCase>& cases) {
    for (const LayoutCase& c : cases) {
        Rects displays{{9, 9, 9, 9}};
        Rects separators{{9, 9, 9, 9}};
        ASSERT_TRUE(GetLayoutRects(w, h, c.layout, displays, separators));
        EXPECT_EQ(displays, c.displays)
            << w << "x" << h << " layout " << static_cast<int>(c.layout);
        EXPECT_EQ(separators, c.separators)
            << w << "x" << h << " layout " << static_cast<int>(c.layout);
    }
}

TEST(Layout, AllLayoutsAt720x576) {
    // hw 360, hh 288, t1 240, t2 480
    ExpectLayouts(
        720, 576,
        {
            {LayoutType::Fullscreen1, {{0, 0, 720, 576}}, {}},
            {LayoutType::Left1Right1, {{0, 0, 360, 576}, {360, 0, 720, 576}}, {{360, 0, 360, 576}}},
            {LayoutType::Top1Bottom1, {{0, 288, 720, 576}, {0, 0, 720, 288}}, {{0, 288, 720, 288}}},
            {LayoutType::Left1Right2,
             {{0, 0, 360, 576}, {360, 288, 720, 576}, {360, 0, 720, 288}},
             {{360, 0, 360, 576}, {360, 288, 720, 288}}},
            {LayoutType::Left2Right1,
             {{0, 288, 360, 576}, {0, 0, 360, 288}, {360, 0, 720, 576}},
             {{360, 0, 360, 576}, {0, 288, 360, 288}}},
            {LayoutType::Top1Bottom2,
             {{0, 288, 720, 576}, {0, 0, 360, 288}, {360, 0, 720, 288}},
             {{0, 288, 720, 288}, {360, 0, 360, 288}}},
            {LayoutType::Top2Bottom1,
             {{0, 288, 360, 576}, {360, 288, 720, 576}, {0, 0, 720, 288}},
             {{360, 288, 360, 576}, {0, 288, 720, 288}}},
            {LayoutType::Top2Bottom2,
             {{0, 288, 360, 576}, {360, 288, 720, 576}, {0, 0, 360, 288}, {360, 0, 720, 288}},
             {{360, 0, 360, 576}, {0, 288, 720, 288}}},
            {LayoutType::Top1Bottom3,
             {{0, 288, 720, 576}, {0, 0, 241, 288}, {240, 0, 481, 288}, {480, 0, 720, 288}},
             {{240, 0, 240, 288}, {480, 0, 480, 288}, {0, 288, 720, 288}}},
            {LayoutType::Top3Bottom1,
             {{0, 288, 241, 576}, {240, 288, 481, 576}, {480, 288, 720, 576}, {0, 0, 720, 288}},
             {{0, 288, 720, 288}, {240, 288, 240, 576}, {480, 288, 480, 576}}},
            {LayoutType::Top2Bottom3,
             {{0, 288, 360, 576},
              {360, 288, 720, 576},
              {0, 0, 241, 288},
              {240, 0, 481, 288},
              {480, 0, 720, 288}},
             {{360, 288, 360, 576}, {240, 0, 240, 288}, {480, 0, 480, 288}, {0, 288, 720, 288}}},
            {LayoutType::Top3Bottom2,
             {{0, 288, 241, 576},
              {240, 288, 481, 576},
              {480, 288, 720, 576},
              {0, 0, 360, 288},
              {360, 0, 720, 288}},
             {{240, 288, 240, 576}, {480, 288, 480, 576}, {360, 0, 360, 288}, {0, 288, 720, 288}}},
            {LayoutType::Top3Bottom3,
             {{0, 288, 241, 576},
              {240, 288, 481, 576},
              {480, 288, 720, 576},
              {0, 0, 241, 288},
              {240, 0, 481, 288},
              {480, 0, 720, 288}},
             {{240, 0, 240, 576}, {480, 0, 480, 576}, {0, 288, 720, 288}}},
        });
}

TEST(Layout, OddSize641x481) {
    // hw 320, hh 240, t1 213, t2 427
    ExpectLayouts(
        641, 481,
        {
            {LayoutType::Left1Right1, {{0, 0, 320, 481}, {320, 0, 641, 481}}, {{320, 0, 320, 481}}},
            {LayoutType::Top1Bottom3,
             {{0, 240, 641, 481}, {0, 0, 214, 240}, {213, 0, 428, 240}, {427, 0, 641, 240}},
             {{213, 0, 213, 240}, {427, 0, 427, 240}, {0, 240, 641, 240}}},
            {LayoutType::Top3Bottom3,
             {{0, 240, 214, 481},
              {213, 240, 428, 481},
              {427, 240, 641, 481},
              {0, 0, 214, 240},
              {213, 0, 428, 240},
              {427, 0, 641, 240}},
             {{213, 0, 213, 481}, {427, 0, 427, 481}, {0, 240, 641, 240}}},
        });
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

TEST(Layout, NoneAndUnknownCodesGiveNothing) {
    for (int code : {0, 1, 15, -3}) {
        Rects displays{{1, 2, 3, 4}};
        Rects separators{{1, 2, 3, 4}};
        EXPECT_FALSE(GetLayoutRects(720, 576, static_cast<LayoutType>(code), displays, separators));
        EXPECT_TRUE(displays.empty());
        EXPECT_TRUE(separators.empty());
    }
}

}  // namespace
}  // namespace zorvo
