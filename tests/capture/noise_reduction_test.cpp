#include "capture/NoiseReduction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zorvo {
namespace {

// Each step filters a plain picture of one value and expects a plain result.
TEST(NoiseReductionTest, FreezesDampsOrPassesEachChange) {
    struct Step {
        int level, width, height, value, out;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    // Level 20: changes of 51 and more pass, 26 to 50 are damped to (old + 2 x new) / 3, smaller
    // ones are frozen.
    const std::vector<Case> cases = {
        {"around the threshold",
         {{20, 37, 23, 200, 200},
          {20, 37, 23, 149, 149},
          {20, 37, 23, 124, 149},
          {20, 37, 23, 123, 131},
          {20, 37, 23, 181, 164}}},
        // 2 x 3 has the byte count of 3 x 2: carried over, 190 would stay frozen at 200.
        {"a new size starts from black",
         {{20, 2, 3, 200, 200}, {20, 3, 2, 190, 190}, {20, 3, 2, 150, 163}, {20, 1, 1, 30, 20}}},
        {"level 0 copies and keeps the running picture",
         {{20, 4, 4, 100, 100}, {0, 4, 4, 90, 90}, {20, 4, 4, 90, 100}}},
        // At 100 a change must be 255 to pass; no more, or dark parts would stay black for good.
        {"levels above 100 act as 100", {{500, 5, 1, 254, 169}, {500, 5, 1, 0, 56}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoiseReduction filter;
        for (const Step& step : c.steps) {
            const std::size_t bytes = static_cast<std::size_t>(step.width) * step.height * 3;
            const std::vector<std::uint8_t> picture(bytes, static_cast<std::uint8_t>(step.value));
            std::vector<std::uint8_t> out(bytes, 0);
            ASSERT_TRUE(
                filter.Apply(step.level, picture.data(), out.data(), step.width, step.height));
            EXPECT_EQ(out, std::vector<std::uint8_t>(bytes, static_cast<std::uint8_t>(step.out)))
                << "value " << step.value << " at level " << step.level;
        }
    }
}

}  // namespace
}  // namespace zorvo
