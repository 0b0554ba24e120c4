#include "reader/texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "codec/dxt.h"
#include "codec/ycocg.h"

namespace nox {
namespace {

std::vector<uint8_t> decodeOne(void (*decode)(const uint8_t*, uint8_t*), std::vector<uint8_t> block)
{
    std::vector<uint8_t> rgba(64);
    decode(block.data(), rgba.data());
    return rgba;
}

std::vector<uint8_t> pixel(const std::vector<uint8_t>& rgba, int i) { return {rgba.begin() + 4 * i, rgba.begin() + 4 * i + 4}; }

using Px = std::vector<uint8_t>;

TEST(TextureDecode, Dxt1Modes)
{
    // Red (0xF800) and blue (0x001F); pixels 0..3 use indices 0..3.
    auto four = decodeOne(decodeDxt1Block, {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0});
    EXPECT_EQ(pixel(four, 0), (Px{255, 0, 0, 255}));
    EXPECT_EQ(pixel(four, 1), (Px{0, 0, 255, 255}));
    EXPECT_EQ(pixel(four, 2), (Px{170, 0, 85, 255}));
    EXPECT_EQ(pixel(four, 3), (Px{85, 0, 170, 255}));
    EXPECT_EQ(pixel(four, 4), (Px{255, 0, 0, 255}));
    // Swapped endpoints: three colours and transparent black.
    auto three = decodeOne(decodeDxt1Block, {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0});
    EXPECT_EQ(pixel(three, 2), (Px{127, 0, 127, 255}));
    EXPECT_EQ(pixel(three, 3), (Px{0, 0, 0, 0}));
    // A DXT5 colour half is always four-colour.
    auto five = decodeOne(decodeDxt5Block, {9, 9, 0, 0, 0, 0, 0, 0, 0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0});
    EXPECT_EQ(pixel(five, 3), (Px{170, 0, 85, 9}));
}

TEST(TextureDecode, AlphaRamps)
{
    // Indices 0..7 for pixels 0..7: bits 000 001 010 011 100 101 110 111.
    const uint8_t idx[6] = {0x88, 0xC6, 0xFA, 0, 0, 0};
    uint8_t eight[8] = {200, 60}, six[8] = {60, 200}, out[16];
    std::copy(idx, idx + 6, eight + 2);
    std::copy(idx, idx + 6, six + 2);
    decodeSingleChannelBlock(eight, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{200, 60, 180, 160, 140, 120, 100, 80}));
    decodeSingleChannelBlock(six, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{60, 200, 88, 116, 144, 172, 0, 255}));
}

// Smooth gradients, a hard brightness edge (a bright disc) and some noise.
std::vector<uint8_t> naturalPicture(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    uint32_t s = 7;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int noise = int((s >> 24) % 7) - 3;
            const bool inside = (x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < h * h / 9;
            const double fx = double(x) / w, fy = double(y) / h;
            const int lift = inside ? 60 : 0;
            const int r = int(180 * fx + 30 * std::sin(fy * 6)) + lift, g = int(160 * fy + 30) + lift,
                      b = int(90 * (1 - fx)) + lift;
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            px[0] = uint8_t(std::clamp(r + noise, 0, 255));
            px[1] = uint8_t(std::clamp(g + noise, 0, 255));
            px[2] = uint8_t(std::clamp(b + noise, 0, 255));
            px[3] = uint8_t(std::clamp(int(255 * fx * fy) + noise, 0, 255));
        }
    return p;
}

// Encodes an odd-sized picture the way the frame compressor does (padded to
// 16 with transparent black) and decodes it back: quality per type, alpha
// kept or set opaque, and nothing written beside the picture's pixels.
TEST(TextureDecode, RoundTripThroughEveryType)
{
    // Even sides, so no 2x2 chroma group mixes picture and black padding.
    const uint32_t w = 100, h = 66, pw = 112, ph = 80;
    const auto picture = naturalPicture(w, h);
    std::vector<uint8_t> padded(pw * ph * 4, 0);
    for (uint32_t y = 0; y < h; ++y)
        std::copy_n(&picture[y * w * 4], w * 4, &padded[y * pw * 4]);

    struct Case {
        uint32_t type;
        size_t bytes;
        double minPsnr;
        bool alpha;
    };
    for (const Case c : {Case{0, pw * ph / 2, 38, false}, Case{1, pw * ph, 38, true}, Case{2, pw * ph * 3 / 4, 41, false},
                         Case{3, pw * ph * 5 / 4, 41, true}}) {
        std::vector<uint8_t> texture(c.bytes);
        if (c.type == 0)
            encodeDxt1Texture(padded.data(), pw, ph, texture.data());
        else if (c.type == 1)
            encodeDxt5Texture(padded.data(), pw, ph, texture.data());
        else if (c.type == 2)
            ASSERT_EQ(encodeYcg6(padded.data(), pw, ph, texture.data()), 0);
        else
            ASSERT_EQ(encodeYg10(padded.data(), pw, ph, texture.data()), 0);

        const size_t stride = w * 4 + 12;
        std::vector<uint8_t> out(stride * h, 0xEE);
        ASSERT_TRUE(textureToRgba(c.type, texture.data(), texture.size(), w, h, out.data(), stride));
        double sq = 0, sqAlpha = 0;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* a = &picture[(y * w + x) * 4];
                const uint8_t* b = &out[y * stride + x * 4];
                for (int ch = 0; ch < 3; ++ch)
                    sq += (a[ch] - b[ch]) * (a[ch] - b[ch]);
                if (c.alpha) {
                    sqAlpha += (a[3] - b[3]) * (a[3] - b[3]);
                } else {
                    ASSERT_EQ(b[3], 255);
                }
            }
            for (size_t o = w * 4; o < stride; ++o)
                ASSERT_EQ(out[y * stride + o], 0xEE) << "type " << c.type;
        }
        auto psnr = [](double sum, double n) { return 10 * std::log10(255.0 * 255.0 * n / sum); };
        EXPECT_GT(psnr(sq, w * h * 3), c.minPsnr) << "type " << c.type;
        // The blocks along the right and bottom edges also hold the padding's
        // alpha 0, which widens their ramps.
        if (c.alpha) {
            EXPECT_GT(psnr(sqAlpha, w * h), 44) << "type " << c.type;
        }

        EXPECT_FALSE(textureToRgba(c.type, texture.data(), texture.size() - 1, w, h, out.data(), stride));
    }
    std::vector<uint8_t> texture(pw * ph * 2), out(w * h * 4);
    for (uint32_t bad : {6u, 7u, 8u, 100u})
        EXPECT_FALSE(textureToRgba(bad, texture.data(), texture.size(), w, h, out.data(), w * 4));
}

}  // namespace
}  // namespace nox
