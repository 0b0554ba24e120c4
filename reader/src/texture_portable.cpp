// The Sse2 level of the RGBA rebuild, plain C++ (so it serves any target):
// each block's palette or ramp is built once and its pixels are stored as
// 32-bit words (R in the low byte).
#include <algorithm>

#include "codec/frame_format.h"
#include "core/bytes.h"
#include "texture_internal.h"

namespace nox::detail {

namespace {

// R | G << 8 | B << 16 of a 5:6:5 colour.
inline uint32_t expand565(uint32_t c)
{
    const uint32_t r = c >> 11, g = (c >> 5) & 63, b = c & 31;
    return ((r << 3) | (r >> 2)) | (((g << 2) | (g >> 4)) << 8) | (((b << 3) | (b >> 2)) << 16);
}

// The four colours of a colour block with alpha `alpha` (three colours and
// transparent black when allowed and c0 <= c1).
inline void colourPalette(const uint8_t* block, bool allowThreeColour, uint32_t alpha, uint32_t pal[4])
{
    const uint32_t c0 = loadLe16(block), c1 = loadLe16(block + 2);
    const uint32_t p0 = expand565(c0), p1 = expand565(c1);
    const bool four = c0 > c1 || !allowThreeColour;
    // Channel by channel (at bit s): thirds, or the half.
    const auto third = [&](uint32_t s) { return ((p0 >> s & 255) + 2 * (p1 >> s & 255)) / 3 << s; };
    const auto twoThirds = [&](uint32_t s) { return (2 * (p0 >> s & 255) + (p1 >> s & 255)) / 3 << s; };
    const auto half = [&](uint32_t s) { return ((p0 >> s & 255) + (p1 >> s & 255)) / 2 << s; };
    const uint32_t p2 = four ? twoThirds(0) | twoThirds(8) | twoThirds(16) : half(0) | half(8) | half(16);
    const uint32_t p3 = third(0) | third(8) | third(16);
    const uint32_t a = alpha << 24;
    pal[0] = p0 | a;
    pal[1] = p1 | a;
    pal[2] = p2 | a;
    pal[3] = four ? p3 | a : 0;
}

inline void decodeChannel(const uint8_t* block, uint8_t (&values)[16])
{
    uint32_t ramp[8];
    channelRamp<uint32_t>(block[0], block[1], ramp);
    uint64_t bits = loadLe48(block + 2);
#pragma GCC unroll 16
    for (uint8_t& v : values) {
        v = uint8_t(ramp[bits & 7]);
        bits >>= 3;
    }
}

void dxt1Blocks(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride)
{
    for (uint32_t b = 0; b < count; ++b, blocks += 8, dst += 16) {
        uint32_t pal[4];
        colourPalette(blocks, true, 255, pal);
        const uint32_t mask = loadLe32(blocks + 4);
        for (int r = 0; r < 4; ++r) {
            uint8_t* row = dst + size_t(r) * stride;
            const uint32_t m = mask >> (8 * r);
            for (int i = 0; i < 4; ++i)
                storeLe32(row + 4 * i, pal[(m >> (2 * i)) & 3]);
        }
    }
}

void dxt5Blocks(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride)
{
    for (uint32_t b = 0; b < count; ++b, blocks += 16, dst += 16) {
        uint32_t pal[4], ramp[8];
        colourPalette(blocks + 8, false, 0, pal);
        channelRamp<uint32_t>(blocks[0], blocks[1], ramp);
        const uint32_t mask = loadLe32(blocks + 12);
        const uint64_t bits = loadLe48(blocks + 2);
        for (int r = 0; r < 4; ++r) {
            uint8_t* row = dst + size_t(r) * stride;
            for (int i = 0; i < 4; ++i) {
                const int k = 4 * r + i;
                storeLe32(row + 4 * i, pal[(mask >> (2 * k)) & 3] | ramp[(bits >> (3 * k)) & 7] << 24);
            }
        }
    }
}

// The reference converts in float; in integers R and B are exact clamped
// sums, and so is G except that the float sum lands just below the integer
// when Y < 128, Cg < 64 and Y + Cg > 128 (found by trying every pair; the
// tests try all (Y, Co, Cg) again). Here all three are table lookups:
// clamp[256 + v] is v clamped to 0..255 for v in -256..511, green[Cg][Y].
struct ColourTables {
    uint8_t clamp[768];
    uint8_t green[256][256];
    ColourTables()
    {
        int v = -256;
        for (uint8_t& c : clamp)
            c = uint8_t(std::clamp(v++, 0, 255));
        int cg = 0;
        for (auto& row : green) {
            int y = 0;
            for (uint8_t& g : row) {
                g = uint8_t(std::clamp(y + cg - 127, 0, 255) - int(y < 128 && cg < 64 && y + cg > 128));
                ++y;
            }
            ++cg;
        }
    }
};

const ColourTables& colourTables()
{
    static const ColourTables tables;
    return tables;
}

template <bool kAlpha>
void ycocgTiles(const uint8_t* units, size_t unitRowBytes, const uint8_t* chroma, uint32_t count, uint8_t* dst,
                size_t stride)
{
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const ColourTables& tables = colourTables();
    for (uint32_t t = 0; t < count; ++t, units += 2 * kUnit, chroma += 16, dst += 32) {
        // Per 4x4 block (upper left, upper right, lower left, lower right).
        uint8_t luma[4][16], alpha[4][16], co[16], cg[16];
        for (int blk = 0; blk < 4; ++blk) {
            const uint8_t* unit = units + size_t(blk >> 1) * unitRowBytes + size_t(blk & 1) * kUnit;
            decodeChannel(unit, luma[blk]);
            if (kAlpha)
                decodeChannel(unit + 8, alpha[blk]);
        }
        decodeChannel(chroma, co);
        decodeChannel(chroma + 8, cg);
        // Per 2x2 group the red and blue rows of the clamp table and the
        // green row of its Cg.
        const uint8_t *red[16], *blue[16], *green[16];
        int g = 0;
        for (const uint8_t u : co) {
            red[g] = tables.clamp + 256 + u - cg[g];
            blue[g] = tables.clamp + 511 - u - cg[g];
            green[g] = tables.green[cg[g]];
            ++g;
        }
        for (int r = 0; r < 8; ++r) {
            uint8_t* row = dst + size_t(r) * stride;
#pragma GCC unroll 8
            for (int c = 0; c < 8; ++c) {
                const int g = (r / 2) * 4 + c / 2, blk = (r / 4) * 2 + c / 4, k = (r % 4) * 4 + c % 4;
                const uint32_t y = luma[blk][k], a = kAlpha ? alpha[blk][k] : 255;
                storeLe32(row + 4 * c,
                          uint32_t(red[g][y]) | uint32_t(green[g][y]) << 8 | uint32_t(blue[g][y]) << 16 | a << 24);
            }
        }
    }
}

}  // namespace

const TextureKernels kPortableTextureKernels = {dxt1Blocks, dxt5Blocks, ycocgTiles<false>, ycocgTiles<true>};

}  // namespace nox::detail
