// Decoding textures back to RGBA: the block decoders' modes and ramps, and
// pictures through every type.
#include <gtest/gtest.h>

#include <cmath>

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
    const std::pair<int, Bytes> fourColours[] = {
        {0, {255, 0, 0, 255}}, {1, {0, 0, 255, 255}}, {2, {170, 0, 85, 255}}, {3, {85, 0, 170, 255}}, {4, {255, 0, 0, 255}}};
    for (const auto& [i, want] : fourColours) EXPECT_EQ(pixel(decodeDxt1Block, four, i), want) << i;
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
// kept or set opaque, and nothing written beside the picture's pixels.
TEST(TextureDecode, RoundTripThroughEveryType)
{
    // Even sides, so no 2x2 chroma group mixes picture and black padding.
    const uint32_t w = 100, h = 66, pw = 112, ph = 80;
    const Bytes picture = testing::makePicture(testing::Content::Smooth, w, h, 1);
    Bytes padded(pw * ph * 4, 0);
    for (uint32_t y = 0; y < h; ++y) std::copy_n(&picture[y * w * 4], w * 4, &padded[y * pw * 4]);
    const double minPsnr[4] = {41, 41, 44, 44};
    for (uint32_t type = 0; type < 4; ++type) {
        const bool alpha = type % 2;
        const Bytes texture = testing::encodeTexture(type, padded, pw, ph);
        const size_t stride = w * 4 + 12;
        Bytes out(stride * h, 0xEE);
        ASSERT_TRUE(textureToRgba(type, texture.data(), texture.size(), w, h, out.data(), stride));
        double sq = 0, sqAlpha = 0;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* a = &picture[(y * w + x) * 4];
                const uint8_t* b = &out[y * stride + x * 4];
                for (int ch = 0; ch < 3; ++ch) sq += (a[ch] - b[ch]) * (a[ch] - b[ch]);
                const int da = (alpha ? a[3] : 255) - b[3];
                sqAlpha += da * da;
            }
            for (size_t o = w * 4; o < stride; ++o) ASSERT_EQ(out[y * stride + o], 0xEE) << "type " << type;
        }
        auto psnr = [](double sum, double n) { return 10 * std::log10(255.0 * 255.0 * n / sum); };
        EXPECT_GT(psnr(sq, w * h * 3), minPsnr[type]) << "type " << type;
        // Alpha close (the blocks along the right and bottom edges also hold the
        // padding's alpha 0, which widens their ramps) or every pixel opaque.
        EXPECT_GE(psnr(sqAlpha, w * h), alpha ? 56 : INFINITY) << "type " << type;
        EXPECT_FALSE(textureToRgba(type, texture.data(), texture.size() - 1, w, h, out.data(), stride));
    }
    Bytes texture(pw * ph * 2), out(w * h * 4);
    for (uint32_t bad : {6u, 7u, 8u, 100u})
        EXPECT_FALSE(textureToRgba(bad, texture.data(), texture.size(), w, h, out.data(), w * 4));
}

}  // namespace
}  // namespace nox
