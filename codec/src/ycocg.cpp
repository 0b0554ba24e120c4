#include "codec/ycocg.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "codec/frame_format.h"
#include "core/bytes.h"
#include "dxt_internal.h"
#include "ycocg_simd.h"

namespace nox {

namespace {

// Writes endpoints e0 >= e1 and, unless they are equal, the indices of the
// values on the ramp from scale*e1 to scale*e0.
template <class K>
inline void finishBlock(uint8_t* destination, const uint16_t* values, int e0, int e1, int d, int bias)
{
    destination[0] = uint8_t(e0);
    destination[1] = uint8_t(e1);
    if (e0 == e1) {
        std::memset(destination + 2, 0, 6);
        return;
    }
    K::indices(destination + 2, values, d, bias);
}

template <class K>
void lumaBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    // Endpoints round outward to multiples of 16 so the ramp covers every value.
    const int e0 = ((mx + 15) & 0xFFF0) >> 4;
    const int e1 = (mn & 0xFFF0) >> 4;
    const int d = 16 * (e0 - e1);
    finishBlock<K>(destination, values, e0, e1, d, d / 2 + 2 - 7 * 16 * e1);
}

template <class K>
void chromaBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    const int e0 = (mx + 1) >> 1;
    const int e1 = mn >> 1;
    finishBlock<K>(destination, values, e0, e1, 2 * (e0 - e1), (e0 - e1) + 2 - 14 * e1);
}

template <class K>
void alphaPlaneBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    const int d = mx - mn;
    finishBlock<K>(destination, values, mx, mn, d, (d < 8 ? d - 1 : d / 2 + 2) - 7 * mn);
}

// Walks the picture by 8x8 tiles: per tile the four luma blocks (and alpha
// blocks) go to their places in plane 1, and the Co and Cg blocks of the
// tile's 2x2 groups are appended to plane 2.
template <bool kAlpha, class K>
int encodeYcocgPicture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture, uint8_t* chroma)
{
    if (width % 8 != 0 || height % 8 != 0)
        return 1;
    const size_t stride = size_t(width) * 4;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const size_t blocksPerRow = width / 4;

    for (uint32_t ty = 0; ty < height / 8; ++ty) {
        for (uint32_t tx = 0; tx < width / 8; ++tx) {
            const uint8_t* tile = picture + size_t(ty) * 8 * stride + size_t(tx) * 32;
            detail::TileSamples samples;
            K::gatherTile(tile, stride, kAlpha, samples);
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1);
                const size_t by = size_t(ty) * 2 + size_t(blk >> 1);
                uint8_t* dst = texture + (by * blocksPerRow + bx) * kUnit;
                lumaBlock<K>(dst, samples.luma[blk]);
                if constexpr (kAlpha)
                    alphaPlaneBlock<K>(dst + 8, samples.alpha[blk]);
            }
            chromaBlock<K>(chroma, samples.co);
            chromaBlock<K>(chroma + 8, samples.cg);
            chroma += 16;
        }
    }
    return 0;
}

// The single-block entry points keep the level every x86-64 processor has.
#if defined(__SSE2__)
using DefaultRamp = detail::Sse2RampKernels;
#else
using DefaultRamp = detail::ScalarRampKernels;
#endif

template <bool kAlpha>
int encodeWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture,
               uint8_t* chroma)
{
    const SimdLevel runs = runnableSimdLevel(level);
#if defined(__x86_64__)
    // The wide levels take whole units of tiles; a picture narrower than one
    // unit goes to the next level down, at the least to the tile loop below.
    if (width % 8 == 0 && height % 8 == 0) {
        if (runs >= SimdLevel::Avx2 && detail::kAvx2YcocgUnits(picture, width, height, kAlpha, texture, chroma))
            return 0;
        if (runs >= SimdLevel::Sse41 && detail::kSse41YcocgUnits(picture, width, height, kAlpha, texture, chroma))
            return 0;
    }
#endif
#if defined(__SSE2__)
    if (runs >= SimdLevel::Sse2)
        return encodeYcocgPicture<kAlpha, detail::Sse2RampKernels>(picture, width, height, texture, chroma);
#endif
    (void)runs;
    return encodeYcocgPicture<kAlpha, detail::ScalarRampKernels>(picture, width, height, texture, chroma);
}

}  // namespace

namespace detail {

void ScalarRampKernels::gatherTile(const uint8_t* tile, size_t stride, bool withAlpha, TileSamples& s)
{
    int sumR[16] = {}, sumG[16] = {}, sumB[16] = {};
#pragma GCC unroll 8
    for (int row = 0; row < 8; ++row) {
        const uint8_t* p = tile + size_t(row) * stride;
        const int blockRow = (row >> 2) * 2, inRow = (row & 3) * 4, group = (row >> 1) * 4;
#pragma GCC unroll 8
        for (int col = 0; col < 8; ++col, p += 4) {
            const int r = p[0], g = p[1], b = p[2];
            const int blk = blockRow + (col >> 2), k = inRow + (col & 3);
            s.luma[blk][k] = uint16_t((r + 2 * g + b) * 4);
            const int grp = group + (col >> 1);
            sumR[grp] += r;
            sumG[grp] += g;
            sumB[grp] += b;
        }
    }
    // Means of R - B and of G - (R + B)/2 over each group, offset by 255 to
    // be non-negative; the divisions truncate toward zero.
    for (int grp = 0; grp < 16; ++grp) {
        s.co[grp] = uint16_t((sumR[grp] - sumB[grp]) / 4 + 255);
        s.cg[grp] = uint16_t((2 * sumG[grp] - sumR[grp] - sumB[grp]) / 8 + 255);
    }
    if (withAlpha)
        gatherAlpha(tile, stride, s);
}

void ScalarRampKernels::gatherAlpha(const uint8_t* tile, size_t stride, TileSamples& s)
{
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            s.alpha[(row >> 2) * 2 + (col >> 2)][(row & 3) * 4 + (col & 3)] = tile[size_t(row) * stride + 4 * col + 3];
}

void ScalarRampKernels::minMax(const uint16_t* values, int& mn, int& mx)
{
    mn = mx = values[0];
#pragma GCC unroll 16
    for (int k = 1; k < 16; ++k) {
        const int v = values[k];
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
}

}  // namespace detail

void encodeLumaBlock(uint8_t* destination, const uint16_t values[16]) { lumaBlock<DefaultRamp>(destination, values); }

void encodeChromaBlock(uint8_t* destination, const uint16_t values[16])
{
    chromaBlock<DefaultRamp>(destination, values);
}

void encodeAlphaPlaneBlock(uint8_t* destination, const uint16_t values[16])
{
    alphaPlaneBlock<DefaultRamp>(destination, values);
}

namespace {

// The chroma plane follows the luma (and alpha) blocks of the whole picture.
uint8_t* chromaPlane(bool alpha, uint32_t width, uint32_t height, uint8_t* texture)
{
    return texture + (alpha ? size_t(width) * height : size_t(width) * height / 2);
}

}  // namespace

int encodeYcg6(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<false>(activeSimdLevel(), picture, width, height, texture,
                             chromaPlane(false, width, height, texture));
}

int encodeYg10(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<true>(activeSimdLevel(), picture, width, height, texture,
                            chromaPlane(true, width, height, texture));
}

int encodeYcg6With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<false>(level, picture, width, height, texture, chromaPlane(false, width, height, texture));
}

int encodeYg10With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<true>(level, picture, width, height, texture, chromaPlane(true, width, height, texture));
}

namespace {

// The last unit of a band to which the fast encoder gave each 8 bytes, by
// a hash of them (a clash forgets the older unit): where the fast encoder
// repeated a unit from anywhere before, the packer copied it from there.
class FastUnits {
public:
    const uint8_t* find(const uint8_t* fast) const
    {
        const Entry& e = entries_[slot(loadLe64(fast))];
        return e.unit && e.fast == loadLe64(fast) ? e.unit : nullptr;
    }
    void add(const uint8_t* fast, const uint8_t* unit) { entries_[slot(loadLe64(fast))] = {loadLe64(fast), unit}; }

private:
    struct Entry {
        uint64_t fast = 0;
        const uint8_t* unit = nullptr;
    };
    static size_t slot(uint64_t v) { return size_t((v * 0x9E3779B97F4A7C15ull) >> 54); }
    std::vector<Entry> entries_ = std::vector<Entry>(1024);
};

// The best tier over a band the encoders wrote: every unit searched again
// against the same samples (K's gather, which gives every level's
// encoders' samples), and each tile checked as readers rebuild it.
template <bool kAlpha, class K>
void refineBand(const detail::BestSearch& search, const uint8_t* picture, uint32_t width, uint32_t rows,
                uint8_t* texture, uint8_t* chroma)
{
    const size_t stride = size_t(width) * 4;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const size_t blocksPerRow = width / 4;
    FastUnits lumaUnits, alphaUnits, coUnits, cgUnits;
    const auto memo = std::make_unique<detail::UnitMemo>();
    // A tile's fast units (luma, Co and Cg in 48 bytes, then alpha in 32),
    // and its left neighbour's: the two trade places from tile to tile.
    uint8_t fastUnits[2][80];
    uint8_t *before = fastUnits[0], *leftBefore = fastUnits[1];
    for (uint32_t ty = 0; ty < rows / 8; ++ty) {
        for (uint32_t tx = 0; tx < width / 8; ++tx, chroma += 16, std::swap(before, leftBefore)) {
            const uint8_t* tile = picture + size_t(ty) * 8 * stride + size_t(tx) * 32;
            uint8_t* luma[4];
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1), by = size_t(ty) * 2 + size_t(blk >> 1);
                luma[blk] = texture + (by * blocksPerRow + bx) * kUnit;
                std::memcpy(before + 8 * blk, luma[blk], 8);
                if constexpr (kAlpha)
                    std::memcpy(before + 48 + 8 * blk, luma[blk] + 8, 8);
            }
            std::memcpy(before + 32, chroma, 16);
            // A tile whose pixels and fast units are its left neighbour's
            // (flat areas, repeated shapes) takes that tile's units as they
            // came out: its own search would give the same but for the
            // repeats it may take, and the packer finds the units repeated.
            // Its luma and chroma units so where only the alpha differs (a
            // matte over flat colour), and its alpha units where only that
            // is alike. Such a tile lists none of its units as earlier ones
            // for later tiles (nor looks any up for the units it takes): the
            // left tile listed units of the same fast bytes, which came out
            // as this tile's do, so the bytes are the same. (Where all of it
            // is alike: half the tiles of a motion-graphics frame under a
            // matte, nine in ten without alpha.)
            const bool colourFastLikeLeft = tx > 0 && std::memcmp(before, leftBefore, 48) == 0;
            const bool alphaFastLikeLeft = kAlpha && tx > 0 && std::memcmp(before + 48, leftBefore + 48, 32) == 0;
            const uint64_t differ =
                colourFastLikeLeft || alphaFastLikeLeft ? K::differenceFromLeft(tile, stride) : detail::kAllBytes;
            const bool colourLikeLeft = colourFastLikeLeft && (differ & detail::kColourBytes) == 0;
            const bool alphaLikeLeft = alphaFastLikeLeft && (differ & detail::kAlphaBytes) == 0;
            if (colourLikeLeft && (alphaLikeLeft || !kAlpha)) {
                for (int blk = 0; blk < 4; ++blk)
                    std::memcpy(luma[blk], luma[blk] - 2 * kUnit, kUnit);
                std::memcpy(chroma, chroma - 16, 16);
                continue;
            }
            // Each unit's left and upper neighbours in its plane (within the
            // band), whose bytes it may take to keep the packer's repeats.
            // (The earlier units are looked up only for the units searched,
            // before this tile's own go in.)
            [[maybe_unused]] const auto searchAlpha = [&](int blk, const uint16_t values[16]) {
                uint8_t* alpha = luma[blk] + 8;
                const uint8_t* left = (tx > 0 || (blk & 1)) ? alpha - kUnit : nullptr;
                const uint8_t* above = (ty > 0 || (blk >> 1)) ? alpha - blocksPerRow * kUnit : nullptr;
                const uint8_t* earlier = alphaUnits.find(alpha);
                alphaUnits.add(alpha, alpha);
                search.channelBlock(alpha, values, 1, {left, above, earlier}, *memo);
            };
            if constexpr (kAlpha) {
                if (colourLikeLeft) {
                    // Only the alpha searched: a matte moving over flat colour.
                    detail::TileSamples samples;
                    K::gatherAlpha(tile, stride, samples);
                    for (int blk = 0; blk < 4; ++blk) {
                        searchAlpha(blk, samples.alpha[blk]);
                        std::memcpy(luma[blk], luma[blk] - 2 * kUnit, 8);
                    }
                    std::memcpy(chroma, chroma - 16, 16);
                    continue;
                }
            }
            detail::TileSamples samples;
            K::gatherTile(tile, stride, kAlpha, samples);
            detail::RepeatCandidates repeats[4];
            for (int blk = 0; blk < 4; ++blk) {
                const uint8_t* left = (tx > 0 || (blk & 1)) ? luma[blk] - kUnit : nullptr;
                const uint8_t* above = (ty > 0 || (blk >> 1)) ? luma[blk] - blocksPerRow * kUnit : nullptr;
                repeats[blk] = {left, above, lumaUnits.find(before + 8 * blk)};
                if constexpr (kAlpha) {
                    if (alphaLikeLeft) {
                        uint8_t* alpha = luma[blk] + 8;
                        alphaUnits.add(alpha, alpha);
                        std::memcpy(alpha, alpha - 2 * kUnit, 8);
                    } else {
                        searchAlpha(blk, samples.alpha[blk]);
                    }
                }
            }
            const uint8_t* chromaLeft = tx > 0 ? chroma - 16 : nullptr;
            const uint8_t* chromaAbove = ty > 0 ? chroma - size_t(width / 8) * 16 : nullptr;
            const detail::RepeatCandidates co{chromaLeft, chromaAbove, coUnits.find(chroma)},
                cg{chromaLeft ? chromaLeft + 8 : nullptr, chromaAbove ? chromaAbove + 8 : nullptr,
                   cgUnits.find(chroma + 8)};
            for (int blk = 0; blk < 4; ++blk)
                lumaUnits.add(before + 8 * blk, luma[blk]);
            coUnits.add(before + 32, chroma);
            cgUnits.add(before + 40, chroma + 8);
            // Each unit comes closer to its own samples, but the RGB a reader
            // rebuilds mixes luma and chroma: the tile keeps its fast units
            // where their RGB comes out closer, or where the tile's SSIM comes
            // out lower (the luma units' searches can draw a sharp edge's
            // ramp in from its extremes: on motion graphics at 1080p that
            // gained 0.3 dB but lost 0.011 of SSIM; with this check SSIM
            // gains 0.003 and PSNR keeps all but 0.01 dB).
            const detail::TileQuality fast = search.tileQuality(tile, stride, luma, chroma);
            if (fast.error == 0)
                continue;
            search.channelBlock(chroma, samples.co, 2, co, *memo);
            search.channelBlock(chroma + 8, samples.cg, 2, cg, *memo);
            uint16_t target[4][16];
            search.lumaTargets(tile, stride, chroma, target);
            for (int blk = 0; blk < 4; ++blk)
                search.channelBlock(luma[blk], target[blk], 16, repeats[blk], *memo);
            bool changed = std::memcmp(chroma, before + 32, 16) != 0;
            for (int blk = 0; blk < 4; ++blk)
                changed = changed || std::memcmp(luma[blk], before + 8 * blk, 8) != 0;
            if (!changed)
                continue;
            const detail::TileQuality best = search.tileQuality(tile, stride, luma, chroma);
            if (best.error > fast.error || best.ssim < fast.ssim) {
                for (int blk = 0; blk < 4; ++blk)
                    std::memcpy(luma[blk], before + 8 * blk, 8);
                std::memcpy(chroma, before + 32, 16);
            }
        }
    }
}

}  // namespace

void refineYcocgBandWith(SimdLevel level, bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows,
                         uint8_t* luma, uint8_t* chroma)
{
    if (width % 8 != 0 || rows % 8 != 0)
        return;
    const detail::BestSearch& search = detail::bestSearchFor(level);
#if defined(__SSE2__)
    if (runnableSimdLevel(level) >= SimdLevel::Sse2) {
        alpha ? refineBand<true, detail::Sse2RampKernels>(search, picture, width, rows, luma, chroma)
              : refineBand<false, detail::Sse2RampKernels>(search, picture, width, rows, luma, chroma);
        return;
    }
#endif
    alpha ? refineBand<true, detail::ScalarRampKernels>(search, picture, width, rows, luma, chroma)
          : refineBand<false, detail::ScalarRampKernels>(search, picture, width, rows, luma, chroma);
}

void refineYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma)
{
    refineYcocgBandWith(activeSimdLevel(), alpha, picture, width, rows, luma, chroma);
}

int encodeYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma)
{
    return alpha ? encodeWith<true>(activeSimdLevel(), picture, width, rows, luma, chroma)
                 : encodeWith<false>(activeSimdLevel(), picture, width, rows, luma, chroma);
}

}  // namespace nox
