// Kernels shared by the DXT encoders and the single-channel YCoCg encoders,
// with the scalar reference of each and its SIMD counterparts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/bytes.h"
#include "core/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nox::detail {

// Units whose final bytes a refined block may take instead, where they
// decode its values about as well (see keepRepeats in dxt_best_search.h),
// so that the packer still finds the repeats the fast encoder gave it: its
// left and upper neighbours in the texture, and the last earlier unit to
// which the fast encoder gave the same bytes; null where there is none.
// (No member initialisers: a tile's four are set one by one, and zeroing
// them first cost the search a string store per tile.)
struct RepeatCandidates {
    const uint8_t* left;
    const uint8_t* above;
    const uint8_t* earlier;
};

// Where the side x side square of RGBA pixels at `square` (rows `stride`
// bytes apart, side 4 or 8) differs from the square to its left: the bytes
// of two pixels, set where any pair of them differs. With a mask (all the
// bytes, the colours or the alphas), whether the square holds its left
// neighbour's pixels; the best tier takes that neighbour's result for it.
constexpr uint64_t kAllBytes = ~uint64_t(0), kColourBytes = 0x00FFFFFF00FFFFFFull, kAlphaBytes = ~kColourBytes;
inline uint64_t differenceFromLeftScalar(const uint8_t* square, size_t stride, uint32_t side)
{
    uint64_t differ = 0;
    for (uint32_t row = 0; row < side; ++row, square += stride)
        for (uint32_t at = 0; at < 4 * side; at += 8)
            differ |= loadLe64(square + at) ^ loadLe64(square + at - 4 * side);
    return differ;
}
#if defined(__SSE2__)
// 16 bytes at a time, the two halves folded at the end: the same bits.
inline uint64_t differenceFromLeftSse2(const uint8_t* square, size_t stride, uint32_t side)
{
    __m128i differ = _mm_setzero_si128();
#pragma GCC unroll 8
    for (uint32_t row = 0; row < side; ++row, square += stride)
#pragma GCC unroll 2
        for (uint32_t at = 0; at < 4 * side; at += 16)
            differ = _mm_or_si128(
                differ, _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(square + at)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(square + at - 4 * side))));
    return uint64_t(_mm_cvtsi128_si64(_mm_or_si128(differ, _mm_unpackhi_epi64(differ, differ))));
}
#endif
// The best tier's DXT search (built per level) takes the vector one in its
// AVX2 build; the YCoCg tiles take it through their ramp kernels.
inline uint64_t differenceFromLeft(const uint8_t* square, size_t stride, uint32_t side)
{
#if defined(__AVX2__)
    return differenceFromLeftSse2(square, stride, side);
#else
    return differenceFromLeftScalar(square, stride, side);
#endif
}
inline bool sameAsLeft(const uint8_t* square, size_t stride, uint32_t side, uint64_t mask)
{
    return (differenceFromLeft(square, stride, side) & mask) == 0;
}

// What the best tier's searches gave, by what they depend on alone: a
// block's values and the fast encoder's bytes for it (kKey bytes, the fast
// bytes last), kept by a hash (dxt_best_search.h reads and fills it). Plain
// data, made zeroed by its owner. UnitMemo: for a band's single-channel
// units, keyed by their 16 values (32 bytes) and scale (8 bytes).
template <size_t K>
struct SearchMemo {
    static constexpr size_t kKey = K, kEntries = 512;
    struct Entry {
        uint8_t key[kKey];
        uint8_t bytes[8];
        uint32_t fastError, error;
        bool full;
    };
    Entry entries[kEntries];
};
using UnitMemo = SearchMemo<48>;

struct TileQuality {
    uint32_t error;  // at most 64 * 3 * 255 * 255
    double ssim;
};

// A single-channel block's search before the fast encoder's repeats are
// kept: its bytes, the fast bytes' error and its own. It depends on the
// block's values and fast bytes alone.
struct ChannelSearch {
    uint8_t bytes[8];
    uint32_t fastError, error;
};

// The best tier's search as one build of it (dxt_best_search.h) gives it,
// the same bytes from every build. channelBlock: a single-channel block
// (dxt5 alpha, a YCoCg unit) improved in place, the 8 bytes at unit, which
// the encoders wrote for `values`, `scale` times the 8-bit values the block
// should decode to (16 for luma, 2 for chroma, 1 for alpha); no larger
// squared error against the values than before. The memo spares searches
// already made; it changes no byte. With `searched`, what the search gave
// before the repeats goes there too; keepChannelRepeats takes such a
// result again, for a block of the same values and fast bytes, and gives
// the bytes channelBlock would. tileQuality, lumaTargets: a YCoCg
// tile's check (its squared RGB error and mean SSIM as readers rebuild it)
// and its luma units' aim (ycocg_best_tile.h).
struct BestSearch {
    void (*colorBlock)(uint8_t* colour, const uint8_t* block);
    void (*alphaBlock)(uint8_t* alpha, const uint8_t* block);
    void (*channelBlock)(uint8_t* unit, const uint16_t values[16], int scale, const RepeatCandidates& repeats,
                         UnitMemo& memo, ChannelSearch* searched);
    void (*keepChannelRepeats)(uint8_t* unit, const uint16_t values[16], int scale, const ChannelSearch& searched,
                               const RepeatCandidates& repeats);
    void (*dxt1Texture)(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
    void (*dxt5Texture)(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
    TileQuality (*tileQuality)(const uint8_t* tile, size_t stride, uint8_t* const luma[4], const uint8_t* chroma);
    void (*lumaTargets)(const uint8_t* tile, size_t stride, const uint8_t* chroma, uint16_t target[4][16]);
};
extern const BestSearch kPlainBestSearch, kAvx2BestSearch;
// The build a level runs (capped by what the processor runs).
const BestSearch& bestSearchFor(SimdLevel level);

// Quantises sixteen values to the 3-bit indices of a single-channel block
// whose endpoints stand for the values high > low (d = high - low), and
// writes the 48 index bits (pixel k in bits 3k..3k+2, little-endian) to
// destination[0..5].
//
// Each value v is placed on the 7-step ramp from low to high by a = 7*v + bias
// and a binary search against d = high - low (t = min(a / d, 7) without a
// division); t counts steps up from low, and the index table turns that into
// the block's numbering, where 0 is high, 1 is low and 2..7 run from high down.
inline void writeRampIndices(uint8_t* destination, const uint16_t* values, int32_t d, int32_t bias)
{
    static constexpr uint8_t kIndexOfStep[8] = {1, 7, 6, 5, 4, 3, 2, 0};
    const int32_t d2 = 2 * d, d4 = 4 * d;
    // Branch-free: the comparisons are data-dependent and would mispredict.
    uint64_t bits = 0;
#pragma GCC unroll 16
    for (int k = 0; k < 16; ++k) {
        int32_t a = 7 * int32_t(values[k]) + bias;
        const int32_t m4 = -int32_t(a >= d4);
        a -= m4 & d4;
        const int32_t m2 = -int32_t(a >= d2);
        a -= m2 & d2;
        const int32_t t = (m4 & 4) | (m2 & 2) | int32_t(a >= d);
        bits |= uint64_t(kIndexOfStep[t]) << (3 * k);
    }
    storeLe48(destination, bits);
}

// The samples of one 8x8 tile of an RGBA picture: luma 4*(R + 2G + B) and
// alpha per 4x4 block (upper left, upper right, lower left, lower right;
// row-major inside), and Co9 = sum(R - B)/4 + 255, Cg9 = sum(2G - R - B)/8
// + 255 per 2x2 group (row-major; divisions truncate toward zero).
struct TileSamples {
    uint16_t luma[4][16];
    uint16_t alpha[4][16];
    uint16_t co[16];
    uint16_t cg[16];
};

// The single-channel encoders' loops, one set per instruction-set level:
//   gatherTile: the samples of one tile (alpha only when withAlpha is set).
//   gatherAlpha: only the alpha samples of one tile.
//   differenceFromLeft: the 8x8 tile's differenceFromLeft.
//   minMax:     smallest and largest of sixteen values.
//   indices:    writeRampIndices.
// The fast levels work in 16-bit lanes: they need 7*v + bias within
// 0..32767 and 4*d <= 32767, which holds for luma (0..4080), chroma
// (0..510) and alpha (0..255) with the encoders' endpoints.
struct ScalarRampKernels {
    static void gatherTile(const uint8_t* tile, size_t stride, bool withAlpha, TileSamples& s);
    static void gatherAlpha(const uint8_t* tile, size_t stride, TileSamples& s);
    static uint64_t differenceFromLeft(const uint8_t* tile, size_t stride)
    {
        return differenceFromLeftScalar(tile, stride, 8);
    }
    static void minMax(const uint16_t* values, int& mn, int& mx);
    static void indices(uint8_t* destination, const uint16_t* values, int32_t d, int32_t bias)
    {
        writeRampIndices(destination, values, d, bias);
    }
};
#if defined(__SSE2__)
struct Sse2RampKernels {
    static void gatherTile(const uint8_t* tile, size_t stride, bool withAlpha, TileSamples& s);
    static void gatherAlpha(const uint8_t* tile, size_t stride, TileSamples& s);
    static uint64_t differenceFromLeft(const uint8_t* tile, size_t stride)
    {
        return differenceFromLeftSse2(tile, stride, 8);
    }
    static void minMax(const uint16_t* values, int& mn, int& mx);
    static void indices(uint8_t* destination, const uint16_t* values, int32_t d, int32_t bias);
};
#endif

// A colour block's index search reduced to one line through colour space:
// a pixel's projection dot = R*dirR + G*dirG + B*dirB is compared against
// the midpoints between the palette stops along the line. Below halfPoint
// the index is 1 (dot < c0Point) or 3; otherwise 2 (dot < c3Point) or 0.
struct ColorLine {
    int dirR, dirG, dirB;
    int c0Point, halfPoint, c3Point;
};

// Per-channel sum, minimum and maximum of the R, G, B bytes of a block.
struct BlockStats {
    int sum[3], min[3], max[3];
};

// The per-pixel loops of the colour encoder, one set per instruction-set
// level. Integer arithmetic only: every level gives the scalar reference's
// results exactly; the float steps stay in the shared code.
//   stats:        sums, minima and maxima of R, G, B.
//   covariance:   sums of products of (value - mean): RR, RG, RB, GG, GB, BB.
//   extremes:     first pixel with the smallest and first with the largest
//                 R*axisR + G*axisG + B*axisB (|axis| < 32768).
//   assign:       the 32-bit index word against a line (pixel i in bits 2i..2i+1).
//   weightedSums: sum over pixels of w1(index) * (R, G, B), w1 = (3, 0, 2, 1),
//                 and of the packed weight products (0x090000, 0x000900,
//                 0x040102, 0x010402) by index.
struct ScalarColorKernels {
    static void stats(const uint8_t* block, BlockStats& s);
    static void covariance(const uint8_t* block, const int mu[3], int cov[6]);
    static void extremes(const uint8_t* block, int axisR, int axisG, int axisB, int& minIndex, int& maxIndex);
    static uint32_t assign(const uint8_t* block, const ColorLine& line);
    static void weightedSums(const uint8_t* block, uint32_t mask, int at1[3], uint32_t& akku);
};
#if defined(__SSE2__)
struct Sse2ColorKernels {
    static void stats(const uint8_t* block, BlockStats& s);
    static void covariance(const uint8_t* block, const int mu[3], int cov[6]);
    static void extremes(const uint8_t* block, int axisR, int axisG, int axisB, int& minIndex, int& maxIndex);
    static uint32_t assign(const uint8_t* block, const ColorLine& line);
    static void weightedSums(const uint8_t* block, uint32_t mask, int at1[3], uint32_t& akku);
};
#endif

// The block encoders with one block per vector lane (x86/dxt_lanes.h) per
// instruction-set level: whole DXT1 and DXT5 textures, arguments as
// encodeDxt1Texture.
struct LaneEncoders {
    void (*dxt1Texture)(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
    void (*dxt5Texture)(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
};
#if defined(__x86_64__)
extern const LaneEncoders kSse41LaneEncoders;
extern const LaneEncoders kAvx2LaneEncoders;
extern const LaneEncoders kAvx512LaneEncoders;
#endif

// Moves bit i of a 16-bit value to bit 2i.
inline uint32_t spreadBits(uint32_t x)
{
    x = (x | (x << 8)) & 0x00FF00FFu;
    x = (x | (x << 4)) & 0x0F0F0F0Fu;
    x = (x | (x << 2)) & 0x33333333u;
    x = (x | (x << 1)) & 0x55555555u;
    return x;
}

}  // namespace nox::detail
