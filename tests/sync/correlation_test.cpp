#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sync/Correlation.h"

namespace zorvo {
namespace {

// A noise signal and a shifted, noisier copy of a piece of it: the lag must come out exactly,
// through short transforms and through the long ones composed of shorter ones.
TEST(Correlation, FindsAKnownLagAtEveryLength) {
    struct Case {
        size_t songCount;
        size_t cameraCount;
        long lag;  // camera sample i holds song sample i - lag
    };
    const std::vector<Case> cases = {
        {3000, 1000, -1234},
        {3000, 1000, 700},
        {150000, 90000, -40321},
        {150000, 90000, 12345},
    };
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (const Case& c : cases) {
        std::vector<float> song(c.songCount);
        for (float& v : song) {
            v = noise(random);
        }
        std::vector<float> camera(c.cameraCount);
        for (size_t i = 0; i < camera.size(); ++i) {
            const long j = static_cast<long>(i) - c.lag;
            camera[i] = 0.5f * noise(random) +
                        (j >= 0 && j < static_cast<long>(song.size()) ? song[j] : 0.0f);
        }
        const size_t length = PowerOfTwoAtLeast(c.songCount + c.cameraCount);
        Spectrum songSpectrum;
        Spectrum cameraSpectrum;
        ASSERT_TRUE(songSpectrum.Compute(song.data(), song.size(), length));
        ASSERT_TRUE(cameraSpectrum.Compute(camera.data(), camera.size(), length));
        CorrelationPeak peak;
        ASSERT_TRUE(Correlation::Coarse(cameraSpectrum, camera.size(), songSpectrum, song.size(),
                                        100, peak));
        EXPECT_NEAR(peak.lag, static_cast<double>(c.lag), 0.5) << length;
        EXPECT_GT(peak.confidence, 0.5) << length;
    }
}

}  // namespace
}  // namespace zorvo
