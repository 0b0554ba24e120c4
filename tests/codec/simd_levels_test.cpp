// Every instruction-set level and the plain entry points against the scalar
// reference, byte for byte: encoders on random blocks and on pictures of many
// sizes (partial vectors, odd tile counts, narrower than one unit), packers on
// synthetic and encoded textures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/textures.h"
#include "common/util.h"
#include "content/content.h"

namespace nox {
namespace {

using testing::Bytes;

struct Rng {
    uint64_t s;
    uint32_t next() { return uint32_t((s = s * 6364136223846793005ull + 1442695040888963407ull) >> 33); }
    int below(int n) { return int(next() % uint32_t(n)); }
};

uint8_t clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

enum Kind { Noise, FewLevels, Gradient, NearConstant, Constant, VaryingAlpha, ExtremeAlpha, kKinds };

// One 4x4 block of the given kind at px, in a picture whose rows are `stride`
// bytes apart. Few levels: two to four values, grey extremes, extremes per
// channel or random levels (equal projections, tied extremes, degenerate
// least squares, the widest ramps). Near constant: a flat colour with a few
// pixels one or two steps off. Constant colour with constant alpha, random
// alpha, or 0 and 255 only or two neighbouring values at either end.
void makeBlock(Kind kind, Rng& rng, uint8_t* px, size_t stride)
{
    auto at = [&](int i) { return px + size_t(i / 4) * stride + 4 * size_t(i % 4); };
    int base[4], levels[4][4], dx[4], dy[4];
    for (int c = 0; c < 4; ++c) {
        base[c] = rng.below(256), dx[c] = rng.below(41) - 20, dy[c] = rng.below(41) - 20;
        for (int& l : levels[c])
            l = rng.below(256);
    }
    const int n = 2 + rng.below(3), mode = rng.below(3), noise = rng.below(4);
    auto value = [&](int i, int c, int pick) {
        if (kind == Noise)
            return rng.below(256);
        if (kind == FewLevels)
            return mode == 2 ? levels[c][pick] : (mode == 0 ? pick : rng.below(n)) * 255 / (n - 1);
        if (kind == Gradient)
            return base[c] + dx[c] * (i % 4) + dy[c] * (i / 4) + (noise ? rng.below(2 * noise + 1) - noise : 0);
        if (c < 3 || kind <= Constant)
            return base[c];
        return kind == VaryingAlpha ? rng.below(256)
                                    : std::array{0, 255, 0, 1, 254, 255}[2 * rng.below(3) + rng.below(2)];
    };
    for (int i = 0; i < 16; ++i) {
        const int pick = rng.below(n);
        for (int c = 0; c < 4; ++c)
            at(i)[c] = clamp255(value(i, c, pick));
    }
    for (int k = kind == NearConstant ? 1 + rng.below(4) : 0; k > 0; --k)
        at(rng.below(16))[rng.below(4)] = clamp255(base[rng.below(4)] + rng.below(5) - 2);
}

Bytes blockPicture(uint32_t w, uint32_t h, Rng& rng)
{
    Bytes p(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; y += 4)
        for (uint32_t x = 0; x < w; x += 4)
            makeBlock(Kind(rng.below(kKinds)), rng, &p[(size_t(y) * w + x) * 4], size_t(w) * 4);
    return p;
}

// Every level's textures of a picture equal the scalar ones (YCoCg where the
// sides are multiples of 8). Outputs are exactly sized, so the sanitizer
// catches a write past the end, and filled differently, so an unwritten byte
// shows.
void expectEncodersMatch(const Bytes& picture, uint32_t w, uint32_t h, const std::string& what)
{
    const uint32_t types = w % 8 || h % 8 ? 2 : 4;
    for (uint32_t type = 0; type < types; ++type) {
        Bytes want(testing::encodedSize(type, w, h), 0xAA);
        ASSERT_EQ(testing::encodeInto(type, picture, w, h, want.data(), SimdLevel::Scalar), 0);
        for (SimdLevel k : testing::fastLevels()) {
            Bytes got(want.size(), 0x55);
            ASSERT_EQ(testing::encodeInto(type, picture, w, h, got.data(), k), 0);
            const size_t at = size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
            ASSERT_EQ(got, want) << what << " type " << type << " " << simdLevelName(k) << " byte " << at;
        }
        ASSERT_EQ(testing::encodeTexture(type, picture, w, h), want) << what << " type " << type << " plain";
    }
}

std::vector<std::pair<std::string, Bytes>> render(const std::vector<std::string>& names, uint32_t w, uint32_t h)
{
    std::vector<std::pair<std::string, Bytes>> out;
    for (const std::string& name : names) {
        Bytes rgba;
        std::string error;
        EXPECT_TRUE(zemo3::content::renderContent(name, w, h, &rgba, &error)) << error;
        out.emplace_back(name, rgba.size() == size_t(w) * h * 4 ? rgba : Bytes(size_t(w) * h * 4));
    }
    return out;
}

// Two million random blocks, their kinds mixed within every vector, in strips
// of 4093 blocks (a prime: every strip ends in a partial vector).
TEST(SimdLevels, RandomBlocksMatchScalar)
{
    constexpr uint32_t kBlocks = 4093, kStrips = 500;
    Rng rng{0x5EED};
    for (uint32_t strip = 0; strip < kStrips; ++strip) {
        expectEncodersMatch(blockPicture(4 * kBlocks, 4, rng), 4 * kBlocks, 4, "strip " + std::to_string(strip));
        ASSERT_FALSE(HasFatalFailure());
    }
}

// Pictures of random blocks and real content (the content library's
// pictures, cropped), from one block or tile to wide ones.
TEST(SimdLevels, PicturesMatchScalar)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{4, 4},    {12, 8},   {20, 12},   {8, 8},     {16, 24}, {24, 16},
                                                   {32, 8},   {40, 40},  {52, 36},   {56, 32},   {72, 24}, {136, 48},
                                                   {148, 44}, {200, 64}, {1000, 64}, {1368, 440}};
    const auto contents = render(zemo3::content::contentNames(), 1368, 440);
    Rng rng{7};
    for (auto [w, h] : sizes) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        expectEncodersMatch(blockPicture(w, h, rng), w, h, "blocks " + size);
        for (const auto& [name, full] : contents) {
            Bytes crop(size_t(w) * h * 4);
            for (uint32_t y = 0; y < h; ++y)
                std::copy_n(&full[size_t(y) * 1368 * 4], w * 4, &crop[size_t(y) * w * 4]);
            expectEncodersMatch(crop, w, h, name + " " + size);
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

// A texture that packs well in every type: as YCoCg, its luma stream ends in
// a run and its chroma packs small, so that the room can run out right at the
// run with the chroma still fitting.
Bytes endsInARun(uint32_t type)
{
    const size_t tiles = 24, luma = tiles * (type == 2 ? 32 : 64);
    Bytes t = testing::makeAlphabetUnits(luma / 8, 9 + type, 1, false);
    for (size_t i = luma - 192; i < luma; ++i)
        t[i] = t[i - 16];
    for (size_t i = 0; i < tiles * 16; ++i)
        t.push_back(uint8_t(i % 16));
    return t;
}

// Synthetic textures (every reference kind and distance, runs past 65 535 +
// 255 and references beyond the packers' reach in the largest), noise, and
// the textures of real content and of random blocks. The small ones also at
// every capacity: a packer declines until its whole result fits, then writes
// just that (the DXT packers ask for their bound), never a byte past the capacity.
TEST(SimdLevels, PackersMatchScalar)
{
    auto contents = render(zemo3::content::naturalContentNames(), 512, 256);
    Rng rng{11};
    contents.emplace_back("blocks", blockPicture(512, 256, rng));
    std::vector<SimdLevel> levels = testing::fastLevels();
    levels.push_back(SimdLevel::Scalar);
    for (uint32_t type = 0; type < 4; ++type) {
        std::vector<std::pair<std::string, Bytes>> textures;
        for (auto [w, h] : {std::pair{16u, 16u}, {48u, 32u}, {256u, 128u}, {1024u, 512u}, {2048u, 1152u}}) {
            textures.emplace_back("synthetic " + std::to_string(w),
                                  testing::makeTexture(type, testing::Content::Alphabet, w, h, w + type));
            textures.emplace_back("short runs " + std::to_string(w),
                                  testing::makeAlphabetUnits(textureSize(type, w, h) / 8, w * type, 1, false));
        }
        Bytes noise = testing::makePicture(testing::Content::Random, 256, 160, type);
        noise.resize(textureSize(type, 256, 128));
        textures.emplace_back("noise", noise);
        for (const auto& [name, picture] : contents)
            textures.emplace_back(name, testing::encodeTexture(type, picture, 512, 256));
        textures.emplace_back("ends in a run", endsInARun(type));
        for (const auto& [name, in] : textures) {
            const uint32_t n = uint32_t(in.size()), cap = type < 2 ? packDxtBound(n) : packYcocgBound(n);
            Bytes want(cap, 0xAA);
            want.resize(testing::packInto(type, in, want, SimdLevel::Scalar));
            for (SimdLevel k : levels) {
                Bytes got(cap, 0x55);
                got.resize(testing::packInto(type, in, got, k));
                ASSERT_EQ(got, want) << name << " type " << type << " " << simdLevelName(k);
                bool fitted = false;
                for (uint32_t c = 0; n <= 2048 && c < cap; ++c) {
                    Bytes out(cap, 0x5A);
                    const uint32_t r = testing::packInto(type, in, out, k, c);
                    fitted = fitted || r != 0;
                    ASSERT_TRUE(r == 0 ? !fitted : type >= 2 && Bytes(out.begin(), out.begin() + r) == want)
                        << name << " type " << type << " " << simdLevelName(k) << " capacity " << c;
                    ASSERT_EQ(Bytes(out.begin() + c, out.end()), Bytes(cap - c, 0x5A)) << name << " capacity " << c;
                }
            }
            ASSERT_EQ(testing::packTexture(type, in), want) << name << " type " << type << " plain";
        }
    }
}

// ZEMO_KERNEL caps the level of the plain entry points once per process, so
// each setting runs in a child: unknown names and levels above the
// processor's leave the highest supported one.
TEST(SimdLevels, EnvironmentCapsTheLevel)
{
    if (const char* expected = std::getenv("ZEMO_TEST_EXPECTED_KERNEL"); expected && *expected) {
        EXPECT_STREQ(simdLevelName(activeSimdLevel()), expected);
        return;
    }
    const SimdLevel top = activeSimdLevel();
    for (auto [setting, expected] : {std::pair{"scalar", SimdLevel::Scalar},
                                     {"sse2", std::min(top, SimdLevel::Sse2)},
                                     {"avx2", std::min(top, SimdLevel::Avx2)},
                                     {"avx512", top},
                                     {"fastest", top}}) {
        const auto r = testutil::run({{"ZEMO_KERNEL", setting}, {"ZEMO_TEST_EXPECTED_KERNEL", simdLevelName(expected)}},
                                     testutil::self() + " --gtest_filter=SimdLevels.EnvironmentCapsTheLevel");
        EXPECT_EQ(r.code, 0) << setting << "\n" << r.out;
    }
}

}  // namespace
}  // namespace nox
