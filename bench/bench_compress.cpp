// Whole-frame compression per format type at 1920x1080, single thread, on a
// picture that looks like rendered content (gradients, shapes, some grain).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/zemo3.h"
#include "core/context.h"

namespace {

std::vector<uint8_t> naturalPicture(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    std::mt19937 rng(3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            double fx = double(x) / w, fy = double(y) / h;
            double disc = (fx - 0.4) * (fx - 0.4) + (fy - 0.5) * (fy - 0.5) < 0.04 ? 1.0 : 0.0;
            int grain = int(rng() % 9) - 4;
            px[0] = uint8_t(std::clamp(int(200 * fx + 50 * disc) + grain, 0, 255));
            px[1] = uint8_t(std::clamp(int(180 * fy * (1 - disc) + 30) + grain, 0, 255));
            px[2] = uint8_t(std::clamp(int(128 + 100 * std::sin(fx * 12 + fy * 7)) + grain, 0, 255));
            px[3] = uint8_t(std::clamp(int(255 * (1.0 - 0.7 * disc * fx)), 0, 255));
        }
    return p;
}

void BM_Compress(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0)), w = 1920, h = 1080;
    static const std::vector<uint8_t> picture = naturalPicture(w, h);
    nox::VideoStreamDescription stream(w, h, 30, 1, nullptr);
    nox::Zemo3Compressor compressor(stream, type, false);
    std::vector<uint8_t> out(compressor.outputBound());
    int32_t size = 0;
    for (auto _ : state) {
        size = compressor.compress(out.data(), picture.data(), uint32_t(out.size()), 0, int32_t(w * 4));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
    state.counters["frame_bytes"] = double(size);
    state.counters["ratio"] = double(w) * h * 4 / double(size > 0 ? size : 1);
}

}  // namespace

BENCHMARK(BM_Compress)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
