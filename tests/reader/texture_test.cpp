// Decoding textures back to RGBA: the block decoders' modes and ramps,
// pictures through every type, and every instruction-set level against the
// scalar reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/textures.h"
#include "reader/texture.h"

namespace nox {
namespace {

using testing::Bytes;

// Pixel i of the decoded block as R, G, B, A.
Bytes pixel(void (*decode)(const uint8_t*, uint8_t*), const Bytes& block, int i)
{
    uint8_t rgba[64];
    decode(block.data(), rgba);
    return Bytes(rgba + 4 * i, rgba + 4 * i + 4);
}

TEST(TextureDecode, BlockModesAndRamps)
{
    // Red (0xF800) and blue (0x001F); pixels 0..3 use indices 0..3.
    const Bytes four = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0}, three = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    // clang-format off
    const std::pair<int, Bytes> fourColours[] = {{0, {255, 0, 0, 255}}, {1, {0, 0, 255, 255}}, {2, {170, 0, 85, 255}},
                                                 {3, {85, 0, 170, 255}}, {4, {255, 0, 0, 255}}};
    // clang-format on
    for (const auto& [i, want] : fourColours)
        EXPECT_EQ(pixel(decodeDxt1Block, four, i), want) << i;
    // Swapped endpoints: three colours and transparent black; a DXT5 colour
    // half is always four-colour.
    EXPECT_EQ(pixel(decodeDxt1Block, three, 2), (Bytes{127, 0, 127, 255}));
    EXPECT_EQ(pixel(decodeDxt1Block, three, 3), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(pixel(decodeDxt5Block, testing::cat({{9, 9, 0, 0, 0, 0, 0, 0}, three}), 3), (Bytes{170, 0, 85, 9}));

    // Indices 0..7 for pixels 0..7 (bits 000 001 ... 111): eight steps when
    // e0 > e1, else six and 0 and 255.
    const Bytes idx = {0x88, 0xC6, 0xFA, 0, 0, 0};
    uint8_t out[16];
    decodeSingleChannelBlock(testing::cat({{200, 60}, idx}).data(), out);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{200, 60, 180, 160, 140, 120, 100, 80}));
    decodeSingleChannelBlock(testing::cat({{60, 200}, idx}).data(), out);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{60, 200, 88, 116, 144, 172, 0, 255}));
}

// Encodes an odd-sized picture the way the frame compressor does (padded to
// 16 with transparent black) and decodes it back: quality per type, alpha
// kept or set opaque (the bytes beside the picture: EveryLevelMatchesScalar).
TEST(TextureDecode, RoundTripThroughEveryType)
{
    // Even sides, so no 2x2 chroma group mixes picture and black padding.
    const uint32_t w = 100, h = 66, pw = 112, ph = 80;
    const Bytes picture = testing::makePicture(testing::Content::Smooth, w, h, 1);
    Bytes padded(pw * ph * 4, 0);
    for (uint32_t y = 0; y < h; ++y)
        std::copy_n(&picture[y * w * 4], w * 4, &padded[y * pw * 4]);
    const double minPsnr[4] = {41, 41, 44, 44};
    for (uint32_t type = 0; type < 4; ++type) {
        const bool alpha = type % 2;
        const Bytes texture = testing::encodeTexture(type, padded, pw, ph);
        const size_t stride = w * 4 + 12;
        Bytes out(stride * h, 0xEE);
        ASSERT_TRUE(textureToRgba(type, texture.data(), texture.size(), w, h, out.data(), stride));
        double sq[2] = {};  // colour, alpha (against 255 where the type drops it)
        for (uint32_t i = 0; i < w * h * 4; ++i) {
            const int d = (i % 4 == 3 && !alpha ? 255 : picture[i]) - out[i / (w * 4) * stride + i % (w * 4)];
            sq[i % 4 == 3] += d * d;
        }
        auto psnr = [](double sum, double n) { return 10 * std::log10(255.0 * 255.0 * n / sum); };
        EXPECT_GT(psnr(sq[0], w * h * 3), minPsnr[type]) << "type " << type;
        // Alpha close (the blocks along the right and bottom edges also hold the
        // padding's alpha 0, which widens their ramps) or every pixel opaque.
        EXPECT_GE(psnr(sq[1], w * h), alpha ? 56 : INFINITY) << "type " << type;
        EXPECT_FALSE(textureToRgba(type, texture.data(), texture.size() - 1, w, h, out.data(), stride));
    }
    Bytes texture(pw * ph * 2), out(w * h * 4);
    for (uint32_t bad : {6u, 7u, 8u, 100u})
        EXPECT_FALSE(textureToRgba(bad, texture.data(), texture.size(), w, h, out.data(), w * 4));
    // Bands must start on a multiple of 8 and end on one or at the height.
    for (const auto& [first, end] : {std::pair{4u, 16u}, {0u, 12u}, {0u, h + 1}})
        EXPECT_FALSE(textureToRgbaRows(0, texture.data(), texture.size(), w, h, first, end, out.data(), w * 4)) << end;
}

// Offset of the first byte where a and b differ, or -1.
long firstDifference(const Bytes& a, const Bytes& b)
{
    return a == b ? -1 : long(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

enum class Fill { Random, Counted, Encoded };

// A texture of type 0..5 for a width x height picture: random bytes, random
// bytes whose 8-byte units start with a count (every endpoint pair of
// single-channel blocks, every c0 of colour blocks), or `picture` (padded)
// through the encoders.
Bytes makeTexture(uint32_t type, Fill fill, uint32_t width, uint32_t height, const Bytes& picture)
{
    if (fill == Fill::Encoded)
        return testing::encodeTexture(type % 4, picture, (width + 15) & ~15u, (height + 15) & ~15u);
    Bytes t(textureSize(type, width, height));
    std::mt19937 rng(width * 8 + type);
    for (size_t i = 0; i < t.size(); ++i)
        t[i] = uint8_t(rng() >> (i % 4 * 8));
    if (fill == Fill::Counted)
        for (size_t u = 0; u < t.size() / 8; ++u)
            t[u * 8] = uint8_t(u), t[u * 8 + 1] = uint8_t(u >> 8);
    return t;
}

// Every level writes what the scalar level writes, and only the band's
// pixels: the destination starts filled with a sentinel, rows are padded and
// a strip of rows follows the picture. The sides leave various remainders
// by 4 and 8, so that blocks and tiles are cut at both edges.
TEST(TextureDecode, EveryLevelMatchesScalar)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {17, 9}, {23, 15}, {100, 66}, {1920, 1080}};
    for (const auto& [w, h] : sizes) {
        const std::pair<uint32_t, uint32_t> bands[] = {{0, h}, {0, 8}, {8, 16}, {std::max(8u, h / 16 * 8), h}};
        const size_t stride = w * 4 + 20;
        const Bytes picture = testing::makePicture(testing::Content::Smooth, (w + 15) & ~15u, (h + 15) & ~15u, w);
        for (uint32_t type = 0; type < 6; ++type) {
            for (Fill fill : {Fill::Random, Fill::Counted, Fill::Encoded}) {
                const Bytes t = makeTexture(type, fill, w, h, picture);
                for (const auto& [first, end] : bands) {
                    if (end > h || first >= end)
                        continue;
                    const std::string where = "type " + std::to_string(type) + " fill " + std::to_string(int(fill)) +
                                              " " + std::to_string(w) + "x" + std::to_string(h) + " rows " +
                                              std::to_string(first) + ".." + std::to_string(end);
                    Bytes want(stride * (h + 16), 0xA5);
                    ASSERT_TRUE(textureToRgbaRowsWith(SimdLevel::Scalar, type, t.data(), t.size(), w, h, first, end,
                                                      want.data(), stride));
                    size_t outside = 0;
                    for (size_t y = 0; y < h + 16; ++y) {
                        const auto row = want.begin() + y * stride;
                        outside += std::count_if(row + (y < first || y >= end ? 0 : w * 4), row + stride,
                                                 [](uint8_t b) { return b != 0xA5; });
                    }
                    EXPECT_EQ(outside, 0u) << where;
                    Bytes got(want.size());
                    for (SimdLevel level : testing::fastLevels()) {
                        std::fill(got.begin(), got.end(), 0xA5);
                        ASSERT_TRUE(textureToRgbaRowsWith(level, type, t.data(), t.size(), w, h, first, end, got.data(),
                                                          stride));
                        ASSERT_EQ(firstDifference(got, want), -1) << simdLevelName(level) << " " << where;
                    }
                }
            }
        }
    }
}

// The YCoCg colour of all 256^3 (Y, Co, Cg), in 32 YCG6 textures of
// 1024x1024. Chroma blocks are constant (e0 = e1 = v, indices 0), one
// (Co, Cg) per tile; each luma block holds eight Y values b..b+7 (e0 = b + 7,
// e1 = b, pixel k at index k % 8), so that every 8 tiles run through all Y.
TEST(TextureDecode, EveryYcocgTripleMatchesScalar)
{
    const uint32_t side = 1024, tiles = side / 8 * side / 8;
    Bytes t(textureSize(2, side, side), 0), want(size_t(side) * side * 4), got(want.size());
    uint64_t indices = 0;
    for (int k = 0; k < 16; ++k)
        indices |= uint64_t(k % 8) << (3 * k);
    for (uint32_t by = 0; by < side / 4; ++by)
        for (uint32_t bx = 0; bx < side / 4; ++bx) {
            uint8_t* block = &t[(by * side / 4 + bx) * 8];
            const uint32_t tile = by / 2 * side / 8 + bx / 2, b = (tile % 8 * 4 + by % 2 * 2 + bx % 2) * 8;
            block[0] = uint8_t(b + 7), block[1] = uint8_t(b);
            for (int i = 0; i < 6; ++i)
                block[2 + i] = uint8_t(indices >> (8 * i));
        }
    uint8_t* chroma = &t[side * side / 2];
    for (uint32_t round = 0; round < 32; ++round) {
        for (uint32_t tile = 0; tile < tiles; ++tile) {
            chroma[tile * 16] = chroma[tile * 16 + 1] = uint8_t(round * 8 + tile / 2048);
            chroma[tile * 16 + 8] = chroma[tile * 16 + 9] = uint8_t(tile / 8);
        }
        ASSERT_TRUE(textureToRgbaRowsWith(SimdLevel::Scalar, 2, t.data(), t.size(), side, side, 0, side, want.data(),
                                          side * 4));
        for (SimdLevel level : testing::fastLevels()) {
            ASSERT_TRUE(textureToRgbaRowsWith(level, 2, t.data(), t.size(), side, side, 0, side, got.data(), side * 4));
            ASSERT_EQ(firstDifference(got, want), -1) << simdLevelName(level) << " Co from " << round * 8;
        }
    }
}

}  // namespace
}  // namespace nox
