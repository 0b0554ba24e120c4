#include "codec/ycocg.h"

#include <cstddef>
#include <cstring>

#include "dxt_internal.h"

namespace nox {

namespace {

inline void minMax(const uint16_t* values, int& mn, int& mx)
{
    mn = mx = values[0];
#pragma GCC unroll 16
    for (int k = 1; k < 16; ++k) {
        const int v = values[k];
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
}

// Writes endpoints e0 >= e1 and, unless they are equal, the indices of the
// values on the ramp from scale*e1 to scale*e0.
inline void finishBlock(uint8_t* destination, const uint16_t* values, int e0, int e1, int d, int bias)
{
    destination[0] = uint8_t(e0);
    destination[1] = uint8_t(e1);
    if (e0 == e1) {
        std::memset(destination + 2, 0, 6);
        return;
    }
    detail::writeRampIndices(destination + 2, values, 1, d, bias);
}

// Walks the picture by 8x8 tiles: per tile the four luma blocks (and alpha
// blocks) go to their places in plane 1, and the Co and Cg blocks of the
// tile's 2x2 groups are appended to plane 2.
template <bool kAlpha>
int encodeYcocgPicture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    if (width % 8 != 0 || height % 8 != 0)
        return 1;
    const size_t stride = size_t(width) * 4;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const size_t blocksPerRow = width / 4;
    uint8_t* chroma = texture + (kAlpha ? size_t(width) * height : size_t(width) * height / 2);

    for (uint32_t ty = 0; ty < height / 8; ++ty) {
        for (uint32_t tx = 0; tx < width / 8; ++tx) {
            const uint8_t* tile = picture + size_t(ty) * 8 * stride + size_t(tx) * 32;
            // Per 4x4 block (upper left, upper right, lower left, lower
            // right) its sixteen values; and per 2x2 group the channel sums.
            uint16_t luma[4][16];
            uint16_t alpha[4][16];
            int sumR[16] = {}, sumG[16] = {}, sumB[16] = {};
#pragma GCC unroll 8
            for (int row = 0; row < 8; ++row) {
                const uint8_t* p = tile + size_t(row) * stride;
                const int blockRow = (row >> 2) * 2, inRow = (row & 3) * 4, group = (row >> 1) * 4;
#pragma GCC unroll 8
                for (int col = 0; col < 8; ++col, p += 4) {
                    const int r = p[0], g = p[1], b = p[2];
                    const int blk = blockRow + (col >> 2), k = inRow + (col & 3);
                    luma[blk][k] = uint16_t((r + 2 * g + b) * 4);
                    if constexpr (kAlpha)
                        alpha[blk][k] = p[3];
                    const int grp = group + (col >> 1);
                    sumR[grp] += r;
                    sumG[grp] += g;
                    sumB[grp] += b;
                }
            }
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1);
                const size_t by = size_t(ty) * 2 + size_t(blk >> 1);
                uint8_t* dst = texture + (by * blocksPerRow + bx) * kUnit;
                encodeLumaBlock(dst, luma[blk]);
                if constexpr (kAlpha)
                    encodeAlphaPlaneBlock(dst + 8, alpha[blk]);
            }
            // Means of R - B and of G - (R + B)/2 over each group, offset by
            // 255 to be non-negative; the divisions truncate toward zero.
            uint16_t co[16], cg[16];
            for (int grp = 0; grp < 16; ++grp) {
                co[grp] = uint16_t((sumR[grp] - sumB[grp]) / 4 + 255);
                cg[grp] = uint16_t((2 * sumG[grp] - sumR[grp] - sumB[grp]) / 8 + 255);
            }
            encodeChromaBlock(chroma, co);
            encodeChromaBlock(chroma + 8, cg);
            chroma += 16;
        }
    }
    return 0;
}

}  // namespace

void encodeLumaBlock(uint8_t* destination, const uint16_t values[16])
{
    int mn, mx;
    minMax(values, mn, mx);
    // Endpoints round outward to multiples of 16 so the ramp covers every value.
    const int e0 = ((mx + 15) & 0xFFF0) >> 4;
    const int e1 = (mn & 0xFFF0) >> 4;
    const int d = 16 * (e0 - e1);
    finishBlock(destination, values, e0, e1, d, d / 2 + 2 - 7 * 16 * e1);
}

void encodeChromaBlock(uint8_t* destination, const uint16_t values[16])
{
    int mn, mx;
    minMax(values, mn, mx);
    const int e0 = (mx + 1) >> 1;
    const int e1 = mn >> 1;
    finishBlock(destination, values, e0, e1, 2 * (e0 - e1), (e0 - e1) + 2 - 14 * e1);
}

void encodeAlphaPlaneBlock(uint8_t* destination, const uint16_t values[16])
{
    int mn, mx;
    minMax(values, mn, mx);
    const int d = mx - mn;
    finishBlock(destination, values, mx, mn, d, (d < 8 ? d - 1 : d / 2 + 2) - 7 * mn);
}

int encodeYcg6(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeYcocgPicture<false>(picture, width, height, texture);
}

int encodeYg10(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeYcocgPicture<true>(picture, width, height, texture);
}

}  // namespace nox
