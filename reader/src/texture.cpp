#include "reader/texture.h"

#include <algorithm>
#include <cstring>

#include "codec/frame_format.h"
#include "core/bytes.h"
#include "texture_internal.h"

namespace nox {

namespace {

inline void expand565(uint32_t c, int out[3])
{
    const int r = int(c >> 11), g = int((c >> 5) & 63), b = int(c & 31);
    out[0] = (r << 3) | (r >> 2);
    out[1] = (g << 2) | (g >> 4);
    out[2] = (b << 3) | (b >> 2);
}

// Colour half of a block; alpha bytes are left as they are unless the
// three-colour transparent entry is used.
void decodeColor(const uint8_t* block8, uint8_t rgba[64], bool allowThreeColor)
{
    const uint32_t c0 = loadLe16(block8), c1 = loadLe16(block8 + 2);
    int colors[4][4];
    expand565(c0, colors[0]);
    expand565(c1, colors[1]);
    colors[0][3] = colors[1][3] = 255;
    if (c0 > c1 || !allowThreeColor) {
        for (int ch = 0; ch < 3; ++ch) {
            colors[2][ch] = (2 * colors[0][ch] + colors[1][ch]) / 3;
            colors[3][ch] = (colors[0][ch] + 2 * colors[1][ch]) / 3;
        }
        colors[2][3] = colors[3][3] = 255;
    } else {
        for (int ch = 0; ch < 3; ++ch) {
            colors[2][ch] = (colors[0][ch] + colors[1][ch]) / 2;
            colors[3][ch] = 0;
        }
        colors[2][3] = 255;
        colors[3][3] = 0;
    }
    const uint32_t mask = loadLe32(block8 + 4);
    for (int i = 0; i < 16; ++i) {
        const int* c = colors[(mask >> (2 * i)) & 3];
        rgba[4 * i] = uint8_t(c[0]);
        rgba[4 * i + 1] = uint8_t(c[1]);
        rgba[4 * i + 2] = uint8_t(c[2]);
        if (allowThreeColor)
            rgba[4 * i + 3] = uint8_t(c[3]);
    }
}

// Copies the part of a 4x4 (or larger) decoded patch that lies inside the
// picture.
void storePatch(const uint8_t* patch, uint32_t patchWidth, uint32_t patchHeight, uint32_t x, uint32_t y, uint32_t width,
                uint32_t height, uint8_t* rgba, size_t stride)
{
    const uint32_t w = x + patchWidth <= width ? patchWidth : width - x;
    const uint32_t h = y + patchHeight <= height ? patchHeight : height - y;
    for (uint32_t j = 0; j < h; ++j)
        std::memcpy(rgba + size_t(y + j) * stride + size_t(x) * 4, patch + size_t(j) * patchWidth * 4, size_t(w) * 4);
}

void dxtToRgba(bool alpha, const uint8_t* texture, uint32_t pw, uint32_t width, uint32_t height, uint32_t firstRow,
               uint32_t endRow, uint8_t* rgba, size_t stride)
{
    const size_t blockBytes = alpha ? 16 : 8;
    const size_t blocksPerRow = pw / 4;
    uint8_t patch[64];
    for (uint32_t y = firstRow; y < endRow; y += 4) {
        for (uint32_t x = 0; x < width; x += 4) {
            const uint8_t* block = texture + (size_t(y / 4) * blocksPerRow + x / 4) * blockBytes;
            if (alpha)
                decodeDxt5Block(block, patch);
            else
                decodeDxt1Block(block, patch);
            storePatch(patch, 4, 4, x, y, width, height, rgba, stride);
        }
    }
}

void ycocgToRgba(bool alpha, const uint8_t* texture, uint32_t pw, uint32_t ph, uint32_t width, uint32_t height,
                 uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t stride)
{
    const size_t unit = alpha ? 16 : 8;
    const size_t blocksPerRow = pw / 4;
    const uint8_t* chroma = texture + (alpha ? size_t(pw) * ph : size_t(pw) * ph / 2);
    uint8_t patch[8 * 8 * 4];
    for (uint32_t ty = firstRow / 8; ty * 8 < endRow; ++ty) {
        for (uint32_t tx = 0; tx * 8 < width; ++tx) {
            uint8_t luma[4][16], alphas[4][16], co[16], cg[16];
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1), by = size_t(ty) * 2 + size_t(blk >> 1);
                const uint8_t* unitPtr = texture + (by * blocksPerRow + bx) * unit;
                decodeSingleChannelBlock(unitPtr, luma[blk]);
                if (alpha)
                    decodeSingleChannelBlock(unitPtr + 8, alphas[blk]);
                else
                    std::memset(alphas[blk], 255, 16);
            }
            const uint8_t* tileChroma = chroma + (size_t(ty) * (pw / 8) + tx) * 16;
            decodeSingleChannelBlock(tileChroma, co);
            decodeSingleChannelBlock(tileChroma + 8, cg);
            for (int row = 0; row < 8; ++row) {
                for (int col = 0; col < 8; ++col) {
                    const int blk = (row >> 2) * 2 + (col >> 2), k = (row & 3) * 4 + (col & 3);
                    const int grp = (row >> 1) * 4 + (col >> 1);
                    uint8_t* px = patch + (row * 8 + col) * 4;
                    ycocgToRgb(luma[blk][k], co[grp], cg[grp], px);
                    px[3] = alphas[blk][k];
                }
            }
            storePatch(patch, 8, 8, tx * 8, ty * 8, width, height, rgba, stride);
        }
    }
}

// The level's fast kernels, or null for the scalar reference.
const detail::TextureKernels* fastKernels(SimdLevel level)
{
    switch (runnableSimdLevel(level)) {
    case SimdLevel::Scalar:
        return nullptr;
    case SimdLevel::Sse2:
        return &detail::kPortableTextureKernels;
#if defined(__x86_64__)
    case SimdLevel::Sse41:
        return &detail::kSse41TextureKernels;
    case SimdLevel::Avx2:
    case SimdLevel::Avx512:
        return &detail::kAvx2TextureKernels;
#endif
    default:
        return nullptr;
    }
}

// Rows [firstRow, endRow) through a level's kernels, in strips of kSide rows
// (4 for blocks, 8 for tiles): whole units straight into the picture, those
// cut by its right edge or by endRow through a patch.
// decode(strip, first unit, count, destination, destination stride).
template <uint32_t kSide, class Decode>
void fastRows(uint32_t width, uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t stride, Decode decode)
{
    const uint32_t whole = width / kSide, across = (width + kSide - 1) / kSide;
    for (uint32_t strip = firstRow / kSide; strip < (endRow + kSide - 1) / kSide; ++strip) {
        uint8_t* out = rgba + size_t(strip) * kSide * stride;
        const uint32_t rows = std::min(endRow - strip * kSide, kSide);
        uint32_t u = 0;
        if (rows == kSide) {
            decode(strip, 0, whole, out, stride);
            u = whole;
        }
        for (; u < across; ++u) {
            uint8_t patch[kSide * kSide * 4];
            decode(strip, u, 1, patch, kSide * 4);
            const uint32_t cols = std::min(width - u * kSide, kSide);
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(out + size_t(r) * stride + size_t(u) * kSide * 4, patch + r * kSide * 4, cols * 4);
        }
    }
}

void fastDxtToRgba(const detail::TextureKernels& kernels, bool alpha, const uint8_t* texture, uint32_t pw,
                   uint32_t width, uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t stride)
{
    const auto kernel = alpha ? kernels.dxt5 : kernels.dxt1;
    const size_t blockBytes = alpha ? 16 : 8, rowBytes = size_t(pw / 4) * blockBytes;
    fastRows<4>(width, firstRow, endRow, rgba, stride,
                [&](uint32_t strip, uint32_t first, uint32_t count, uint8_t* dst, size_t dstStride) {
                    kernel(texture + strip * rowBytes + first * blockBytes, count, dst, dstStride);
                });
}

void fastYcocgToRgba(const detail::TextureKernels& kernels, bool alpha, const uint8_t* texture, uint32_t pw,
                     uint32_t ph, uint32_t width, uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t stride)
{
    const auto kernel = alpha ? kernels.yg10 : kernels.ycg6;
    const size_t unit = alpha ? 16 : 8, unitRowBytes = size_t(pw / 4) * unit, chromaRowBytes = size_t(pw / 8) * 16;
    const uint8_t* chroma = texture + (alpha ? size_t(pw) * ph : size_t(pw) * ph / 2);
    fastRows<8>(width, firstRow, endRow, rgba, stride,
                [&](uint32_t strip, uint32_t first, uint32_t count, uint8_t* dst, size_t dstStride) {
                    kernel(texture + 2 * strip * unitRowBytes + 2 * first * unit, unitRowBytes,
                           chroma + strip * chromaRowBytes + first * 16, count, dst, dstStride);
                });
}

}  // namespace

void decodeSingleChannelBlock(const uint8_t* block8, uint8_t values[16])
{
    const int e0 = block8[0], e1 = block8[1];
    int ramp[8];
    channelRamp(e0, e1, ramp);
    const uint64_t bits = loadLe48(block8 + 2);
    for (int k = 0; k < 16; ++k)
        values[k] = uint8_t(ramp[(bits >> (3 * k)) & 7]);
}

void decodeDxt1Block(const uint8_t* block8, uint8_t rgba[64]) { decodeColor(block8, rgba, true); }

void decodeDxt5Block(const uint8_t* block16, uint8_t rgba[64])
{
    uint8_t alpha[16];
    decodeSingleChannelBlock(block16, alpha);
    decodeColor(block16 + 8, rgba, false);
    for (int i = 0; i < 16; ++i)
        rgba[4 * i + 3] = alpha[i];
}

bool textureToRgba(uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width, uint32_t height,
                   uint8_t* rgba, size_t rgbaStride)
{
    return textureToRgbaRowsWith(activeSimdLevel(), type, texture, textureBytes, width, height, 0, height, rgba,
                                 rgbaStride);
}

bool textureToRgbaRows(uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width, uint32_t height,
                       uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t rgbaStride)
{
    return textureToRgbaRowsWith(activeSimdLevel(), type, texture, textureBytes, width, height, firstRow, endRow, rgba,
                                 rgbaStride);
}

bool textureToRgbaRowsWith(SimdLevel level, uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width,
                           uint32_t height, uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t rgbaStride)
{
    const uint64_t pw = (uint64_t(width) + 15) & ~uint64_t(15);
    const uint64_t ph = (uint64_t(height) + 15) & ~uint64_t(15);
    const uint64_t need = planeBytes(type, pw, ph);
    if (formatFacts(type).planeCount == 0)
        return false;
    if (textureBytes < need || pw > UINT32_MAX || ph > UINT32_MAX || firstRow % 8 != 0 || endRow > height ||
        (endRow % 8 != 0 && endRow != height))
        return false;
    const bool ycocg = typeIsYcocg(type), alpha = typeHasAlpha(type);
    if (const detail::TextureKernels* kernels = fastKernels(level)) {
        if (ycocg)
            fastYcocgToRgba(*kernels, alpha, texture, uint32_t(pw), uint32_t(ph), width, firstRow, endRow, rgba,
                            rgbaStride);
        else
            fastDxtToRgba(*kernels, alpha, texture, uint32_t(pw), width, firstRow, endRow, rgba, rgbaStride);
    } else if (ycocg) {
        ycocgToRgba(alpha, texture, uint32_t(pw), uint32_t(ph), width, height, firstRow, endRow, rgba, rgbaStride);
    } else {
        dxtToRgba(alpha, texture, uint32_t(pw), width, height, firstRow, endRow, rgba, rgbaStride);
    }
    return true;
}

}  // namespace nox
