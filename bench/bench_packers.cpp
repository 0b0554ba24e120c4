// Packer and unpacker throughput per texture type on 1080p textures
// (1920x1088), for a natural-looking and a synthetic picture. Bytes/s count
// texture bytes; "ratio" is packed size / texture size (1 = stored raw).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/ycocg.h"
#include "reader/frame_decoder.h"

namespace {

constexpr uint32_t kW = 1920, kH = 1088;

using Bytes = std::vector<uint8_t>;

// Photo-like: soft gradients, a textured region with fine noise, flat sky,
// and a vignette; alpha mostly opaque with a soft matte.
Bytes naturalPicture()
{
    Bytes p(size_t(kW) * kH * 4);
    std::mt19937 rng(42);
    for (uint32_t y = 0; y < kH; ++y) {
        for (uint32_t x = 0; x < kW; ++x) {
            uint8_t* px = &p[(size_t(y) * kW + x) * 4];
            const double fx = x / double(kW), fy = y / double(kH);
            double r, g, b;
            if (fy < 0.35) {  // sky: slow vertical gradient
                r = 90 + 60 * fy;
                g = 140 + 50 * fy;
                b = 220 - 20 * fy;
            } else {  // ground: larger shapes plus fine texture in places
                const double s = std::sin(fx * 9.0 + std::sin(fy * 5.0) * 2.0) * std::cos(fy * 7.0 - fx * 3.0);
                r = 110 + 60 * s;
                g = 100 + 50 * std::sin(fx * 4.0 + fy * 6.0);
                b = 70 + 30 * s;
                if ((x / 240 + y / 136) % 3 == 0) {
                    const double grain = int(rng() % 17) - 8;
                    r += grain, g += grain, b += grain;
                }
            }
            const double v = 1.0 - 0.35 * ((fx - 0.5) * (fx - 0.5) + (fy - 0.5) * (fy - 0.5));
            px[0] = uint8_t(std::clamp(r * v, 0.0, 255.0));
            px[1] = uint8_t(std::clamp(g * v, 0.0, 255.0));
            px[2] = uint8_t(std::clamp(b * v, 0.0, 255.0));
            px[3] = uint8_t(x < 1600 ? 255 : std::clamp(255.0 - (x - 1600) * 0.8, 0.0, 255.0));
        }
    }
    return p;
}

// Screen-like graphics: flat backgrounds, framed panels, a repeated icon tile
// and text-like glyph rows from a small alphabet.
Bytes syntheticPicture()
{
    Bytes p(size_t(kW) * kH * 4);
    std::mt19937 rng(7);
    uint8_t glyphs[16][12][8];
    for (auto& g : glyphs)
        for (auto& row : g)
            for (auto& v : row)
                v = rng() % 3 == 0 ? 255 : 30;
    uint8_t icon[48][48][3];
    for (auto& row : icon)
        for (auto& px : row)
            for (auto& c : px)
                c = uint8_t(rng() & 0xC0);
    for (uint32_t y = 0; y < kH; ++y) {
        for (uint32_t x = 0; x < kW; ++x) {
            uint8_t* px = &p[(size_t(y) * kW + x) * 4];
            uint8_t r = 32, g = 36, b = 44, a = 255;
            if (x >= 100 && x < 900 && y >= 80 && y < 1000) {  // panel with text rows
                r = g = b = 235;
                const uint32_t row = (y - 80) / 16, col = (x - 100) / 10;
                if ((y - 80) % 16 < 12 && (x - 100) % 10 < 8 && (row * 7 + col) % 11 != 0) {
                    const uint8_t v = glyphs[(row * 31 + col * 17) % 16][(y - 80) % 16][(x - 100) % 10];
                    r = g = b = uint8_t(255 - v);
                }
            } else if (x >= 1000 && y >= 100 && y < 868) {  // icon grid
                const uint8_t* c = icon[(y - 100) % 48][(x - 1000) % 48];
                r = c[0], g = c[1], b = c[2];
                a = (x / 48 + y / 48) % 4 == 0 ? 128 : 255;
            } else if (y >= 1020) {  // horizontal gradient bar
                r = uint8_t(x * 255 / kW), g = 128, b = uint8_t(255 - x * 255 / kW);
            }
            px[0] = r, px[1] = g, px[2] = b, px[3] = a;
        }
    }
    return p;
}

Bytes texture(uint32_t type, bool natural)
{
    static const Bytes pictures[2] = {syntheticPicture(), naturalPicture()};
    const Bytes& picture = pictures[natural];
    const size_t pixels = size_t(kW) * kH;
    Bytes t(type == 0 ? pixels / 2 : type == 1 ? pixels : type == 2 ? pixels * 3 / 4 : pixels * 5 / 4);
    switch (type) {
    case 0:
        nox::encodeDxt1Texture(picture.data(), kW, kH, t.data());
        break;
    case 1:
        nox::encodeDxt5Texture(picture.data(), kW, kH, t.data());
        break;
    case 2:
        nox::encodeYcg6(picture.data(), kW, kH, t.data());
        break;
    default:
        nox::encodeYg10(picture.data(), kW, kH, t.data());
        break;
    }
    return t;
}

uint32_t pack(uint32_t type, const Bytes& t, Bytes& out)
{
    const uint32_t n = uint32_t(t.size());
    const uint32_t cap = uint32_t(out.size());
    switch (type) {
    case 0:
        return nox::packDxt1(t.data(), n, out.data(), cap);
    case 1:
        return nox::packDxt5(t.data(), n, out.data(), cap);
    case 2:
        return nox::packYcg6(out.data(), cap, t.data(), n);
    default:
        return nox::packYg10(out.data(), cap, t.data(), n);
    }
}

Bytes outputFor(uint32_t type, const Bytes& t)
{
    const uint32_t n = uint32_t(t.size());
    return Bytes(type < 2 ? nox::packDxtBound(n) : nox::packYcocgBound(n));
}

void BM_Pack(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0));
    const Bytes t = texture(type, state.range(1) != 0);
    Bytes out = outputFor(type, t);
    uint32_t r = 0;
    for (auto _ : state) {
        r = pack(type, t, out);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
    state.counters["ratio"] = r ? double(r) / double(t.size()) : 1.0;
}

void BM_Unpack(benchmark::State& state)
{
    static const nox::UnpackFunction unpackers[4] = {nox::unpackDxt1, nox::unpackDxt5, nox::unpackYcg6,
                                                     nox::unpackYg10};
    const uint32_t type = uint32_t(state.range(0));
    const Bytes t = texture(type, state.range(1) != 0);
    Bytes packed = outputFor(type, t);
    const uint32_t r = pack(type, t, packed);
    if (r == 0) {
        state.SkipWithError("texture does not pack");
        return;
    }
    Bytes restored(t.size());
    for (auto _ : state) {
        const size_t used = unpackers[type](packed.data(), restored.data(), r, t.size());
        benchmark::DoNotOptimize(used);
    }
    if (restored != t)
        state.SkipWithError("round trip differs");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
    state.counters["ratio"] = double(r) / double(t.size());
}

// The floor any unpacker compares with: copying the texture once.
void BM_Copy(benchmark::State& state)
{
    const Bytes t = texture(uint32_t(state.range(0)), true);
    Bytes out(t.size());
    for (auto _ : state) {
        std::memcpy(out.data(), t.data(), t.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

// Arguments: type (0 DXT1, 1 DXT5, 2 YCG6, 3 YG10), content (0 synthetic, 1 natural).
BENCHMARK(BM_Pack)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->ArgNames({"type", "natural"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Unpack)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->ArgNames({"type", "natural"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
