// Every instruction-set level of the YCoCg encoders and of the packers writes
// the scalar reference's bytes: pictures of many kinds and sizes (odd tile
// counts, units that overlap at the right edge, narrower than one unit), and
// textures of every type from random, repetitive and picture-like content.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// Textures built unit by unit (8-byte units) to exercise every coding path:
// runs of repeats (short, long, past 255 and 65 535 + 255), whole units
// copied from near and far back (beyond the packers' reach too), and units
// composed of fields (DXT words, endpoints and index pieces) drawn from small
// pools, so that half and field matches and hash collisions occur.
Bytes unitTexture(size_t units, uint32_t seed, bool random)
{
    std::mt19937 rng(seed);
    Bytes t(units * 8);
    if (random) {
        for (uint8_t& b : t)
            b = uint8_t(rng());
        return t;
    }
    uint8_t pool[24][8];
    for (auto& unit : pool)
        for (uint8_t& b : unit)
            b = uint8_t(rng() % 4 ? rng() : 0);
    for (size_t u = 0; u < units;) {
        uint8_t* dst = &t[u * 8];
        const uint32_t what = rng() % 16;
        if (what < 3 && u > 0) {
            // A run; now and then a long one.
            size_t k = rng() % 8 == 0 ? rng() % 70000 : rng() % 6 + 1;
            k = std::min(k, units - u);
            for (size_t r = 0; r < k; ++r)
                std::memcpy(dst + r * 8, dst - 8, 8);
            u += k;
            continue;
        }
        if (what < 7 && u > 0) {
            // Copy from near (up to a few hundred units), or from anywhere.
            const size_t d = 1 + (rng() % 2 ? rng() % 300 : rng() % u);
            std::memcpy(dst, dst - 8 * std::min(d, u), 8);
        } else if (what < 14) {
            // Fields from the pool, split as DXT words (4 + 4) or as
            // endpoints and index pieces (2 + 3 + 3); some bytes fresh.
            const bool words = rng() % 2;
            const int cuts[2][4] = {{0, 4, 8, 8}, {0, 2, 5, 8}};
            for (int f = 0; f < 3; ++f) {
                const int a = cuts[!words][f], b = cuts[!words][f + 1];
                const uint8_t* src = pool[rng() % 24];
                for (int i = a; i < b; ++i)
                    dst[i] = rng() % 8 ? src[i] : uint8_t(rng());
            }
        } else {
            for (int i = 0; i < 8; ++i)
                dst[i] = uint8_t(rng());
        }
        ++u;
    }
    return t;
}

uint32_t packWith(DxtKernel k, int type, const Bytes& in, Bytes& out)
{
    const uint32_t n = uint32_t(in.size()), cap = uint32_t(out.size());
    switch (type) {
    case 0: return packDxt1With(k, in.data(), n, out.data(), cap);
    case 1: return packDxt5With(k, in.data(), n, out.data(), cap);
    case 2: return packYcg6With(k, out.data(), cap, in.data(), n);
    default: return packYg10With(k, out.data(), cap, in.data(), n);
    }
}

TEST(SimdLevels, PackersMatchScalar)
{
    constexpr uint32_t kMultiple[4] = {8, 16, 48, 80};
    std::vector<Bytes> textures[4];
    // Unit-built textures, random and structured, small to beyond the
    // longest reference distance.
    uint32_t seed = 100;
    for (size_t units : {6, 30, 1000, 20000, 300000}) {
        for (bool random : {false, true}) {
            const Bytes t = unitTexture(units, ++seed, random);
            for (int type = 0; type < 4; ++type)
                if (t.size() >= kMultiple[type])
                    textures[type].emplace_back(t.begin(), t.end() - t.size() % kMultiple[type]);
        }
    }
    // Encoded pictures of every look.
    for (Look look : kLooks) {
        const uint32_t w = 512, h = 256;
        const Bytes pic = picture(look, w, h, ++seed);
        const size_t pixels = size_t(w) * h;
        Bytes t(pixels / 2);
        encodeDxt1Texture(pic.data(), w, h, t.data());
        textures[0].push_back(t);
        t.resize(pixels);
        encodeDxt5Texture(pic.data(), w, h, t.data());
        textures[1].push_back(t);
        t.resize(pixels * 3 / 4);
        encodeYcg6(pic.data(), w, h, t.data());
        textures[2].push_back(t);
        t.resize(pixels * 5 / 4);
        encodeYg10(pic.data(), w, h, t.data());
        textures[3].push_back(t);
    }

    for (int type = 0; type < 4; ++type) {
        for (size_t i = 0; i < textures[type].size(); ++i) {
            const Bytes& in = textures[type][i];
            const uint32_t n = uint32_t(in.size());
            const size_t cap = type < 2 ? packDxtBound(n) : packYcocgBound(n);
            Bytes ref(cap, 0xAA);
            const uint32_t r = packWith(DxtKernel::Scalar, type, in, ref);
            for (DxtKernel k : fastLevels()) {
                Bytes fast(cap, 0x55);
                const uint32_t f = packWith(k, type, in, fast);
                const std::string what = std::string(dxtKernelName(k)) + " type " + std::to_string(type) +
                                         " texture " + std::to_string(i) + " of " + std::to_string(n) + " bytes";
                ASSERT_EQ(f, r) << what;
                ASSERT_TRUE(std::equal(ref.begin(), ref.begin() + r, fast.begin())) << what;
            }
        }
    }
}

}  // namespace
}  // namespace nox
