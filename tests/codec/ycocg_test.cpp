#include "codec/ycocg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/dxt.h"

namespace nox {
namespace {

std::vector<uint8_t> solidPicture(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (size_t i = 0; i < p.size(); i += 4) {
        p[i] = r;
        p[i + 1] = g;
        p[i + 2] = b;
        p[i + 3] = a;
    }
    return p;
}

// Every 8-byte block of a texture section equals the given bytes.
void expectAllBlocks(const uint8_t* data, size_t bytes, size_t step, std::vector<uint8_t> expect)
{
    for (size_t o = 0; o < bytes; o += step)
        ASSERT_EQ(std::vector<uint8_t>(data + o, data + o + 8), expect) << "offset " << o;
}

TEST(Ycocg, FlatGreyAndPureRed)
{
    const uint32_t w = 16, h = 8;
    std::vector<uint8_t> tex(w * h * 3 / 4);
    auto grey = solidPicture(w, h, 128, 128, 128, 10);
    ASSERT_EQ(encodeYcg6(grey.data(), w, h, tex.data()), 0);
    expectAllBlocks(tex.data(), w * h / 2, 8, {128, 128, 0, 0, 0, 0, 0, 0});
    // Co9 = Cg9 = 255: endpoints 128/127 and index 3 (binary 011) everywhere.
    expectAllBlocks(tex.data() + w * h / 2, w * h / 4, 8, {128, 127, 0xDB, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D});

    auto red = solidPicture(w, h, 255, 0, 0, 10);
    ASSERT_EQ(encodeYcg6(red.data(), w, h, tex.data()), 0);
    // Y16 = 1020 -> 64/63, every value at t = 5 (index 3); Co9 = 510 ->
    // 255/255; Cg9 = -1020/8 truncated = -127, + 255 = 128 -> 64/64.
    expectAllBlocks(tex.data(), w * h / 2, 8, {64, 63, 0xDB, 0xB6, 0x6D, 0xDB, 0xB6, 0x6D});
    expectAllBlocks(tex.data() + w * h / 2, w * h / 4, 16, {255, 255, 0, 0, 0, 0, 0, 0});
    expectAllBlocks(tex.data() + w * h / 2 + 8, w * h / 4, 16, {64, 64, 0, 0, 0, 0, 0, 0});

    std::vector<uint8_t> tex10(w * h * 5 / 4);
    auto opaque = solidPicture(w, h, 30, 60, 90, 255);
    ASSERT_EQ(encodeYg10(opaque.data(), w, h, tex10.data()), 0);
    expectAllBlocks(tex10.data() + 8, w * h, 16, {255, 255, 0, 0, 0, 0, 0, 0});
}

TEST(Ycocg, RejectsSizesNotMultipleOfEight)
{
    auto pic = solidPicture(24, 24, 1, 2, 3, 4);
    const std::pair<uint32_t, uint32_t> sizes[] = {{12, 16}, {16, 12}, {4, 8}, {20, 20}, {9, 16}};
    for (auto [w, h] : sizes) {
        std::vector<uint8_t> tex(24 * 24 * 2, 0xCD);
        EXPECT_EQ(encodeYcg6(pic.data(), w, h, tex.data()), 1);
        EXPECT_EQ(encodeYg10(pic.data(), w, h, tex.data()), 1);
        EXPECT_EQ(tex, std::vector<uint8_t>(tex.size(), 0xCD));
    }
    std::vector<uint8_t> tex(16, 0xCD);
    EXPECT_EQ(encodeYcg6(pic.data(), 16, 0, tex.data()), 0);
    EXPECT_EQ(encodeYg10(pic.data(), 0, 8, tex.data()), 0);
    EXPECT_EQ(tex, std::vector<uint8_t>(16, 0xCD));
}

// A 32x16 picture (4x2 tiles, 8x4 blocks) where every 4x4 block has its own
// grey level and alpha and every tile its own R - B, so a block or tile in
// the wrong place shows as a wrong endpoint.
TEST(Ycocg, LayoutPutsEveryBlockInItsPlace)
{
    const uint32_t w = 32, h = 16, bw = w / 4, tw = w / 8;
    std::vector<uint8_t> pic(w * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t blk = (y / 4) * bw + x / 4, tile = (y / 8) * tw + x / 8;
            uint8_t* p = &pic[(y * w + x) * 4];
            // R + 2G + B = 4*(8 + 4*blk) and R - B = 2*tile: luma 8 + 4*blk.
            p[1] = uint8_t(8 + 4 * blk);
            p[0] = uint8_t(8 + 4 * blk + tile);
            p[2] = uint8_t(8 + 4 * blk - tile);
            p[3] = uint8_t(200 - blk);
        }
    std::vector<uint8_t> ycg6(w * h * 3 / 4), yg10(w * h * 5 / 4);
    ASSERT_EQ(encodeYcg6(pic.data(), w, h, ycg6.data()), 0);
    ASSERT_EQ(encodeYg10(pic.data(), w, h, yg10.data()), 0);
    for (uint32_t blk = 0; blk < bw * (h / 4); ++blk) {
        const uint8_t luma = uint8_t(8 + 4 * blk);
        EXPECT_EQ(ycg6[blk * 8], luma) << blk;
        EXPECT_EQ(ycg6[blk * 8 + 1], luma) << blk;
        EXPECT_EQ(yg10[blk * 16], luma) << blk;
        EXPECT_EQ(yg10[blk * 16 + 8], 200 - blk) << blk;
        EXPECT_EQ(yg10[blk * 16 + 9], 200 - blk) << blk;
    }
    for (uint32_t tile = 0; tile < tw * (h / 8); ++tile) {
        // Co9 = 2*tile + 255 -> endpoints ceil/floor of half: tile + 128, tile + 127.
        for (const uint8_t* c : {&ycg6[w * h / 2 + tile * 16], &yg10[w * h + tile * 16]}) {
            EXPECT_EQ(c[0], tile + 128) << tile;
            EXPECT_EQ(c[1], tile + 127) << tile;
            // Cg9 = 255 for every tile (G equals the mean of R and B).
            EXPECT_EQ(c[8], 128) << tile;
            EXPECT_EQ(c[9], 127) << tile;
        }
    }
}

// Every instruction-set level writes the scalar reference's bytes, on noise
// (full ranges), on extremes (0/255 patterns: widest ramps) and on smooth
// content (narrow ramps, endpoints close together).
TEST(Ycocg, EveryLevelMatchesScalar)
{
    const uint32_t w = 64, h = 40;
    uint32_t s = 4242;
    for (int kind = 0; kind < 4; ++kind) {
        std::vector<uint8_t> pic(w * h * 4);
        for (size_t i = 0; i < pic.size(); ++i) {
            s = s * 1664525u + 1013904223u;
            const size_t x = (i / 4) % w, y = i / 4 / w;
            if (kind == 0)
                pic[i] = uint8_t(s >> 24);
            else if (kind == 1)
                pic[i] = (s >> 28) & 1 ? 255 : 0;
            else if (kind == 2)
                pic[i] = uint8_t(x * 3 + y + (i % 4) * 20 + ((s >> 30) & 1));
            else
                pic[i] = uint8_t((x / 8 + y / 8) % 2 ? 250 + (s >> 30) : (s >> 30));
        }
        for (DxtKernel kernel : {DxtKernel::Sse2, DxtKernel::Sse41, DxtKernel::Avx2}) {
            if (!dxtKernelSupported(kernel))
                continue;
            std::vector<uint8_t> ref6(w * h * 3 / 4), fast6(ref6.size()), ref10(w * h * 5 / 4), fast10(ref10.size());
            ASSERT_EQ(encodeYcg6With(DxtKernel::Scalar, pic.data(), w, h, ref6.data()), 0);
            ASSERT_EQ(encodeYcg6With(kernel, pic.data(), w, h, fast6.data()), 0);
            ASSERT_EQ(encodeYg10With(DxtKernel::Scalar, pic.data(), w, h, ref10.data()), 0);
            ASSERT_EQ(encodeYg10With(kernel, pic.data(), w, h, fast10.data()), 0);
            EXPECT_EQ(fast6, ref6) << "kind " << kind;
            EXPECT_EQ(fast10, ref10) << "kind " << kind;
        }
    }
}

TEST(Ycocg, SingleChannelBlocksGolden)
{
    // Expected bytes from the independent model in texture_reference.py.
    struct Case {
        void (*encode)(uint8_t*, const uint16_t*);
        uint16_t values[16];
        uint8_t expect[8];
    };
    const Case cases[] = {
        {encodeLumaBlock, {0, 4080, 17, 33, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4079, 16, 15, 1}, {0xFF, 0x00, 0x41, 0x72, 0xB7, 0x9C, 0x80, 0x24}},
        {encodeLumaBlock, {1030, 1031, 1040, 1041, 1050, 1055, 1056, 1057, 1058, 1060, 1070, 1071, 1072, 1073, 1074, 1075}, {0x44, 0x40, 0xBF, 0xDD, 0x92, 0xE4, 0xB6, 0x49}},
        {encodeChromaBlock, {0, 510, 255, 256, 254, 300, 200, 100, 400, 1, 509, 128, 383, 2, 3, 4}, {0xFF, 0x00, 0x01, 0x59, 0xF6, 0x0B, 0xBC, 0x24}},
        {encodeChromaBlock, {255, 256, 257, 255, 256, 257, 255, 256, 257, 255, 256, 257, 255, 256, 257, 258}, {0x81, 0x7F, 0xA6, 0x4C, 0x99, 0x32, 0x65, 0x0A}},
        {encodeAlphaPlaneBlock, {10, 11, 12, 13, 14, 15, 16, 10, 11, 12, 13, 14, 15, 16, 10, 16}, {0x10, 0x0A, 0x71, 0x39, 0x21, 0x2E, 0x27, 0x04}},
        {encodeAlphaPlaneBlock, {0, 255, 0, 255, 128, 64, 192, 32, 224, 16, 240, 8, 248, 1, 254, 127}, {0xFF, 0x00, 0x41, 0x40, 0xEF, 0x0A, 0x82, 0xA0}},
    };
    for (const Case& c : cases) {
        uint8_t out[8];
        c.encode(out, c.values);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>(c.expect, c.expect + 8)) << c.values[0];
    }
}

// The alpha-plane block is the DXT5 alpha block of the same sixteen values.
TEST(Ycocg, AlphaPlaneBlockEqualsDxt5Alpha)
{
    uint32_t s = 99;
    for (int n = 0; n < 3000; ++n) {
        uint16_t values[16];
        uint8_t block[64] = {};
        const uint32_t range = 1u + (uint32_t(n) % 9 == 0 ? 255u : uint32_t(n) % 24);
        for (int k = 0; k < 16; ++k) {
            s = s * 1664525u + 1013904223u;
            values[k] = uint16_t(((s >> 8) % range + uint32_t(n) * 7) % 256);
            block[4 * k + 3] = uint8_t(values[k]);
        }
        uint8_t a[8], b[8];
        encodeAlphaPlaneBlock(a, values);
        encodeAlphaBlock(b, block);
        ASSERT_EQ(std::vector<uint8_t>(a, a + 8), std::vector<uint8_t>(b, b + 8)) << n;
    }
}

uint64_t fnv1a(const std::vector<uint8_t>& data)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : data)
        h = (h ^ b) * 0x100000001b3ull;
    return h;
}

// Gradients, an edge and noise; the hashes come from the independent model
// in texture_reference.py fed by the same generator.
TEST(Ycocg, PictureMatchesReferenceHashes)
{
    const uint32_t w = 64, h = 48;
    uint32_t s = 12345;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    std::vector<uint8_t> pic;
    for (int y = 0; y < int(h); ++y)
        for (int x = 0; x < int(w); ++x) {
            const uint8_t r = clamp(x * 4 + int(next() % 9) - 4);
            const uint8_t g = clamp(y * 5 + int(next() % 9) - 4);
            uint8_t b = clamp(255 - 2 * x - 2 * y + int(next() % 9) - 4);
            if (x > y + 10)
                b = uint8_t(255 - b);
            const uint8_t a = clamp(128 + (x - y) * 3 + int(next() % 5) - 2);
            pic.insert(pic.end(), {r, g, b, a});
        }
    ASSERT_EQ(fnv1a(pic), 0x7068fa04a5c81b0cull);
    std::vector<uint8_t> ycg6(w * h * 3 / 4), yg10(w * h * 5 / 4);
    ASSERT_EQ(encodeYcg6(pic.data(), w, h, ycg6.data()), 0);
    ASSERT_EQ(encodeYg10(pic.data(), w, h, yg10.data()), 0);
    EXPECT_EQ(fnv1a(ycg6), 0x193bf3d6b9de0057ull);
    EXPECT_EQ(fnv1a(yg10), 0xa150a56fb21c4333ull);
}

}  // namespace
}  // namespace nox
