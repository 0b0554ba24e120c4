// Every instruction-set level of the YCoCg encoders and of the packers writes
// the scalar reference's bytes: pictures of many kinds and sizes (odd tile
// counts, units that overlap at the right edge, narrower than one unit), and
// textures of every type from random, repetitive and picture-like content.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/ycocg.h"

namespace nox {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<DxtKernel> fastLevels()
{
    std::vector<DxtKernel> levels;
    for (DxtKernel k : {DxtKernel::Sse2, DxtKernel::Sse41, DxtKernel::Avx2})
        if (dxtKernelSupported(k))
            levels.push_back(k);
    return levels;
}

enum class Look { Noise, Extremes, GradientNoise, HardEdges, Flat, Tiles };
constexpr Look kLooks[] = {Look::Noise, Look::Extremes, Look::GradientNoise, Look::HardEdges, Look::Flat, Look::Tiles};

// RGBA pictures: noise over the full range, 0/255 patterns (the widest
// ramps), gradients with grain (narrow ramps), rectangles with hard edges,
// flat colour, and a repeated small tile (whole-block repeats for the packers).
Bytes picture(Look look, uint32_t w, uint32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes p(size_t(w) * h * 4);
    struct Rect {
        uint32_t x0, y0, x1, y1;
        uint8_t c[4];
    };
    std::vector<Rect> rects(12);
    for (Rect& r : rects) {
        r.x0 = rng() % w, r.x1 = r.x0 + rng() % (w / 2 + 1);
        r.y0 = rng() % h, r.y1 = r.y0 + rng() % (h / 2 + 1);
        for (uint8_t& c : r.c)
            c = uint8_t(rng());
    }
    const uint8_t flat[4] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    Bytes motif(16 * 16 * 4);
    for (uint8_t& v : motif)
        v = uint8_t(rng() & 0xF0);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            for (int c = 0; c < 4; ++c) {
                int v = 0;
                switch (look) {
                case Look::Noise: v = int(rng() & 0xFF); break;
                case Look::Extremes: v = rng() & 1 ? 255 : 0; break;
                case Look::GradientNoise:
                    v = int(128 + 100 * std::sin(x * (0.03 + 0.01 * c) + y * 0.05)) + int(rng() % 9) - 4;
                    break;
                case Look::HardEdges:
                    v = c == 3 ? 255 : 40;
                    for (const Rect& r : rects)
                        if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1)
                            v = r.c[c];
                    break;
                case Look::Flat: v = flat[c]; break;
                case Look::Tiles: v = motif[((y % 16) * 16 + x % 16) * 4 + c]; break;
                }
                px[c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
    return p;
}

TEST(SimdLevels, YcocgEncodersMatchScalar)
{
    // Widths: one tile, below and at one unit of each level, odd tile counts
    // (the last unit overlaps), and a wide one.
    const std::pair<uint32_t, uint32_t> sizes[] = {{8, 8}, {16, 24}, {24, 16}, {32, 8}, {40, 40}, {56, 32},
                                                   {72, 24}, {136, 48}, {200, 64}, {1368, 440}};
    uint32_t seed = 1;
    for (Look look : kLooks) {
        for (auto [w, h] : sizes) {
            const Bytes pic = picture(look, w, h, ++seed);
            Bytes ref6(size_t(w) * h * 3 / 4, 0xAA), ref10(size_t(w) * h * 5 / 4, 0xAA);
            ASSERT_EQ(encodeYcg6With(DxtKernel::Scalar, pic.data(), w, h, ref6.data()), 0);
            ASSERT_EQ(encodeYg10With(DxtKernel::Scalar, pic.data(), w, h, ref10.data()), 0);
            for (DxtKernel k : fastLevels()) {
                // A different fill, so that a byte left unwritten shows.
                Bytes fast6(ref6.size(), 0x55), fast10(ref10.size(), 0x55);
                ASSERT_EQ(encodeYcg6With(k, pic.data(), w, h, fast6.data()), 0);
                ASSERT_EQ(encodeYg10With(k, pic.data(), w, h, fast10.data()), 0);
                const std::string what = std::string(dxtKernelName(k)) + " look " + std::to_string(int(look)) +
                                         " " + std::to_string(w) + "x" + std::to_string(h);
                ASSERT_TRUE(fast6 == ref6) << what;
                ASSERT_TRUE(fast10 == ref10) << what;
            }
        }
    }
}

}  // namespace
}  // namespace nox
