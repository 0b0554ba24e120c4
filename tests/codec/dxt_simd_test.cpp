// The multi-block DXT encoders against the scalar reference, byte for byte:
// random blocks of many kinds mixed within every vector, and whole pictures
// whose block rows end in a partial vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "codec/dxt.h"

namespace nox {
namespace {

struct Rng {
    uint64_t s;
    uint32_t next()
    {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(s >> 33);
    }
    int below(int n) { return int(next() % uint32_t(n)); }
};

uint8_t clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

enum Kind { Noise, FewLevels, Gradient, NearConstant, Constant, ConstantColorVaryingAlpha, ExtremeAlpha, kKinds };

// One 4x4 block of the given kind; `px` points at its top-left pixel in a
// picture whose rows are `stride` bytes apart.
void makeBlock(Kind kind, Rng& rng, uint8_t* px, size_t stride)
{
    auto at = [&](int i) { return px + size_t(i / 4) * stride + 4 * size_t(i % 4); };
    int base[4], levels[4][4];
    for (int c = 0; c < 4; ++c) {
        base[c] = rng.below(256);
        for (int& l : levels[c])
            l = rng.below(256);
    }
    switch (kind) {
    case Noise:
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c)
                at(i)[c] = uint8_t(rng.next());
        break;
    case FewLevels: {
        // Two to four values per channel, often the extremes: equal
        // projections, tied extremes, degenerate least squares.
        const int n = 2 + rng.below(3);
        const bool extremes = rng.below(2) == 0;
        for (int i = 0; i < 16; ++i) {
            const int pick = rng.below(n);
            for (int c = 0; c < 4; ++c)
                at(i)[c] = uint8_t(extremes ? pick * 255 / (n - 1) : levels[c][pick]);
        }
        break;
    }
    case Gradient: {
        int dx[4], dy[4];
        for (int c = 0; c < 4; ++c) {
            dx[c] = rng.below(41) - 20;
            dy[c] = rng.below(41) - 20;
        }
        const int noise = rng.below(4);
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c)
                at(i)[c] = clamp255(base[c] + dx[c] * (i % 4) + dy[c] * (i / 4) + (noise ? rng.below(2 * noise + 1) - noise : 0));
        break;
    }
    case NearConstant: {
        // A flat colour with a few pixels one or two steps off.
        const int changes = 1 + rng.below(4);
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c)
                at(i)[c] = uint8_t(base[c]);
        for (int k = 0; k < changes; ++k)
            at(rng.below(16))[rng.below(4)] = clamp255(base[rng.below(4)] + rng.below(5) - 2);
        break;
    }
    case Constant:
    case ConstantColorVaryingAlpha:
    case ExtremeAlpha:
        for (int i = 0; i < 16; ++i) {
            for (int c = 0; c < 3; ++c)
                at(i)[c] = uint8_t(base[c]);
            at(i)[3] = uint8_t(kind == Constant                  ? base[3]
                               : kind == ConstantColorVaryingAlpha ? rng.below(256)
                               // 0 and 255 only, or two neighbouring values at either end
                               : std::array<int, 6>{0, 255, 0, 1, 254, 255}[2 * rng.below(3) + rng.below(2)]);
        }
        break;
    default:
        break;
    }
}

std::vector<DxtKernel> fastLevels()
{
    std::vector<DxtKernel> levels;
    for (DxtKernel k : {DxtKernel::Sse2, DxtKernel::Sse41, DxtKernel::Avx2})
        if (dxtKernelSupported(k))
            levels.push_back(k);
    return levels;
}

// The first differing block of two textures, for the failure message.
std::string firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, size_t blockBytes)
{
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i])
            return "block " + std::to_string(i / blockBytes);
    return "none";
}

// Every level's DXT1 and DXT5 textures of a picture equal the scalar ones.
void expectLevelsMatch(const std::vector<uint8_t>& picture, uint32_t width, uint32_t height, const std::string& what)
{
    const size_t blocks = size_t(width / 4) * (height / 4);
    std::vector<uint8_t> want1(blocks * 8), want5(blocks * 16);
    encodeDxt1TextureWith(DxtKernel::Scalar, picture.data(), width, height, want1.data());
    encodeDxt5TextureWith(DxtKernel::Scalar, picture.data(), width, height, want5.data());
    for (DxtKernel k : fastLevels()) {
        // Exactly sized, so the sanitizer catches a write past the end.
        std::vector<uint8_t> got1(want1.size()), got5(want5.size());
        encodeDxt1TextureWith(k, picture.data(), width, height, got1.data());
        encodeDxt5TextureWith(k, picture.data(), width, height, got5.data());
        ASSERT_EQ(got1, want1) << what << " DXT1 " << dxtKernelName(k) << " " << firstDifference(got1, want1, 8);
        ASSERT_EQ(got5, want5) << what << " DXT5 " << dxtKernelName(k) << " " << firstDifference(got5, want5, 16);
    }
    std::vector<uint8_t> plain(want5.size());
    encodeDxt5Texture(picture.data(), width, height, plain.data());
    ASSERT_EQ(plain, want5) << what << " plain entry point";
}

// Two million random blocks, their kinds mixed within every vector, in
// strips of 4093 blocks (a prime: every strip ends in a partial vector).
TEST(DxtLanes, RandomBlocksMatchScalar)
{
    constexpr uint32_t kBlocksPerStrip = 4093, kStrips = 500;
    const uint32_t width = 4 * kBlocksPerStrip, height = 4;
    std::vector<uint8_t> picture(size_t(width) * height * 4);
    Rng rng{0x5EED};
    for (uint32_t strip = 0; strip < kStrips; ++strip) {
        for (uint32_t b = 0; b < kBlocksPerStrip; ++b)
            makeBlock(Kind(rng.below(kKinds)), rng, &picture[16 * size_t(b)], size_t(width) * 4);
        expectLevelsMatch(picture, width, height, "strip " + std::to_string(strip));
        if (HasFatalFailure())
            return;
    }
}

// Picture-like content: noisy gradients, a disc, a rectangle, stripes,
// transparent and opaque areas; block rows of 1 to 250 blocks.
TEST(DxtLanes, PicturesMatchScalar)
{
    struct Size {
        uint32_t width, height;
    };
    for (Size s : {Size{4, 4}, Size{12, 8}, Size{20, 12}, Size{52, 36}, Size{148, 44}, Size{1000, 64}}) {
        std::vector<uint8_t> picture(size_t(s.width) * s.height * 4);
        Rng rng{s.width * 131u + s.height};
        for (uint32_t y = 0; y < s.height; ++y)
            for (uint32_t x = 0; x < s.width; ++x) {
                const double fx = double(x) / s.width, fy = double(y) / s.height;
                const int noise = rng.below(7) - 3;
                double r = 30 + 200 * fx, g = 80 + 100 * std::sin(fy * 7), b = 200 - 150 * fx * fy, a = 255;
                const double dx = x - 0.4 * s.width, dy = y - 0.5 * s.height;
                if (dx * dx + dy * dy < 0.09 * s.width * s.height) {
                    r = 240;
                    g = 120 + 0.2 * dy;
                    b = 30;
                    a = 128;
                }
                if (x > s.width * 3 / 5 && y < s.height / 2) {
                    r = g = b = ((x / 2 + y) % 3 == 0) ? 250 : 10;
                    a = 0;
                }
                uint8_t* p = &picture[(size_t(y) * s.width + x) * 4];
                p[0] = clamp255(int(r) + noise);
                p[1] = clamp255(int(g) + noise);
                p[2] = clamp255(int(b) + noise);
                p[3] = clamp255(int(a * (0.5 + 0.5 * fy)) + (a > 0 && a < 255 ? noise : 0));
            }
        expectLevelsMatch(picture, s.width, s.height, std::to_string(s.width) + "x" + std::to_string(s.height));
        if (HasFatalFailure())
            return;
    }
}

}  // namespace
}  // namespace nox
