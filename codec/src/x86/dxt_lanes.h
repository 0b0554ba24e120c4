// The DXT colour and alpha block encoders with one block per 32-bit vector
// element, written once over a vector wrapper S and instantiated per
// instruction set (dxt_sse41.cpp: 4 blocks, dxt_avx2.cpp: 8 blocks,
// dxt_avx512.cpp: 16 blocks).
//
// Every lane performs the reference encoder's arithmetic (dxt.cpp): the
// integer steps may be regrouped as long as they give the same integers,
// the float and double steps run in the same order with the same operations
// (IEEE add, mul, div and conversions round the same way in a lane as in a
// scalar register), and the reference's branches become per-lane masks.
// Lanes that would have stopped early keep computing; their results are
// blended away.
//
// S is the level's wrapper from core/x86 (sse41.h, avx2.h, avx512.h; the
// operations are described in sse41.h) with three of this encoder's own:
//   loadRow(row, px): pixel i of a row of every block of the kLanes blocks
//     whose rows start at row (block b at row + 16b), in px[i], i < 4;
//   store2(out, a, b): 8 bytes per lane (a then b), lanes in order;
//   store4(out, a, b, c, d): 16 bytes per lane.
// transpose4 below serves the levels whose vectors hold 128-bit lanes of
// four blocks' pixels.
//
// Only the dxt_*.cpp files of the wide levels include this; everything here
// has internal linkage, so no function compiled for one instruction set can
// be picked up by code built for another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../dxt_internal.h"
#include "../dxt_tables.h"
#include "left_rows.h"

namespace nox::detail {
namespace {

// The endpoint pairs of the constant-colour match per 8-bit value, hi in the
// low half and lo in the high half, so that (five[r] << 11) | (six[g] << 5)
// | five[b] is max16 | min16 << 16.
struct MatchedPairs {
    uint32_t five[256];
    uint32_t six[256];
};

constexpr MatchedPairs makeMatchedPairs()
{
    MatchedPairs t{};
    for (int v = 0; v < 256; ++v) {
        t.five[v] = uint32_t(kOMatch5[v][0]) | uint32_t(kOMatch5[v][1]) << 16;
        t.six[v] = uint32_t(kOMatch6[v][0]) | uint32_t(kOMatch6[v][1]) << 16;
    }
    return t;
}

constexpr MatchedPairs kMatchedPairs = makeMatchedPairs();

// w1 = (3, 0, 2, 1)[index] of the least-squares weights, by byte shuffle.
alignas(16) constexpr uint8_t kWeightOfIndex[16] = {3, 0, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// The alpha index of a step up the ramp from the minimum.
alignas(16) constexpr uint8_t kIndexOfStep[16] = {1, 7, 6, 5, 4, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The 4x4 transpose of 32-bit elements within each 128-bit lane: element j
// of a, b, c and d becomes vector j's elements 0..3.
template <class S>
inline void transpose4(typename S::V& a, typename S::V& b, typename S::V& c, typename S::V& d)
{
    using V = typename S::V;
    const V t0 = S::unpacklo32(a, b), t1 = S::unpacklo32(c, d);
    const V t2 = S::unpackhi32(a, b), t3 = S::unpackhi32(c, d);
    a = S::unpacklo64(t0, t1);
    b = S::unpackhi64(t0, t1);
    c = S::unpacklo64(t2, t3);
    d = S::unpackhi64(t2, t3);
}

template <class S>
struct DxtLanes {
    using I = typename S::V;
    using F = typename S::F;
    using D = typename S::D;
    static constexpr int kLanes = S::kVectorBytes / 4;
    static constexpr int kAllLanes = (1 << kLanes) - 1;

    static I k(int32_t v) { return S::set32(v); }
    // m ? a : b per lane, for masks of all-ones or zero lanes.
    static I blend(I m, I a, I b) { return S::blendv(b, a, m); }

    // A group of blocks: every pixel as RGBA bytes, split into 16-bit halves
    // (R, B) and (G, A), and the channels of pixel pairs (2p, 2p + 1) in the
    // halves of pr, pg, pb for the multiply-adds over two pixels.
    struct Group {
        I px[16];
        I rb[16];
        I ga[16];
        I pr[8], pg[8], pb[8];
    };

    static void load(Group& g, const uint8_t* p, size_t stride)
    {
        for (int j = 0; j < 4; ++j)
            S::loadRow(p + size_t(j) * stride, g.px + 4 * j);
        const I low = k(0x00FF00FF);
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            g.rb[i] = S::and_(g.px[i], low);
            g.ga[i] = S::and_(S::template srli32<8>(g.px[i]), low);
        }
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            g.pr[q] = S::blendOdd16(g.rb[2 * q], S::template slli32<16>(g.rb[2 * q + 1]));
            g.pg[q] = S::blendOdd16(g.ga[2 * q], S::template slli32<16>(g.ga[2 * q + 1]));
            g.pb[q] = S::blendOdd16(S::template srli32<16>(g.rb[2 * q]), g.rb[2 * q + 1]);
        }
    }

    // Per-byte minimum and maximum over the sixteen pixels.
    static void byteRange(const Group& g, I& mn, I& mx)
    {
        mn = mx = g.px[0];
        for (int i = 1; i < 16; ++i) {
            mn = S::minu8(mn, g.px[i]);
            mx = S::maxu8(mx, g.px[i]);
        }
    }

    // max16 | min16 << 16 of the constant-colour match of (r, g, b).
    static I matchedPair(I r, I g, I b)
    {
        return S::or_(S::or_(S::template slli32<11>(S::gather32(kMatchedPairs.five, r)),
                             S::template slli32<5>(S::gather32(kMatchedPairs.six, g))),
                      S::gather32(kMatchedPairs.five, b));
    }

    // mul8(a, m) of the 5:6:5 conversion: t = a*m + 128, (t + (t >> 8)) >> 8.
    template <int kShift>
    static I mul8(I a)
    {
        const I t = S::add32(S::sub32(S::template slli32<kShift>(a), a), k(128));  // a * (2^kShift - 1) + 128
        return S::template srli32<8>(S::add32(t, S::template srli32<8>(t)));
    }

    static I as565(I px)
    {
        const I ff = k(0xFF);
        const I r = mul8<5>(S::and_(px, ff));
        const I g = mul8<6>(S::and_(S::template srli32<8>(px), ff));
        const I b = mul8<5>(S::and_(S::template srli32<16>(px), ff));
        return S::or_(S::or_(S::template slli32<11>(r), S::template slli32<5>(g)), b);
    }

    static I expand5(I x) { return S::or_(S::template slli32<3>(x), S::template srli32<2>(x)); }
    static I expand6(I x) { return S::or_(S::template slli32<2>(x), S::template srli32<4>(x)); }
    // x / 3 for 0 <= x < 65536.
    static I div3(I x) { return S::template srli32<17>(S::mullo32(x, k(0xAAAB))); }

    // The index word of every lane against the palette of its endpoints
    // (max16 | min16 << 16). Equal endpoints give a zero direction, all
    // stops and dots 0, and so index 0 everywhere: the reference's mask = 0.
    static I matchColors(const Group& g, I endpoints)
    {
        const I max16 = S::and_(endpoints, k(0xFFFF)), min16 = S::template srli32<16>(endpoints);
        const I c5 = k(31), c6 = k(63);
        I c[4][3];
        c[0][0] = expand5(S::template srli32<11>(max16));
        c[0][1] = expand6(S::and_(S::template srli32<5>(max16), c6));
        c[0][2] = expand5(S::and_(max16, c5));
        c[1][0] = expand5(S::template srli32<11>(min16));
        c[1][1] = expand6(S::and_(S::template srli32<5>(min16), c6));
        c[1][2] = expand5(S::and_(min16, c5));
        I dir[3];
        for (int ch = 0; ch < 3; ++ch) {
            c[2][ch] = div3(S::add32(S::add32(c[0][ch], c[0][ch]), c[1][ch]));
            c[3][ch] = div3(S::add32(S::add32(c[1][ch], c[1][ch]), c[0][ch]));
            dir[ch] = S::sub32(c[0][ch], c[1][ch]);
        }
        I stops[4];
        for (int s = 0; s < 4; ++s)
            stops[s] = S::add32(S::add32(S::mullo32(c[s][0], dir[0]), S::mullo32(c[s][1], dir[1])),
                                S::mullo32(c[s][2], dir[2]));
        const I c0Point = S::template srai32<1>(S::add32(stops[1], stops[3]));
        const I halfPoint = S::template srai32<1>(S::add32(stops[3], stops[2]));
        const I c3Point = S::template srai32<1>(S::add32(stops[2], stops[0]));

        // Directions within -255..255 fit the 16-bit halves of the multiply-add.
        const I dirRB = S::or_(S::and_(dir[0], k(0xFFFF)), S::template slli32<16>(dir[2]));
        const I dirG = S::and_(dir[1], k(0xFFFF));
        I mask = S::set32(0);
#pragma GCC unroll 16
        for (int i = 15; i >= 0; --i) {
            const I dot = S::add32(S::madd16(g.rb[i], dirRB), S::madd16(g.ga[i], dirG));
            // Below the half point: 1 (below c0Point) or 3; otherwise 2 (below c3Point) or 0.
            const I low = S::cmpgt32(halfPoint, dot);
            const I belowC0 = S::cmpgt32(c0Point, dot), belowC3 = S::cmpgt32(c3Point, dot);
            const I high = S::xor_(blend(low, belowC0, belowC3), low);
            // index = -low - 2*high with the all-ones masks.
            mask = S::sub32(S::sub32(S::template slli32<2>(mask), low), S::add32(high, high));
        }
        return mask;
    }

    // Per-lane sums and means of R, G, B.
    struct Means {
        I sum[3];
        I mu[3];
    };

    // The least-squares endpoints for the index words in mask (the float
    // part of the reference's refine), max16 | min16 << 16. Lanes whose
    // sixteen indices are all equal get garbage; the caller replaces them.
    static I refineEndpoints(const Group& g, const Means& m, I mask)
    {
        // Pixel 2q's index in the low half and pixel 2q+1's in the high
        // half, for q < 4 after a shift by 4q (q >= 4: by 4(q - 4)).
        const I lowHalf = k(0xFFFF), highHalf = k(int32_t(0xFFFF0000u));
        const I first8 = S::or_(S::and_(mask, lowHalf), S::and_(S::template slli32<14>(mask), highHalf));
        const I last8 = S::or_(S::template srli32<16>(mask), S::and_(S::template srli32<2>(mask), highHalf));
        const I pick = k(0x00030003), zeroHigh = k(int32_t(0x80008000u));
        const I weights = S::broadcast128(kWeightOfIndex);
        I at1[3] = {S::set32(0), S::set32(0), S::set32(0)};
        I sumW = S::set32(0), sumW2 = S::set32(0);
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            const I shifted = q < 4 ? S::srl32(first8, 4 * q) : S::srl32(last8, 4 * (q - 4));
            // (w1 of pixel 2q, w1 of pixel 2q+1); bytes 1 and 3 are zeroed by the shuffle.
            const I w = S::shuffle8(weights, S::or_(S::and_(shifted, pick), zeroHigh));
            at1[0] = S::add32(at1[0], S::madd16(g.pr[q], w));
            at1[1] = S::add32(at1[1], S::madd16(g.pg[q], w));
            at1[2] = S::add32(at1[2], S::madd16(g.pb[q], w));
            sumW = S::add32(sumW, w);
            sumW2 = S::add32(sumW2, S::madd16(w, w));
        }
        // At most 8*3 per half of sumW.
        const I w1 = S::add32(S::and_(sumW, lowHalf), S::template srli32<16>(sumW)), w2 = sumW2;
        // The reference's packed products: xx = sum w1^2, yy = sum (3 - w1)^2,
        // xy = sum w1 (3 - w1).
        const I xx = w2;
        const I xy = S::sub32(S::add32(S::add32(w1, w1), w1), w2);
        const I yy = S::add32(S::sub32(k(144), S::mullo32(w1, k(6))), w2);
        I at2[3];
        for (int ch = 0; ch < 3; ++ch)
            at2[ch] = S::sub32(S::add32(S::add32(m.sum[ch], m.sum[ch]), m.sum[ch]), at1[ch]);

        const F frb = S::fdiv(S::set1f(0.36470589f), S::toFloat(S::sub32(S::mullo32(xx, yy), S::mullo32(xy, xy))));
        const F fg = S::fdiv(S::fmul(frb, S::set1f(63.0f)), S::set1f(31.0f));
        const F half = S::set1f(0.5f);
        const I zero = S::set32(0);
        auto channel = [&](I a, I b, I cross, F f, int limit) {
            const F v = S::fadd(S::fmul(S::toFloat(S::sub32(S::mullo32(a, cross), S::mullo32(b, xy))), f), half);
            return S::min32(S::max32(S::trunc(v), zero), k(limit));
        };
        const I max16 = S::or_(S::or_(S::template slli32<11>(channel(at1[0], at2[0], yy, frb, 31)),
                                      S::template slli32<5>(channel(at1[1], at2[1], yy, fg, 63))),
                               channel(at1[2], at2[2], yy, frb, 31));
        const I min16 = S::or_(S::or_(S::template slli32<11>(channel(at2[0], at1[0], xx, frb, 31)),
                                      S::template slli32<5>(channel(at2[1], at1[1], xx, fg, 63))),
                               channel(at2[2], at1[2], xx, frb, 31));
        return S::or_(max16, S::template slli32<16>(min16));
    }

    // The colour blocks of a group: endpoints (c0 | c1 << 16) and index words.
    static void encodeColor(const Group& g, I& endpointsOut, I& maskOut)
    {
        I same = S::cmpeq32(g.px[1], g.px[0]);
        for (int i = 2; i < 16; ++i)
            same = S::and_(same, S::cmpeq32(g.px[i], g.px[0]));
        const int constantLanes = S::movemask32(same);

        Means m;
        {
            I sRB = g.rb[0], sGA = g.ga[0];
            for (int i = 1; i < 16; ++i) {
                sRB = S::add32(sRB, g.rb[i]);
                sGA = S::add32(sGA, g.ga[i]);
            }
            // Sums <= 4080 per 16-bit half.
            const I lowHalf = k(0xFFFF);
            m.sum[0] = S::and_(sRB, lowHalf);
            m.sum[1] = S::and_(sGA, lowHalf);
            m.sum[2] = S::template srli32<16>(sRB);
            for (int ch = 0; ch < 3; ++ch)
                m.mu[ch] = S::template srli32<4>(S::add32(m.sum[ch], k(8)));
        }
        // The constant-colour match of the mean: the endpoints of constant
        // blocks (whose mean is their colour) and of refinements whose
        // indices are all equal. Looked up only when some lane needs it.
        I meanPair = S::set32(0);
        bool haveMeanPair = false;
        auto needMeanPair = [&] {
            if (!haveMeanPair) {
                meanPair = matchedPair(m.mu[0], m.mu[1], m.mu[2]);
                haveMeanPair = true;
            }
        };

        I endpoints = S::set32(0), mask = S::set32(0);
        if (constantLanes != kAllLanes) {
            // Principal axis: covariance (integers), four power iterations
            // (float), scaled to integers (double).
            I mn8, mx8;
            byteRange(g, mn8, mx8);
            const I range = S::sub32(mx8, mn8);  // no borrows: every byte of mx8 >= mn8's
            const I ff = k(0xFF);
            F v[3] = {S::toFloat(S::and_(range, ff)), S::toFloat(S::and_(S::template srli32<8>(range), ff)),
                      S::toFloat(S::and_(S::template srli32<16>(range), ff))};

            // Covariance sums from the raw products: sum (x - mx)(y - my) =
            // sum xy - mx sum y - my sum x + 16 mx my, all exact in 32 bits.
            I rr = S::set32(0), rg = rr, rb = rr, gg = rr, gb = rr, bb = rr;
#pragma GCC unroll 8
            for (int q = 0; q < 8; ++q) {
                const I r = g.pr[q], gr = g.pg[q], b = g.pb[q];
                rr = S::add32(rr, S::madd16(r, r));
                rg = S::add32(rg, S::madd16(r, gr));
                rb = S::add32(rb, S::madd16(r, b));
                gg = S::add32(gg, S::madd16(gr, gr));
                gb = S::add32(gb, S::madd16(gr, b));
                bb = S::add32(bb, S::madd16(b, b));
            }
            auto centre = [&](I xy, int x, int y) {
                const I cross = S::add32(S::mullo32(m.mu[x], m.sum[y]), S::mullo32(m.mu[y], m.sum[x]));
                return S::add32(S::sub32(xy, cross), S::template slli32<4>(S::mullo32(m.mu[x], m.mu[y])));
            };
            rr = centre(rr, 0, 0);
            rg = centre(rg, 0, 1);
            rb = centre(rb, 0, 2);
            gg = centre(gg, 1, 1);
            gb = centre(gb, 1, 2);
            bb = centre(bb, 2, 2);
            const I lowHalf = k(0xFFFF);
            const F d255 = S::set1f(255.0f);
            const F c[6] = {S::fdiv(S::toFloat(rr), d255), S::fdiv(S::toFloat(rg), d255),
                            S::fdiv(S::toFloat(rb), d255), S::fdiv(S::toFloat(gg), d255),
                            S::fdiv(S::toFloat(gb), d255), S::fdiv(S::toFloat(bb), d255)};
            for (int iter = 0; iter < 4; ++iter) {
                const F r = S::fadd(S::fadd(S::fmul(v[0], c[0]), S::fmul(v[1], c[1])), S::fmul(v[2], c[2]));
                const F gr = S::fadd(S::fadd(S::fmul(v[0], c[1]), S::fmul(v[1], c[3])), S::fmul(v[2], c[4]));
                const F b = S::fadd(S::fadd(S::fmul(v[0], c[2]), S::fmul(v[1], c[4])), S::fmul(v[2], c[5]));
                v[0] = r;
                v[1] = gr;
                v[2] = b;
            }
            // Float to double is exact, so the largest magnitude and its
            // comparison with 4 come out the same in float.
            const F magn = S::fmax(S::fmax(S::fabs(v[0]), S::fabs(v[1])), S::fabs(v[2]));
            const I luminance = S::flt(magn, S::set1f(4.0f));
            const D scale = S::ddiv(S::set1d(512.0), S::toDouble(magn));
            const I axisR = blend(luminance, k(299), S::dtrunc(S::dmul(S::toDouble(v[0]), scale)));
            const I axisG = blend(luminance, k(587), S::dtrunc(S::dmul(S::toDouble(v[1]), scale)));
            const I axisB = blend(luminance, k(114), S::dtrunc(S::dmul(S::toDouble(v[2]), scale)));

            // First pixels with the smallest and the largest projection.
            // Axis components within -512..587 fit the 16-bit halves.
            const I axisRB = S::or_(S::and_(axisR, lowHalf), S::template slli32<16>(axisB));
            const I axisG0 = S::and_(axisG, lowHalf);
            I minDot = S::add32(S::madd16(g.rb[0], axisRB), S::madd16(g.ga[0], axisG0));
            I maxDot = minDot, minPx = g.px[0], maxPx = g.px[0];
#pragma GCC unroll 16
            for (int i = 1; i < 16; ++i) {
                const I dot = S::add32(S::madd16(g.rb[i], axisRB), S::madd16(g.ga[i], axisG0));
                const I below = S::cmpgt32(minDot, dot), above = S::cmpgt32(dot, maxDot);
                minDot = S::min32(minDot, dot);
                maxDot = S::max32(maxDot, dot);
                minPx = blend(below, g.px[i], minPx);
                maxPx = blend(above, g.px[i], maxPx);
            }
            endpoints = S::or_(as565(maxPx), S::template slli32<16>(as565(minPx)));
            mask = matchColors(g, endpoints);

            // Two rounds of least squares while a lane's endpoints and
            // indices keep changing.
            I active = S::andnot(same, k(-1));
            for (int round = 0; round < 2 && S::movemask32(active) != 0; ++round) {
                const I lastMask = mask;
                I refined = refineEndpoints(g, m, mask);
                const I x = S::xor_(mask, S::template slli32<2>(mask));
                const I allEqual = S::cmpeq32(S::and_(x, k(~3)), S::set32(0));
                if (S::movemask32(S::and_(allEqual, active)) != 0) {
                    needMeanPair();
                    refined = blend(allEqual, meanPair, refined);
                }
                active = S::andnot(S::cmpeq32(refined, endpoints), active);
                endpoints = blend(active, refined, endpoints);
                if (S::movemask32(active) == 0)
                    break;
                const I matched = matchColors(g, refined);
                mask = blend(active, matched, mask);
                const I collapsed = S::cmpeq32(S::and_(refined, k(0xFFFF)), S::template srli32<16>(refined));
                active = S::andnot(S::or_(collapsed, S::cmpeq32(matched, lastMask)), active);
            }
        }
        if (constantLanes != 0) {
            needMeanPair();
            endpoints = blend(same, meanPair, endpoints);
            mask = blend(same, k(int32_t(0xAAAAAAAAu)), mask);
        }

        // Four-colour order: c0 > c1, or swap them and exchange the indices.
        const I swap = S::cmpgt32(S::template srli32<16>(endpoints), S::and_(endpoints, k(0xFFFF)));
        endpointsOut =
            blend(swap, S::or_(S::template slli32<16>(endpoints), S::template srli32<16>(endpoints)), endpoints);
        maskOut = S::xor_(mask, S::and_(swap, k(0x55555555)));
    }

    // The alpha blocks of a group as two words: max | min << 8 | the first
    // 16 index bits << 16, and the last 32 index bits.
    static void encodeAlpha(const Group& g, I& word0, I& word1)
    {
        I mn = g.ga[0], mx = g.ga[0];
        for (int i = 1; i < 16; ++i) {
            mn = S::min32(mn, g.ga[i]);
            mx = S::max32(mx, g.ga[i]);
        }
        mn = S::template srli32<16>(mn);  // A is the high half of (G, A); G below it never decides
        mx = S::template srli32<16>(mx);
        const I dist = S::sub32(mx, mn);
        const I narrow = S::cmpgt32(k(8), dist);
        const I bias = S::sub32(blend(narrow, S::sub32(dist, k(1)), S::add32(S::template srli32<1>(dist), k(2))),
                                S::sub32(S::template slli32<3>(mn), mn));
        const I d1 = S::sub32(dist, k(1)), d2 = S::add32(dist, dist), d4 = S::add32(d2, d2);
        const I d2m1 = S::sub32(d2, k(1)), d4m1 = S::sub32(d4, k(1));
        const I steps = S::broadcast128(kIndexOfStep);
        const I four = k(4), two = k(2), one = k(1), seven = k(7);
        auto index = [&](int i) {
            const I alpha = S::template srli32<16>(g.ga[i]);
            I a = S::add32(S::sub32(S::template slli32<3>(alpha), alpha), bias);
            const I m4 = S::cmpgt32(a, d4m1);
            a = S::sub32(a, S::and_(m4, d4));
            const I m2 = S::cmpgt32(a, d2m1);
            a = S::sub32(a, S::and_(m2, d2));
            const I m1 = S::cmpgt32(a, d1);
            const I t = S::or_(S::or_(S::and_(m4, four), S::and_(m2, two)), S::and_(m1, one));
            return S::and_(S::shuffle8(steps, t), seven);
        };
        I first = S::set32(0), last = S::set32(0);
#pragma GCC unroll 16
        for (int i = 7; i >= 0; --i) {
            first = S::or_(S::template slli32<3>(first), index(i));
            last = S::or_(S::template slli32<3>(last), index(i + 8));
        }
        // Constant alpha: all indices 0.
        const I flat = S::cmpeq32(dist, S::set32(0));
        first = S::andnot(flat, first);
        last = S::andnot(flat, last);
        word0 = S::or_(S::or_(mx, S::template slli32<8>(mn)), S::template slli32<16>(first));
        word1 = S::or_(S::template srli32<16>(first), S::template slli32<8>(last));
    }

    // One group of kLanes blocks starting at p; writes 8 (DXT1) or 16 (DXT5)
    // bytes per block.
    template <bool kAlpha>
    static void encodeGroup(const uint8_t* p, size_t stride, uint8_t* out)
    {
        Group g;
        load(g, p, stride);
        I endpoints, mask;
        encodeColor(g, endpoints, mask);
        if (kAlpha) {
            I a0, a1;
            encodeAlpha(g, a0, a1);
            S::store4(out, a0, a1, endpoints, mask);
        } else {
            S::store2(out, endpoints, mask);
        }
    }

    // Copies `count` blocks (count < kLanes) into a full group, repeating the
    // last one, so the tail of a block row runs through the same code.
    struct Tail {
        alignas(64) uint8_t rows[4][16 * kLanes];
        alignas(64) uint8_t out[16 * kLanes];
    };

    static void fillTail(Tail& t, const uint8_t* p, size_t stride, uint32_t count)
    {
        for (int j = 0; j < 4; ++j) {
            const uint8_t* row = p + size_t(j) * stride;
            for (uint32_t b = 0; b < uint32_t(kLanes); ++b)
                std::memcpy(t.rows[j] + 16 * b, row + 16 * (b < count ? b : count - 1), 16);
        }
    }

    // A group whose pixels are those of the group to its left (flat colour,
    // and a still or no matte) takes its bytes: blocks are coded each on
    // its own, so the bytes are the same. Every byte is compared: DXT1's
    // colour too comes out other where only the alpha differs.
    template <bool kAlpha>
    static void encodeTexture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
    {
        constexpr size_t kBytes = kAlpha ? 16 : 8;
        const size_t stride = size_t(width) * 4;
        const uint32_t blocksWide = width / 4;
        for (uint32_t y = 0; y + 4 <= height; y += 4) {
            const uint8_t* row = picture + size_t(y) * stride;
            uint32_t bx = 0;
            for (; bx + kLanes <= blocksWide; bx += kLanes, texture += kBytes * kLanes) {
                const uint8_t* p = row + size_t(bx) * 16;
                if (bx > 0 && !anyIn<S>(differenceFromLeftRows<S>(p, stride, 4, 16 * kLanes, -1), -1))
                    std::memcpy(texture, texture - kBytes * kLanes, kBytes * kLanes);
                else
                    encodeGroup<kAlpha>(p, stride, texture);
            }
            if (bx < blocksWide) {
                Tail t;
                const uint32_t count = blocksWide - bx;
                fillTail(t, row + size_t(bx) * 16, stride, count);
                encodeGroup<kAlpha>(t.rows[0], sizeof t.rows[0], t.out);
                std::memcpy(texture, t.out, kBytes * count);
                texture += kBytes * count;
            }
        }
    }

    static constexpr LaneEncoders kEncoders = {&encodeTexture<false>, &encodeTexture<true>};
};

}  // namespace
}  // namespace nox::detail
