// The DXT and YCoCg encoders against the independent model in
// texture_reference.py (golden bytes and hashes; its generators must stay
// identical to the ones here), the tables, edge pixels and the texture loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "common/textures.h"
#include "common/util.h"
#include "reader/texture.h"

namespace nox {
namespace {

using testing::Bytes;

// n bytes from hex; a shorter string repeats its last pixel (4 bytes) to fill them.
Bytes fromHex(const std::string& hex, size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(std::stoi(hex.substr(std::min(2 * i, hex.size() - 8 + 2 * (i % 4)), 2), nullptr, 16));
    return b;
}

struct XorShift {
    uint32_t s;
    uint32_t next() { return s ^= s << 13, s ^= s >> 17, s ^= s << 5; }
};

uint8_t clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Blocks of four kinds in turn: noise, noisy gradients, two colours, nearly
// flat (corpus() in the model).
std::vector<std::array<uint8_t, 64>> corpus(size_t n)
{
    XorShift rng{0x9E3779B9u};
    std::vector<std::array<uint8_t, 64>> blocks(n);
    for (size_t k = 0; k < n; ++k) {
        uint8_t* b = blocks[k].data();
        if (k % 4 == 0) {
            std::generate(b, b + 64, [&] { return uint8_t(rng.next()); });
        } else if (k % 4 == 1) {
            int base[4], dx[4], dy[4];
            std::generate_n(base, 4, [&] { return int(rng.next() & 255); });
            std::generate_n(dx, 4, [&] { return int(rng.next() % 61) - 30; });
            std::generate_n(dy, 4, [&] { return int(rng.next() % 61) - 30; });
            for (int i = 0; i < 64; ++i)
                b[i] = clamp255(base[i % 4] + dx[i % 4] * (i / 4 % 4) + dy[i % 4] * (i / 16) + int(rng.next() % 7) - 3);
        } else if (k % 4 == 2) {
            uint8_t c[2][4];
            std::generate_n(&c[0][0], 8, [&] { return uint8_t(rng.next()); });
            for (int i = 0; i < 16; ++i)
                std::memcpy(b + 4 * i, c[(rng.next() >> 7) & 1], 4);
        } else {
            int c[4];
            std::generate_n(c, 4, [&] { return int(rng.next() & 255); });
            for (int i = 0; i < 64; ++i)
                b[i] = clamp255(c[i % 4] + int(rng.next() % 5) - 2);
        }
    }
    return blocks;
}

TEST(DxtTables, MatchTheLiteralSearch)
{
    // The match tables are stored as data; run the search they come from.
    const DxtTables& t = dxtTables();
    auto check = [](const uint8_t* expand, int size, const uint8_t(*table)[2]) {
        for (int v = 0; v < 256; ++v) {
            int best = 256, bestHi = -1, bestLo = -1;
            for (int lo = 0; lo < size; ++lo)
                for (int hi = 0; hi < size; ++hi) {
                    const int eh = expand[hi], el = expand[lo];
                    const int err = std::abs((2 * eh + el) / 3 - v) + std::abs(eh - el) * 3 / 100;
                    if (err < best)
                        best = err, bestHi = hi, bestLo = lo;
                }
            ASSERT_EQ(table[v][0], bestHi) << "v=" << v;
            ASSERT_EQ(table[v][1], bestLo) << "v=" << v;
        }
    };
    check(t.expand5, 32, t.omatch5);
    check(t.expand6, 64, t.omatch6);
}

// Blocks chosen because a float/double mix-up, another summation order or
// rounding instead of truncation in the axis changes their output, constant
// blocks, and one differing only in alpha (the axis path runs, both endpoints
// come from pixel 0). The block's pixels in hex, the last repeated to fill it.
TEST(DxtBlocks, GoldenBytes)
{
    // clang-format off
    const char* cases[][3] = {
        {"d8501084a3f0bb2372059302be8030996bf55421114b658ab89d9ef0f0b69cd415586a9344a6075ded4e02fe7cab8db0983c7a2b9f0ba"
         "1ab4335afd2f24317d3", "afd64b599326bdd7", "fe027c78422cf649"},
        {"f59ab9d9ce2745f845b8e7c800f0566751a6aa8fcc7f06aa7ca09760f32e31180923530ef31d10f893b871680fba82ff4e299439f661c"
         "9bd92ae1bff04d9ba92", "a7f9141e523b736b", "ff0ec2ca3941f181"},
        {"4b60ead04342f5c33a2bf8b42c11fba53668d5b12b4fdaa21f3ce3931420e6861c76c199145fc68b0544ca7a002bcf6b0488ad7e006bb"
         "26f0054b35e003bbc51", "7d42570200ea5f55", "d051d036b2ac6f3f"},
        {"759985eae275b4c5e392823ab49289ed6903e58e67668c92c85b2699cad6c2105ebca7fd728452328fa1a1b36e54c89d7c073d1d075da"
         "e9e5fb1774481b77edb", "d0b67250aa2deaad", "fd10da4132f8185a"},
        {"52cde2eb6fc1f4ff85b3ffff9ca3ffff41c7e7f957b8f4ff6ea7ffff8b94ffff2db9eeff42a9fbff5a9affff778affff1aaef0ff2d9df"
         "fff4c90ffff637effff", "df949d2d2b2dbdb5", "ffeb013000000000"},
        {"ffffffff", "ffffffffaaaaaaaa", "ffff000000000000"},
        {"00000000", "00000000aaaaaaaa", "0000000000000000"},
        {"ffffff00ffffffff", "ffffffff00000000", "ff00010000000000"},
        {"01020380", "20000100aaaaaaaa", "8080000000000000"},
    };
    // clang-format on
    // The best tier's search from the fast bytes decodes each block no worse.
    const auto error = [](Bytes dxt5, const Bytes& block) {
        Bytes rgba(64);
        dxt5.resize(256);  // the texture of a picture padded to 16x16
        EXPECT_TRUE(textureToRgba(1, dxt5.data(), dxt5.size(), 4, 4, rgba.data(), 16));
        uint64_t e = 0;
        for (size_t i = 0; i < 64; ++i)
            e += uint64_t((rgba[i] - block[i]) * (rgba[i] - block[i]));
        return e;
    };
    for (const auto& c : cases) {
        const Bytes block = fromHex(c[0], 64);
        Bytes out(8);
        encodeColorBlock(out.data(), block.data());
        EXPECT_EQ(out, fromHex(c[1], 8)) << c[0];
        encodeAlphaBlock(out.data(), block.data());
        EXPECT_EQ(out, fromHex(c[2], 8)) << c[0];
        Bytes best = testing::cat({fromHex(c[2], 8), fromHex(c[1], 8)});
        refineAlphaBlock(best.data(), block.data());
        refineColorBlock(best.data() + 8, block.data());
        EXPECT_LE(error(best, block), error(testing::cat({fromHex(c[2], 8), fromHex(c[1], 8)}), block)) << c[0];
    }
}

// The corpus against hashes from the model; on every block c0 >= c1, and no
// index 3 when c0 == c1, so a DXT1 decoder in three-colour mode still sees an
// opaque block.
TEST(DxtBlocks, CorpusMatchesReferenceHashes)
{
    const auto blocks = corpus(20000);
    Bytes color(blocks.size() * 8), alpha(blocks.size() * 8);
    for (size_t i = 0; i < blocks.size(); ++i) {
        uint8_t* enc = &color[8 * i];
        encodeColorBlock(enc, blocks[i].data());
        encodeAlphaBlock(&alpha[8 * i], blocks[i].data());
        ASSERT_GE(enc[0] | (enc[1] << 8), enc[2] | (enc[3] << 8)) << i;
        uint8_t dec[64];
        decodeDxt1Block(enc, dec);
        for (int p = 0; p < 16; ++p)
            ASSERT_EQ(dec[4 * p + 3], 255) << i;
    }
    EXPECT_EQ(testutil::fnv1a(color), 0xee09aed9a7f143c2ull);
    EXPECT_EQ(testutil::fnv1a(alpha), 0x09c7ca7d1dacecd1ull);
}

// Each pixel holds its own coordinates; sizes below 4 exercise every row of
// the offset table, and the image is exactly as large as its pixels so a read
// past it is caught under the sanitizer.
TEST(DxtBlocks, FetchRepeatsEdgePixels)
{
    static const uint32_t offsets[5][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 2, 0}, {0, 1, 2, 3}};
    for (uint32_t w = 1; w <= 7; ++w)
        for (uint32_t h = 1; h <= 7; ++h) {
            Bytes image(size_t(w) * h * 4, 9);
            for (uint32_t i = 0; i < w * h; ++i)
                image[4 * i] = uint8_t(i % w), image[4 * i + 1] = uint8_t(i / w);
            for (uint32_t y = 0; y < h; y += 4)
                for (uint32_t x = 0; x < w; x += 4) {
                    uint8_t block[64];
                    fetchBlock(image.data(), x, y, w, h, block);
                    const uint32_t kc = std::min(w - x, 4u), kr = std::min(h - y, 4u);
                    for (int j = 0; j < 4; ++j)
                        for (int i = 0; i < 4; ++i) {
                            ASSERT_EQ(block[16 * j + 4 * i], x + offsets[kc][i]) << w << "x" << h;
                            ASSERT_EQ(block[16 * j + 4 * i + 1], y + offsets[kr][j]) << w << "x" << h;
                            ASSERT_EQ(block[16 * j + 4 * i + 3], 9);
                        }
                }
        }
}

// Sides that are not multiples of 8 are refused with nothing written; empty
// pictures succeed with nothing written.
TEST(Ycocg, RejectsSizesNotMultipleOfEight)
{
    const Bytes pic(24 * 24 * 4, 7);
    for (auto [w, h] : {std::pair{12u, 16u}, {16u, 12u}, {4u, 8u}, {20u, 20u}, {9u, 16u}, {16u, 0u}, {0u, 8u}}) {
        Bytes tex(24 * 24 * 2, 0xCD);
        EXPECT_EQ(encodeYcg6(pic.data(), w, h, tex.data()), w && h ? 1 : 0);
        EXPECT_EQ(encodeYg10(pic.data(), w, h, tex.data()), w && h ? 1 : 0);
        EXPECT_EQ(tex, Bytes(tex.size(), 0xCD)) << w << "x" << h;
    }
}

// Expected bytes from the model. Flat values: equal endpoints and no indices,
// or endpoints rounded outward around them.
TEST(Ycocg, SingleChannelBlocksGolden)
{
    struct Case {
        void (*encode)(uint8_t*, const uint16_t*);
        std::array<uint16_t, 16> values;
        std::array<uint8_t, 8> expect;
    };
    auto flat = [](uint16_t v) { return std::array{v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v}; };
    // clang-format off
    const Case cases[] = {
        {encodeLumaBlock, {0, 4080, 17, 33, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4079, 16, 15, 1},
         {0xFF, 0x00, 0x41, 0x72, 0xB7, 0x9C, 0x80, 0x24}},
        {encodeLumaBlock, {1030, 1031, 1040, 1041, 1050, 1055, 1056, 1057, 1058, 1060, 1070, 1071, 1072, 1073, 1074, 1075},
         {0x44, 0x40, 0xBF, 0xDD, 0x92, 0xE4, 0xB6, 0x49}},
        {encodeChromaBlock, {0, 510, 255, 256, 254, 300, 200, 100, 400, 1, 509, 128, 383, 2, 3, 4},
         {0xFF, 0x00, 0x01, 0x59, 0xF6, 0x0B, 0xBC, 0x24}},
        {encodeChromaBlock, {255, 256, 257, 255, 256, 257, 255, 256, 257, 255, 256, 257, 255, 256, 257, 258},
         {0x81, 0x7F, 0xA6, 0x4C, 0x99, 0x32, 0x65, 0x0A}},
        {encodeAlphaPlaneBlock, {10, 11, 12, 13, 14, 15, 16, 10, 11, 12, 13, 14, 15, 16, 10, 16},
         {0x10, 0x0A, 0x71, 0x39, 0x21, 0x2E, 0x27, 0x04}},
        {encodeAlphaPlaneBlock, {0, 255, 0, 255, 128, 64, 192, 32, 224, 16, 240, 8, 248, 1, 254, 127},
         {0xFF, 0x00, 0x41, 0x40, 0xEF, 0x0A, 0x82, 0xA0}},
        {encodeLumaBlock, flat(2048), {0x80, 0x80, 0, 0, 0, 0, 0, 0}},
        {encodeLumaBlock, flat(2040), {0x80, 0x7F, 0x24, 0x49, 0x92, 0x24, 0x49, 0x92}},
        {encodeChromaBlock, flat(301), {0x97, 0x96, 0xDB, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D}},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::array<uint8_t, 8> out;
        c.encode(out.data(), c.values.data());
        EXPECT_EQ(out, c.expect) << c.values[0];
    }
}

// Gradients, an edge and noise (picture() in the model): every block and tile
// in its place, values and layout as the model has them.
TEST(Ycocg, PictureMatchesReferenceHashes)
{
    const uint32_t w = 64, h = 48;
    XorShift rng{12345};
    Bytes pic;
    for (int y = 0; y < int(h); ++y)
        for (int x = 0; x < int(w); ++x) {
            const uint8_t r = clamp255(x * 4 + int(rng.next() % 9) - 4);
            const uint8_t g = clamp255(y * 5 + int(rng.next() % 9) - 4);
            const uint8_t b = clamp255(255 - 2 * x - 2 * y + int(rng.next() % 9) - 4);
            const uint8_t a = clamp255(128 + (x - y) * 3 + int(rng.next() % 5) - 2);
            pic.insert(pic.end(), {r, g, uint8_t(x > y + 10 ? 255 - b : b), a});
        }
    ASSERT_EQ(testutil::fnv1a(pic), 0x7068fa04a5c81b0cull);
    EXPECT_EQ(testutil::fnv1a(testing::encodeTexture(2, pic, w, h)), 0x193bf3d6b9de0057ull);
    EXPECT_EQ(testutil::fnv1a(testing::encodeTexture(3, pic, w, h)), 0xa150a56fb21c4333ull);
}

}  // namespace
}  // namespace nox
