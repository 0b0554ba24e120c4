// The best tier of the DXT encoders: a search that starts from the block the
// fast encoder wrote and keeps whatever decodes closer to the source.
//
// Colour: the error of a pair of endpoints is measured exactly, against the
// four colours a reader derives from them (truncating thirds) with every
// pixel on its nearest colour. From the fast encoder's endpoints the search
// walks over the pair's one-step neighbours (a channel of an endpoint up or
// down), each in the direction in which the error falls (downhill), taking
// any that lowers the error. Single-channel blocks (DXT5 alpha, the YCoCg
// units; best_channel.h): walks over the ramp's endpoints, alpha with both
// of its ramps, eight values between the endpoints and six with 0 and 255
// fixed.
//
// The result keeps the fast encoder's promises: c0 > c1 (or c0 == c1 with no
// pixel on index 3), so a colour block decodes the same in DXT1's
// three-colour mode and in DXT5. It depends only on the fast encoder's
// bytes, which every instruction-set level writes alike, and on arithmetic
// in a fixed order: every level gives the same bytes.
//
// This header, with the ones it includes (best_common.h, best_channel.h,
// ycocg_best_tile.h), is the search itself, compiled once for each level
// that has its own build of it (dxt_best.cpp, x86/dxt_best_avx2.cpp: with
// AVX2 the compiler runs the loops over a block's 16 pixels in one vector,
// and the nearest colours and steps, where most of the time goes, are
// measured in 16-bit lanes; the plain loops beside them are the reference).
// Each build hands out its entry points as a BestSearch (dxt_internal.h);
// the same C++, and no floating-point contraction, give the same bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "best_channel.h"
#include "best_common.h"
#include "codec/frame_format.h"
#include "core/bytes.h"
#include "dxt_internal.h"
#include "ycocg_best_tile.h"

namespace nox::detail {
namespace {

// Walks over a colour pair's neighbours. On photo-like pictures one walk
// over the six downhill neighbours gains 1.1 dB over the fast encoder; all
// twelve neighbours gained 0.1 dB more for 1.4 times the time.
constexpr int kPasses = 1;

// A block's colours, channel by channel: the loops over the pixels below
// are plain enough for the compiler to run them four or eight at a time.
struct Pixels {
    int16_t c[3][16];
};

inline void expand(uint16_t c, int out[3])
{
    const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
    out[0] = (r << 3) | (r >> 2);
    out[1] = (g << 2) | (g >> 4);
    out[2] = (b << 3) | (b >> 2);
}

// The four colours of a four-colour block, as readers derive them.
inline void palette(uint16_t c0, uint16_t c1, int pal[4][3])
{
    expand(c0, pal[0]);
    expand(c1, pal[1]);
    for (int ch = 0; ch < 3; ++ch) {
        pal[2][ch] = (2 * pal[0][ch] + pal[1][ch]) / 3;
        pal[3][ch] = (pal[0][ch] + 2 * pal[1][ch]) / 3;
    }
}

#if defined(__AVX2__)
// The same four colours as three tables in 16-bit lanes, one a channel:
// colour k in word k of each 128-bit half, as a byte shuffle picks it
// (pickByIndex). Every step is exact in 16 bits: the fields moved to the
// top of a word and down again by multiplies, the thirds of sums up to 765
// by a high multiply with 21846.
struct PaletteTables {
    __m256i channel[3];
};
inline PaletteTables paletteTables(uint16_t c0, uint16_t c1)
{
    // c0 in words 0-2 and c1 in words 4-6, one channel each: red, green, blue.
    const __m128i c = _mm_shuffle_epi8(_mm_cvtsi32_si128(int(c0 | uint32_t(c1) << 16)),
                                       _mm_setr_epi8(0, 1, 0, 1, 0, 1, -1, -1, 2, 3, 2, 3, 2, 3, -1, -1));
    const __m128i field = _mm_mulhi_epu16(_mm_mullo_epi16(c, _mm_setr_epi16(1, 32, 2048, 0, 1, 32, 2048, 0)),
                                          _mm_setr_epi16(32, 64, 32, 0, 32, 64, 32, 0));
    // Five bits to eight, (v << 3) | (v >> 2), and six, (v << 2) | (v >> 4).
    const __m128i ends =
        _mm_or_si128(_mm_mullo_epi16(field, _mm_setr_epi16(8, 4, 8, 0, 8, 4, 8, 0)),
                     _mm_mulhi_epu16(field, _mm_setr_epi16(16384, 4096, 16384, 0, 16384, 4096, 16384, 0)));
    // (2 c0 + c1) / 3 in words 0-2 and (c0 + 2 c1) / 3 in words 4-6.
    const __m128i thirds =
        _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(ends, ends), _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2))),
                        _mm_set1_epi16(21846));
    // Colours 0 and 2, and 1 and 3, then the channels' words side by side.
    const __m128i even = _mm_unpacklo_epi64(ends, thirds), odd = _mm_unpackhi_epi64(ends, thirds);
    const __m128i low = _mm_unpacklo_epi16(even, odd), high = _mm_unpackhi_epi16(even, odd);
    const __m128i redGreen = _mm_unpacklo_epi32(low, high), blue = _mm_unpackhi_epi32(low, high);
    return {{_mm256_broadcastsi128_si256(redGreen), _mm256_broadcastsi128_si256(_mm_srli_si128(redGreen, 8)),
             _mm256_broadcastsi128_si256(blue)}};
}

// A pair's error in the AVX2 build (nearestColours below): a pixel's squared distance to each
// colour in 16-bit lanes, the three channels' squares (each below 2^16)
// added with saturation, so that the nearest colour's distance is exact
// wherever it is below 65535. A block with a pixel that far from all four
// colours (three saturated primaries, say) goes the plain way: the same
// figures either way.
template <bool kIndices>
bool nearestColoursInLanes(const Pixels& px, const PaletteTables& pal, uint32_t& error, uint32_t* mask)
{
    const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px.c[0]));
    const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px.c[1]));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px.c[2]));
    const auto distance = [&](int k) {
        // Colour k's word in every lane.
        const __m256i word = _mm256_set1_epi16(int16_t(0x0202 * k + 0x0100));
        const __m256i dr = _mm256_sub_epi16(r, _mm256_shuffle_epi8(pal.channel[0], word));
        const __m256i dg = _mm256_sub_epi16(g, _mm256_shuffle_epi8(pal.channel[1], word));
        const __m256i db = _mm256_sub_epi16(b, _mm256_shuffle_epi8(pal.channel[2], word));
        return _mm256_adds_epu16(_mm256_adds_epu16(_mm256_mullo_epi16(dr, dr), _mm256_mullo_epi16(dg, dg)),
                                 _mm256_mullo_epi16(db, db));
    };
    __m256i best = distance(0), index = _mm256_setzero_si256();
    for (int k = 1; k < 4; ++k) {
        const __m256i d = distance(k), nearer = _mm256_min_epu16(best, d);
        if constexpr (kIndices) {
            // Strictly closer: the lowest index keeps a tie.
            const __m256i closer = _mm256_andnot_si256(_mm256_cmpeq_epi16(best, d), _mm256_cmpeq_epi16(nearer, d));
            index = _mm256_blendv_epi8(index, _mm256_set1_epi16(int16_t(k)), closer);
        }
        best = nearer;
    }
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(best, _mm256_set1_epi16(-1))) != 0)
        return false;
    const __m256i zero = _mm256_setzero_si256();
    error = sumOfLanes(_mm256_add_epi32(_mm256_unpacklo_epi16(best, zero), _mm256_unpackhi_epi16(best, zero)));
    if constexpr (kIndices) {
        // Pixels 2j and 2j + 1 as a nibble in lane j, moved to bits 4j.
        const __m256i pairs = _mm256_madd_epi16(index, _mm256_set1_epi32(0x00040001));
        __m256i bits = _mm256_sllv_epi32(pairs, _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28));
        __m128i o = _mm_or_si128(_mm256_castsi256_si128(bits), _mm256_extracti128_si256(bits, 1));
        o = _mm_or_si128(o, _mm_shuffle_epi32(o, _MM_SHUFFLE(1, 0, 3, 2)));
        o = _mm_or_si128(o, _mm_shuffle_epi32(o, _MM_SHUFFLE(2, 3, 0, 1)));
        *mask = uint32_t(_mm_cvtsi128_si32(o));
    }
    return true;
}
#endif

// The error of the pair (c0 >= c1) with every pixel on its nearest colour
// (the lowest index on a tie), and with kIndices those indices. With c0 ==
// c1 all four colours are the same and every pixel takes index 0. The walk
// measures many pairs and keeps few: it leaves the indices out, and they
// are found for the pair it keeps.
template <bool kIndices>
uint32_t nearestColours(const Pixels& px, uint16_t c0, uint16_t c1, uint32_t* mask)
{
#if defined(__AVX2__)
    if (uint32_t error; nearestColoursInLanes<kIndices>(px, paletteTables(c0, c1), error, mask))
        return error;
#endif
    int pal[4][3];
    palette(c0, c1, pal);
    uint32_t best[16], index[16];
    for (int k = 0; k < 4; ++k) {
        const int16_t r = int16_t(pal[k][0]), g = int16_t(pal[k][1]), b = int16_t(pal[k][2]);
        for (int i = 0; i < 16; ++i) {
            // Differences within -255..255: each square fits 16 bits.
            const int16_t dr = int16_t(px.c[0][i] - r), dg = int16_t(px.c[1][i] - g), db = int16_t(px.c[2][i] - b);
            const uint32_t d = uint32_t(uint16_t(dr * dr)) + uint16_t(dg * dg) + uint16_t(db * db);
            if constexpr (kIndices) {
                const bool closer = k == 0 || d < best[i];
                best[i] = closer ? d : best[i];
                index[i] = closer ? uint32_t(k) : index[i];
            } else {
                best[i] = k == 0 ? d : std::min(best[i], d);
            }
        }
    }
    uint32_t error = 0;
    for (int i = 0; i < 16; ++i)
        error += best[i];
    if constexpr (kIndices) {
        *mask = 0;
        for (int i = 0; i < 16; ++i)
            *mask |= index[i] << (2 * i);
    }
    return error;
}

uint32_t colourError(const Pixels& px, uint16_t c0, uint16_t c1, uint32_t& mask)
{
    return nearestColours<true>(px, c0, c1, &mask);
}

#if defined(__AVX2__)
// A byte shuffle that gives each pixel word k (bytes 2k and 2k + 1) of an
// eight-word table whose halves are alike, k its index in mask.
inline __m256i pickByIndex(uint32_t mask)
{
    const __m256i index = _mm256_and_si256(
        _mm256_srlv_epi32(_mm256_set1_epi32(int(mask)), _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28)),
        _mm256_set1_epi32(15));
    // Lane j holds pixels 2j (bits 0-1) and 2j + 1 (bits 2-3): as words, in order.
    const __m256i words = _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(index, _mm256_set1_epi32(3)), 1),
                                          _mm256_slli_epi32(_mm256_srli_epi32(index, 2), 17));
    return _mm256_add_epi16(_mm256_add_epi16(words, _mm256_slli_epi16(words, 8)), _mm256_set1_epi16(0x0100));
}

// Each pixel's distance in one channel from its colour of the palette.
inline __m256i residualsInLanes(const Pixels& px, const PaletteTables& pal, int ch, __m256i pick)
{
    return _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(px.c[ch])),
                            _mm256_shuffle_epi8(pal.channel[ch], pick));
}
#endif

// The error of a colour block's bytes as they stand (its own indices).
uint32_t storedColourError(const Pixels& px, const uint8_t* colour)
{
    const uint32_t mask = loadLe32(colour + 4);
#if defined(__AVX2__)
    const PaletteTables pal = paletteTables(loadLe16(colour), loadLe16(colour + 2));
    const __m256i pick = pickByIndex(mask);
    __m256i sum = _mm256_setzero_si256();
    for (int ch = 0; ch < 3; ++ch) {
        const __m256i d = residualsInLanes(px, pal, ch, pick);
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(d, d));
    }
    return sumOfLanes(sum);
#else
    int pal[4][3];
    palette(loadLe16(colour), loadLe16(colour + 2), pal);
    uint32_t error = 0;
    for (int i = 0; i < 16; ++i) {
        const int* p = pal[(mask >> (2 * i)) & 3];
        const int dr = px.c[0][i] - p[0], dg = px.c[1][i] - p[1], db = px.c[2][i] - p[2];
        error += uint32_t(dr * dr + dg * dg + db * db);
    }
    return error;
#endif
}

// A pair with its error; `indexed` when mask holds its indices too.
struct ColourBlock {
    uint16_t c0, c1;
    uint32_t mask;
    uint32_t error;
    bool indexed;
};

// The pair a, b as a four-colour block (the larger first), measured; its
// indices left to find.
ColourBlock measureColourError(const Pixels& px, uint16_t a, uint16_t b)
{
    const uint16_t c0 = std::max(a, b), c1 = std::min(a, b);
    return {c0, c1, 0, nearestColours<false>(px, c0, c1, nullptr), false};
}

// The block's indices, found where the walk left them out.
void indexColours(const Pixels& px, ColourBlock& k)
{
    if (!k.indexed) {
        colourError(px, k.c0, k.c1, k.mask);
        k.indexed = true;
    }
}

// Which way each channel of each endpoint lowers the block's error (+1, -1,
// or 0 where it is flat), from its pixels' distances to their colours: the
// error's slope along c0's channel is minus the sum of the distances, each
// weighted by its colour's share of c0 (in thirds: 3, 0, 2, 1 by index), and
// along c1's by the rest of the weight. Whole numbers, the same in every
// build.
void downhill(const Pixels& px, const ColourBlock& k, int toward[2][3])
{
    int slope[2][3];
#if defined(__AVX2__)
    const PaletteTables pal = paletteTables(k.c0, k.c1);
    const __m256i pick = pickByIndex(k.mask);
    const __m256i w0 = _mm256_shuffle_epi8(_mm256_setr_epi16(3, 0, 2, 1, 0, 0, 0, 0, 3, 0, 2, 1, 0, 0, 0, 0), pick);
    const __m256i w1 = _mm256_sub_epi16(_mm256_set1_epi16(3), w0);
    for (int ch = 0; ch < 3; ++ch) {
        const __m256i d = residualsInLanes(px, pal, ch, pick);
        slope[0][ch] = int(sumOfLanes(_mm256_madd_epi16(d, w0)));
        slope[1][ch] = int(sumOfLanes(_mm256_madd_epi16(d, w1)));
    }
#else
    int pal[4][3];
    palette(k.c0, k.c1, pal);
    static constexpr int kWeight0[4] = {3, 0, 2, 1};
    for (int ch = 0; ch < 3; ++ch) {
        slope[0][ch] = slope[1][ch] = 0;
        for (int i = 0; i < 16; ++i) {
            const uint32_t index = (k.mask >> (2 * i)) & 3;
            const int d = px.c[ch][i] - pal[index][ch];
            slope[0][ch] += kWeight0[index] * d;
            slope[1][ch] += (3 - kWeight0[index]) * d;
        }
    }
#endif
    // A step along a gentle slope seldom pays. With the indices held, moving
    // an endpoint by `step` (about 8 of 255 for red and blue, 4 for green)
    // lowers the error only where its slope exceeds step x (the sum of its
    // weights' squares) / 6; below half of that the step is not tried (the
    // indices a neighbour takes anew make up the rest of the way). On 1080p
    // photo-like pictures that gives up 0.06 of 1.09 dB for a quarter of
    // the refinement's instructions, on motion graphics 0.02 dB for a fifth.
    const uint32_t low = k.mask & 0x55555555u, high = (k.mask >> 1) & 0x55555555u;
    const int n1 = std::popcount(low & ~high), n2 = std::popcount(high & ~low), n3 = std::popcount(low & high);
    const int n0 = 16 - n1 - n2 - n3;
    const int squares[2] = {9 * n0 + 4 * n2 + n3, 9 * n1 + n2 + 4 * n3};
    static constexpr int kStep[3] = {8, 4, 8};
    for (int end = 0; end < 2; ++end)
        for (int ch = 0; ch < 3; ++ch)
            toward[end][ch] = 12 * std::abs(slope[end][ch]) < kStep[ch] * squares[end] ? 0 : signOf(slope[end][ch]);
}

// The pair with one channel of one endpoint moved a step; false at the edge.
bool neighbour(uint16_t c, int channel, int step, uint16_t& out)
{
    static constexpr int kShift[3] = {11, 5, 0}, kMax[3] = {31, 63, 31};
    const int v = (c >> kShift[channel]) & kMax[channel], moved = v + step;
    if (moved < 0 || moved > kMax[channel])
        return false;
    out = uint16_t((c & ~(kMax[channel] << kShift[channel])) | moved << kShift[channel]);
    return true;
}

ColourBlock searchColours(const Pixels& px, const ColourBlock& start)
{
    int toward[2][3];
    downhill(px, start, toward);
    const auto walk = [&](const ColourBlock& best, auto&& take) {
        for (int end = 0; end < 2; ++end)
            for (int channel = 0; channel < 3; ++channel) {
                uint16_t n;
                if (toward[end][channel] != 0 && neighbour(end ? best.c1 : best.c0, channel, toward[end][channel], n))
                    take(end ? measureColourError(px, best.c0, n) : measureColourError(px, n, best.c1));
            }
    };
    ColourBlock best = walkFrom(start, kPasses, walk);
    indexColours(px, best);
    return best;
}

// A block's 16 RGBA pixels (rows `stride` bytes apart) as its channels; with
// `planes`, also its R, G and B bytes one channel after the other (a search
// memo's key).
[[gnu::always_inline]] inline void pixelsOf(const uint8_t* block, size_t stride, Pixels& px, uint8_t* planes = nullptr)
{
#if defined(__AVX2__)
    // Each row's pixels gathered channel by channel, then the rows' words
    // of each channel side by side.
    const __m128i byChannel = _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    __m128i row[4];
    for (int j = 0; j < 4; ++j)
        row[j] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + stride * j)), byChannel);
    const __m128i rg01 = _mm_unpacklo_epi32(row[0], row[1]), rg23 = _mm_unpacklo_epi32(row[2], row[3]);
    const __m128i ba01 = _mm_unpackhi_epi32(row[0], row[1]), ba23 = _mm_unpackhi_epi32(row[2], row[3]);
    const __m128i channel[3] = {_mm_unpacklo_epi64(rg01, rg23), _mm_unpackhi_epi64(rg01, rg23),
                                _mm_unpacklo_epi64(ba01, ba23)};
    for (int ch = 0; ch < 3; ++ch) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(px.c[ch]), _mm256_cvtepu8_epi16(channel[ch]));
        if (planes)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + 16 * ch), channel[ch]);
    }
#else
    for (int i = 0; i < 16; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const uint8_t v = block[stride * size_t(i / 4) + size_t(4 * (i % 4) + ch)];
            px.c[ch][i] = int16_t(v);
            if (planes)
                planes[16 * ch + i] = v;
        }
#endif
}

// A block's 16 alphas (rows `stride` bytes apart).
Channel alphasOf(const uint8_t* block, size_t stride)
{
    Channel ch;
#if defined(__AVX2__)
    const __m128i alphas = _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    __m128i row[4];
    for (int j = 0; j < 4; ++j)
        row[j] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + stride * j)), alphas);
    const __m128i all = _mm_unpacklo_epi64(_mm_unpacklo_epi32(row[0], row[1]), _mm_unpacklo_epi32(row[2], row[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ch.values), _mm256_cvtepu8_epi32(all));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ch.values + 8), _mm256_cvtepu8_epi32(_mm_srli_si128(all, 8)));
#else
    for (int i = 0; i < 16; ++i)
        ch.values[i] = block[stride * size_t(i / 4) + size_t(4 * (i % 4) + 3)];
#endif
    ch.scale = 1;
    return ch;
}

// The search from the colour block's endpoints, their indices found anew;
// the error of the bytes it writes.
uint32_t refineColour(uint8_t* colour, const Pixels& px)
{
    ColourBlock start{loadLe16(colour), loadLe16(colour + 2), 0, 0, true};
    start.error = colourError(px, start.c0, start.c1, start.mask);
    const ColourBlock best = searchColours(px, start);
    storeLe16(colour, best.c0);
    storeLe16(colour + 2, best.c1);
    storeLe32(colour + 4, best.mask);
    return best.error;
}

template <bool kAlpha>
void refineTexture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    const size_t stride = size_t(width) * 4, blockBytes = kAlpha ? 16 : 8, rowBytes = width / 4 * blockBytes;
    // Keys: 16 alphas and a mark (below), or the 16 pixels' R, G and B (pixelsOf), and then the fast bytes. (A type of
    // this build's own: no other build makes these.)
    struct Memos {
        SearchMemo<32> alpha;
        SearchMemo<56> colour;
    };
    const auto memos = std::make_unique<Memos>();
    uint8_t alphaKey[32], colourKey[56];
    // The fast bytes of the block to the left.
    uint8_t leftFast[16];
    uint8_t* at = texture;
    for (uint32_t y = 0; y < height; y += 4) {
        const uint8_t* row = picture + size_t(y) * stride;
        for (uint32_t x = 0; x < width; x += 4, at += blockBytes) {
            // A block whose fast bytes and pixels are its left neighbour's
            // (flat areas, repeated shapes) takes that block's bytes as they
            // came out: its own search would give the same but for the
            // repeats it may take, and the packer finds the block repeated.
            const bool likeLeft = x > 0 && std::memcmp(at, leftFast, blockBytes) == 0 &&
                                  sameAsLeft(row + size_t(x) * 4, stride, 4, kAllBytes);
            std::memcpy(leftFast, at, blockBytes);
            if (likeLeft) {
                std::memcpy(at, at - blockBytes, blockBytes);
                continue;
            }
            const uint8_t* left = x > 0 ? at - blockBytes : nullptr;
            const uint8_t* above = y > 0 ? at - rowBytes : nullptr;
            const size_t colour = kAlpha ? 8 : 0;
            if (kAlpha) {
                const Channel alphas = alphasOf(row + size_t(x) * 4, stride);
                // The alphas less the level as bytes, which tell apart
                // distances from -64 to 191; whether a level is taken out.
                const auto key = [&](int level) {
                    for (int i = 0; i < 16; ++i)
                        alphaKey[i] = uint8_t(alphas.values[i] - level);
                    alphaKey[16] = level != 0;
                    std::memset(alphaKey + 17, 0, 7);
                    return alphaKey;
                };
                refineRemembered<-64, 191>(at, alphas, memos->alpha, key, {left, above});
            }
            Pixels px;
            pixelsOf(row + size_t(x) * 4, stride, px, colourKey);
            const auto [fast, best] = remembered(memos->colour, colourKey, at + colour, [&] {
                const uint32_t f = storedColourError(px, at + colour);
                return std::pair{f, refineColour(at + colour, px)};
            });
            keepRepeats(at + colour, {left ? left + colour : nullptr, above ? above + colour : nullptr}, fast, best,
                        [&](const uint8_t* c) { return storedColourError(px, c); });
        }
    }
}

void colorBlock(uint8_t* colour, const uint8_t* block)
{
    Pixels px;
    pixelsOf(block, 16, px);
    refineColour(colour, px);
}

void alphaBlock(uint8_t* alpha, const uint8_t* block) { refineChannel(alpha, alphasOf(block, 16)); }

Channel channelOf(const uint16_t values[16], int scale)
{
    Channel ch;
    std::copy(values, values + 16, ch.values);
    ch.scale = scale;
    return ch;
}

void channelBlock(uint8_t* unit, const uint16_t values[16], int scale, const RepeatCandidates& repeats, UnitMemo& memo,
                  ChannelSearch* searched)
{
    const Channel ch = channelOf(values, scale);
    // The key: the values less the level (16 bits each, which tell every
    // difference apart), the scale, whether a level is taken out, zeros; the
    // fast bytes last.
    uint8_t key[UnitMemo::kKey];
    const auto fillKey = [&](int level) {
        if (level == 0)
            std::memcpy(key, values, 32);
        else
            for (int i = 0; i < 16; ++i)
                storeLe16(key + 2 * i, uint16_t(values[i] - level * scale));
        key[32] = uint8_t(scale);
        key[33] = level != 0;
        std::memset(key + 34, 0, UnitMemo::kKey - 8 - 34);
        return key;
    };
    const auto [fast, best] = searchRemembered<-65535, 65535>(unit, ch, memo, fillKey);
    if (searched) {
        std::memcpy(searched->bytes, unit, 8);
        searched->fastError = fast;
        searched->error = best;
    }
    keepChannelRepeats(unit, ch, {repeats.left, repeats.above, repeats.earlier}, fast, best);
}

void keepChannelRepeatsOf(uint8_t* unit, const uint16_t values[16], int scale, const ChannelSearch& searched,
                          const RepeatCandidates& repeats)
{
    std::memcpy(unit, searched.bytes, 8);
    keepChannelRepeats(unit, channelOf(values, scale), {repeats.left, repeats.above, repeats.earlier},
                       searched.fastError, searched.error);
}

// This build's entry points.
constexpr BestSearch kThisBuildsSearch{&colorBlock,           &alphaBlock,           &channelBlock,
                                       &keepChannelRepeatsOf, &refineTexture<false>, &refineTexture<true>,
                                       &tileQuality,          &lumaTargets};

}  // namespace
}  // namespace nox::detail
