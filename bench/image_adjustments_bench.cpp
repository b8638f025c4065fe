#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "capture/ImageAdjustments.h"
#include "capture/NoiseReduction.h"

namespace {

using zorvo::AdjustmentSettings;

// Arg 0: defaults (saturation 1: only the small tables), arg 1: every adjustment in use.
void BM_BuildLut(benchmark::State& state) {
    AdjustmentSettings settings;
    if (state.range(0) == 1) {
        settings.colorBalanceCR = 0.2;
        settings.colorBalanceMG = -0.1;
        settings.colorBalanceYB = 0.3;
        settings.brightness = 0.1;
        settings.contrast = 1.0;
        settings.saturation = 1.4;
    }
    for (auto _ : state) {
        if (!zorvo::BuildLut(settings)) {
            state.SkipWithError("BuildLut failed");
            break;
        }
        benchmark::DoNotOptimize(settings.lut.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(zorvo::kLutBytes));
}
BENCHMARK(BM_BuildLut)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What the Adjustments preview redoes for every painted frame.
void BM_AdjustmentTables(benchmark::State& state) {
    double brightness = 0.0;
    for (auto _ : state) {
        const zorvo::AdjustmentTables tables(0.2, -0.1, 0.3, brightness, 1.0, 1.4);
        benchmark::DoNotOptimize(tables.saturationTable[200][100]);
        brightness += 1e-6;
    }
}
BENCHMARK(BM_AdjustmentTables)->Unit(benchmark::kMicrosecond);

// A PAL-sized picture sequence: a noisy still picture, then jitter of every size.
void BM_ReduceNoise(benchmark::State& state) {
    constexpr int kWidth = 720, kHeight = 576;
    constexpr std::size_t kBytes = std::size_t{kWidth} * kHeight * 3;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::vector<std::uint8_t>> pictures(4, std::vector<std::uint8_t>(kBytes));
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        for (std::size_t k = 0; k < kBytes; ++k) {
            const int v = static_cast<int>(k % 256) + byte(random) % 81 - 40;
            pictures[p][k] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    std::vector<std::uint8_t> out(kBytes);
    zorvo::NoiseReduction filter;
    const int level = static_cast<int>(state.range(0));
    std::size_t frame = 0;
    for (auto _ : state) {
        const auto& picture = pictures[frame++ % pictures.size()];
        if (!filter.Apply(level, picture.data(), out.data(), kWidth, kHeight)) {
            state.SkipWithError("Apply failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBytes));
}
BENCHMARK(BM_ReduceNoise)->Arg(5)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
