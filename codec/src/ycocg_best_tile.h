// The best tier's YCoCg tile (ycocg.cpp's refineBand): the luma its units
// aim at once its chroma is final, and how close the tile's units rebuild
// its pixels. Part of the search's build (dxt_best_search.h includes it),
// so the AVX2 build runs its own versions of the loops: the plain ones
// beside them are the reference, and every level gives the same figures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "best_channel.h"
#include "codec/frame_format.h"
#include "core/bytes.h"
#include "core/ssim.h"
#include "dxt_internal.h"

namespace nox::detail {
namespace {

// The 16 values of a single-channel unit.
inline void decodeUnit(const uint8_t* unit, uint8_t values[16])
{
    const uint64_t bits = loadLe48(unit + 2);
#if defined(__AVX2__)
    const __m128i ramp = channelRampInLanes(unit[0], unit[1]);
    const __m256i index = unitIndices(bits);
    const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(index), _mm256_extracti128_si256(index, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(values), _mm_shuffle_epi8(_mm_packus_epi16(ramp, ramp), bytes));
#else
    uint32_t ramp[8];
    channelRamp<uint32_t>(unit[0], unit[1], ramp);
    for (int k = 0; k < 16; ++k)
        values[k] = uint8_t(ramp[(bits >> (3 * k)) & 7]);
#endif
}

#if defined(__AVX2__)
// Rows 2q and 2q + 1 of an 8x8 tile's pixels, channel by channel, 16
// texels in 16-bit lanes: each row's R, G, B and A bytes gathered, then the
// two rows' side by side.
inline void pixelRows(const uint8_t* tile, size_t stride, int q, __m256i rgb[3])
{
    const __m256i byChannel = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5,
                                               9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const auto rowOf = [&](int row) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tile + size_t(row) * stride));
        return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(p, byChannel), order);
    };
    const __m256i upper = rowOf(2 * q), lower = rowOf(2 * q + 1);
    const __m256i rb = _mm256_unpacklo_epi64(upper, lower), ga = _mm256_unpackhi_epi64(upper, lower);
    rgb[0] = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(rb));
    rgb[1] = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(ga));
    rgb[2] = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(rb, 1));
}

// The same rows of a 4x4 chroma unit's values, each 2x2 group's value in
// all four of its texels.
inline __m256i chromaRows(__m128i values, int q)
{
    const __m128i spread =
        _mm_add_epi8(_mm_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 1, 1, 2, 2, 3, 3), _mm_set1_epi8(char(4 * q)));
    return _mm256_cvtepu8_epi16(_mm_shuffle_epi8(values, spread));
}
#endif

// A reader's red and blue are whole numbers before rounding (Y + Co - Cg and
// Y - Co - Cg + 255, clamped); its green lies half-way between two, where
// the floats' rounding picks the side, so the plain build takes it from the
// readers' own sum, once for every luma and Cg.
#if !defined(__AVX2__)
struct GreenOfLumaAndCg {
    uint8_t g[256][256];
    GreenOfLumaAndCg()
    {
        for (int l = 0; l < 256; ++l)
            for (int c = 0; c < 256; ++c) {
                uint8_t rgb[3];
                ycocgToRgb(uint8_t(l), 128, uint8_t(c), rgb);
                g[l][c] = rgb[1];
            }
    }
};
inline const GreenOfLumaAndCg& greenOfLumaAndCg()
{
    static const GreenOfLumaAndCg green;
    return green;
}

// A texel's R, G and B as readers rebuild them from its luma, Co and Cg bytes.
inline void rebuiltTexel(const GreenOfLumaAndCg& green, int y, int co, int cg, int rgb[3])
{
    rgb[0] = std::clamp(y + co - cg, 0, 255);
    rgb[1] = green.g[y][cg];
    rgb[2] = std::clamp(y - co - cg + 255, 0, 255);
}
#endif
#if defined(__AVX2__)

// A reader's green byte of eight texels, in floats as ycocgToRgb takes it
// (its clamps are those of the rounded value).
inline __m256i greenOf(__m256i y, __m256i cg)
{
    const __m256 k255 = _mm256_set1_ps(255.0f);
    const __m256 v = _mm256_add_ps(_mm256_div_ps(_mm256_cvtepi32_ps(y), k255),
                                   _mm256_sub_ps(_mm256_div_ps(_mm256_cvtepi32_ps(cg), k255), _mm256_set1_ps(0.5f)));
    const __m256i byte = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, k255), _mm256_set1_ps(0.5f)));
    return _mm256_min_epi32(_mm256_max_epi32(byte, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}
#endif

// The luma units' aim once the chroma units are final. A pixel's decoded Co
// and Cg fix its red, green and blue up to the luma, which moves all three:
// the luma that brings them closest is near (R + G + B + Cg - 127.5) / 3,
// and of that value rounded and the bytes either side, each pixel aims at
// the one whose rebuilt pixel (the readers' rounding and clamps) is nearest:
// the rounded value on a tie, then the lower. Aiming at bytes the readers
// rebuild well, rather than at a mean of the plain luma and that real value
// (before), took 1080p photo-like pictures at high from 50.70 to 51.14 dB
// (fast: 50.07), motion graphics from 28.21 to 28.30 (frames 1.8 % larger)
// and screen content from 33.80 to 33.82 (frames 1.6 % smaller).
void lumaTargets(const uint8_t* tile, size_t stride, const uint8_t* chroma, uint16_t target[4][16])
{
    alignas(16) uint8_t co[16], cg[16];
    decodeUnit(chroma, co);
    decodeUnit(chroma + 8, cg);
#if defined(__AVX2__)
    // A row's eight pixels in 32-bit lanes.
    const __m256i byte = _mm256_set1_epi32(255), zero = _mm256_setzero_si256();
    const __m128i left = _mm_setr_epi8(0, -1, -1, -1, 0, -1, -1, -1, 1, -1, -1, -1, 1, -1, -1, -1),
                  right = _mm_setr_epi8(2, -1, -1, -1, 2, -1, -1, -1, 3, -1, -1, -1, 3, -1, -1, -1);
    for (int row = 0; row < 8; ++row) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tile + size_t(row) * stride));
        const __m256i r = _mm256_and_si256(px, byte), g = _mm256_and_si256(_mm256_srli_epi32(px, 8), byte),
                      b = _mm256_and_si256(_mm256_srli_epi32(px, 16), byte);
        // Each group's Co and Cg in both of its pixels of the row.
        const auto spread = [&](const uint8_t* values) {
            const __m128i four = _mm_cvtsi32_si128(int(loadLe32(values + (row >> 1) * 4)));
            return _mm256_set_m128i(_mm_shuffle_epi8(four, right), _mm_shuffle_epi8(four, left));
        };
        const __m256i o = spread(co), c = spread(cg);
        const __m256i twice =
            _mm256_sub_epi32(_mm256_slli_epi32(_mm256_add_epi32(_mm256_add_epi32(r, g), _mm256_add_epi32(b, c)), 1),
                             _mm256_set1_epi32(252));
        // Divided by 6 as the plain loop's truncation (below 0 it clamps to 0).
        const __m256i y0 = _mm256_min_epi32(
            _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_max_epi32(twice, zero), _mm256_set1_epi32(10923)), 16), byte);
        const auto errorAt = [&](__m256i y) {
            const __m256i dr = _mm256_sub_epi32(
                _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(_mm256_add_epi32(y, o), c), zero), byte), r);
            const __m256i db = _mm256_sub_epi32(
                _mm256_min_epi32(
                    _mm256_max_epi32(_mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(y, o), c), byte), zero), byte),
                b);
            const __m256i dg = _mm256_sub_epi32(greenOf(y, c), g);
            return _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(dr, dr), _mm256_mullo_epi32(dg, dg)),
                                    _mm256_mullo_epi32(db, db));
        };
        const __m256i one = _mm256_set1_epi32(1);
        __m256i best = y0, bestError = errorAt(y0);
        // The byte below, then the one above, where they are bytes.
        for (const __m256i y : {_mm256_sub_epi32(y0, one), _mm256_add_epi32(y0, one)}) {
            const __m256i inRange =
                _mm256_andnot_si256(_mm256_cmpgt_epi32(zero, y), _mm256_cmpgt_epi32(_mm256_set1_epi32(256), y));
            const __m256i e = errorAt(y);
            const __m256i closer = _mm256_and_si256(inRange, _mm256_cmpgt_epi32(bestError, e));
            best = _mm256_blendv_epi8(best, y, closer);
            bestError = _mm256_blendv_epi8(bestError, e, closer);
        }
        const __m256i words = _mm256_packus_epi32(_mm256_slli_epi32(best, 4), zero);
        const int blk = (row >> 2) * 2, at = (row & 3) * 4;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target[blk] + at), _mm256_castsi256_si128(words));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target[blk + 1] + at), _mm256_extracti128_si256(words, 1));
    }
#else
    const GreenOfLumaAndCg& green = greenOfLumaAndCg();
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
            const uint8_t* p = tile + size_t(row) * stride + size_t(col) * 4;
            const int o = co[(row >> 1) * 4 + (col >> 1)], c = cg[(row >> 1) * 4 + (col >> 1)];
            const int y0 = std::clamp((2 * (p[0] + p[1] + p[2] + c) - 252) / 6, 0, 255);
            const auto errorAt = [&](int y) {
                int rgb[3];
                rebuiltTexel(green, y, o, c, rgb);
                const int dr = rgb[0] - p[0], dg = rgb[1] - p[1], db = rgb[2] - p[2];
                return dr * dr + dg * dg + db * db;
            };
            int best = y0, bestError = errorAt(y0);
            for (const int y : {y0 - 1, y0 + 1})
                if (y >= 0 && y <= 255 && errorAt(y) < bestError) {
                    best = y;
                    bestError = errorAt(y);
                }
            target[(row >> 2) * 2 + (col >> 2)][(row & 3) * 4 + (col & 3)] = uint16_t(16 * best);
        }
#endif
}

// How close a tile's luma units and chroma rebuild to the tile's pixels, as
// readers rebuild them (ycocgToRgb; a test checks the whole-number red and
// blue against it on every texel): the squared RGB error, and the mean over
// R, G and B of the tile's SSIM (its 8x8 window, verify's constants).
TileQuality tileQuality(const uint8_t* tile, size_t stride, uint8_t* const luma[4], const uint8_t* chroma)
{
    alignas(16) uint8_t y[4][16], co[16], cg[16];
    for (int blk = 0; blk < 4; ++blk)
        decodeUnit(luma[blk], y[blk]);
    decodeUnit(chroma, co);
    decodeUnit(chroma + 8, cg);
    uint32_t error = 0;
    double ssim = 0;
#if defined(__AVX2__)
    // Rows 2q and 2q + 1 of each rebuilt channel (u) and of the pixels (v),
    // 16 texels in 16-bit lanes.
    __m256i u[3][4], v[3][4];
    const __m128i coBytes = _mm_load_si128(reinterpret_cast<const __m128i*>(co));
    const __m128i cgBytes = _mm_load_si128(reinterpret_cast<const __m128i*>(cg));
    for (int q = 0; q < 4; ++q) {
        // Luma of rows 2q and 2q + 1: four bytes of each 4x4 unit a row.
        const __m128i left = _mm_load_si128(reinterpret_cast<const __m128i*>(y[(q >> 1) * 2]));
        const __m128i right = _mm_load_si128(reinterpret_cast<const __m128i*>(y[(q >> 1) * 2 + 1]));
        const __m256i l =
            _mm256_cvtepu8_epi16(q & 1 ? _mm_unpackhi_epi32(left, right) : _mm_unpacklo_epi32(left, right));
        const __m256i o = chromaRows(coBytes, q), c = chromaRows(cgBytes, q);
        const __m256i zero = _mm256_setzero_si256(), k255 = _mm256_set1_epi16(255);
        u[0][q] = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(_mm256_add_epi16(l, o), c), zero), k255);
        u[1][q] =
            _mm256_permute4x64_epi64(_mm256_packs_epi32(greenOf(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(l)),
                                                                _mm256_cvtepu16_epi32(_mm256_castsi256_si128(c))),
                                                        greenOf(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(l, 1)),
                                                                _mm256_cvtepu16_epi32(_mm256_extracti128_si256(c, 1)))),
                                     _MM_SHUFFLE(3, 1, 2, 0));
        u[2][q] = _mm256_min_epi16(
            _mm256_max_epi16(_mm256_add_epi16(_mm256_sub_epi16(_mm256_sub_epi16(l, o), c), k255), zero), k255);
        __m256i p[3];
        pixelRows(tile, stride, q, p);
        for (int ch = 0; ch < 3; ++ch)
            v[ch][q] = p[ch];
    }
    // Per channel: the plain sums in 16-bit lanes (at most 4 x 255), the
    // squares and products in pairs.
    for (int ch = 0; ch < 3; ++ch) {
        __m256i a = _mm256_setzero_si256(), b = a, aa = a, bb = a, ab = a, e = a;
        for (int q = 0; q < 4; ++q) {
            const __m256i d = _mm256_sub_epi16(u[ch][q], v[ch][q]);
            a = _mm256_add_epi16(a, u[ch][q]);
            b = _mm256_add_epi16(b, v[ch][q]);
            aa = _mm256_add_epi32(aa, _mm256_madd_epi16(u[ch][q], u[ch][q]));
            bb = _mm256_add_epi32(bb, _mm256_madd_epi16(v[ch][q], v[ch][q]));
            ab = _mm256_add_epi32(ab, _mm256_madd_epi16(u[ch][q], v[ch][q]));
            e = _mm256_add_epi32(e, _mm256_madd_epi16(d, d));
        }
        const __m256i ones = _mm256_set1_epi16(1);
        error += sumOfLanes(e);
        ssim += ssimOfSums(sumOfLanes(_mm256_madd_epi16(a, ones)), sumOfLanes(_mm256_madd_epi16(b, ones)),
                           sumOfLanes(aa), sumOfLanes(bb), sumOfLanes(ab), 64);
    }
#else
    const GreenOfLumaAndCg& green = greenOfLumaAndCg();
    // The rebuilt and the source channels in raster order, then sums over
    // them in loops the compiler runs on many pixels at once.
    int16_t rgb[3][64], src[3][64];
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
            const int blk = (row >> 2) * 2 + (col >> 2), k = (row & 3) * 4 + (col & 3), at = row * 8 + col;
            const int l = y[blk][k], o = co[(row >> 1) * 4 + (col >> 1)], c = cg[(row >> 1) * 4 + (col >> 1)];
            int texel[3];
            rebuiltTexel(green, l, o, c, texel);
            for (int ch = 0; ch < 3; ++ch)
                rgb[ch][at] = int16_t(texel[ch]);
            const uint8_t* p = tile + size_t(row) * stride + size_t(col) * 4;
            for (int ch = 0; ch < 3; ++ch)
                src[ch][at] = p[ch];
        }
    for (int ch = 0; ch < 3; ++ch) {
        int32_t a = 0, b = 0, aa = 0, bb = 0, ab = 0, e = 0;
        for (int i = 0; i < 64; ++i) {
            const int16_t u = rgb[ch][i], v = src[ch][i], d = int16_t(u - v);
            a += u, b += v, aa += u * u, bb += v * v, ab += u * v, e += d * d;
        }
        error += uint32_t(e);
        ssim += ssimOfSums(a, b, aa, bb, ab, 64);
    }
#endif
    return {error, ssim / 3};
}

}  // namespace
}  // namespace nox::detail
