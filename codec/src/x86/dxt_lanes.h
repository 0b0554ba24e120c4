// The DXT colour and alpha block encoders with one block per vector lane,
// written once over a thin vector wrapper S and instantiated per
// instruction set (dxt_sse41.cpp: 4 blocks, dxt_avx2.cpp: 8 blocks).
//
// Every lane performs the reference encoder's arithmetic (dxt.cpp): the
// integer steps may be regrouped as long as they give the same integers,
// the float and double steps run in the same order with the same operations
// (IEEE add, mul, div and conversions round the same way in a lane as in a
// scalar register), and the reference's branches become per-lane masks.
// Lanes that would have stopped early keep computing; their results are
// blended away.
//
// S provides, with I a vector of 32-bit integer lanes, F of float lanes and
// D the double lanes of an F:
//   kLanes; set1, set1f, set1d;
//   add, sub, mullo (32-bit), madd (16-bit pairs -> 32),
//   blend16odd (even 16-bit elements of a, odd ones of b);
//   band, bor, bxor, bandnot (~a & b); shl<n>, shr<n>, sar<n>; shrv(a, n)
//     (logical shift by a count that is constant once loops are unrolled);
//   eq, gt, min, max (signed 32-bit), minu8, maxu8 (bytes);
//   blend(m, a, b) = m ? a : b per lane; lanes(m): one bit per lane;
//   bytes(table, idx): byte shuffle within each 16 bytes; table16;
//   lookup(table, idx): table[idx] per lane;
//   toFloat, trunc (toward zero), fadd, fmul, fdiv, fmax, fabs, flt;
//   toDouble, dmul, ddiv, dtrunc;
//   loadGroup(p, stride, px): pixel i of every block of the kLanes blocks
//     that start at p (block b at p + 16b, rows stride bytes apart);
//   store2(out, a, b): 8 bytes per lane (a then b), lanes in order;
//   store4(out, a, b, c, d): 16 bytes per lane.
//
// Only dxt_sse41.cpp and dxt_avx2.cpp include this; everything here has
// internal linkage, so no function compiled for one instruction set can be
// picked up by code built for another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../dxt_tables.h"

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

template <class S>
struct DxtLanes {
    using I = typename S::I;
    using F = typename S::F;
    using D = typename S::D;
    static constexpr int kLanes = S::kLanes;
    static constexpr int kAllLanes = (1 << kLanes) - 1;

    static I k(int32_t v) { return S::set1(v); }

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
        S::loadGroup(p, stride, g.px);
        const I low = k(0x00FF00FF);
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            g.rb[i] = S::band(g.px[i], low);
            g.ga[i] = S::band(S::template shr<8>(g.px[i]), low);
        }
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            g.pr[q] = S::blend16odd(g.rb[2 * q], S::template shl<16>(g.rb[2 * q + 1]));
            g.pg[q] = S::blend16odd(g.ga[2 * q], S::template shl<16>(g.ga[2 * q + 1]));
            g.pb[q] = S::blend16odd(S::template shr<16>(g.rb[2 * q]), g.rb[2 * q + 1]);
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
        return S::bor(S::bor(S::template shl<11>(S::lookup(kMatchedPairs.five, r)),
                             S::template shl<5>(S::lookup(kMatchedPairs.six, g))),
                      S::lookup(kMatchedPairs.five, b));
    }

    // mul8(a, m) of the 5:6:5 conversion: t = a*m + 128, (t + (t >> 8)) >> 8.
    template <int kShift>
    static I mul8(I a)
    {
        const I t = S::add(S::sub(S::template shl<kShift>(a), a), k(128));  // a * (2^kShift - 1) + 128
        return S::template shr<8>(S::add(t, S::template shr<8>(t)));
    }

    static I as565(I px)
    {
        const I ff = k(0xFF);
        const I r = mul8<5>(S::band(px, ff));
        const I g = mul8<6>(S::band(S::template shr<8>(px), ff));
        const I b = mul8<5>(S::band(S::template shr<16>(px), ff));
        return S::bor(S::bor(S::template shl<11>(r), S::template shl<5>(g)), b);
    }

    static I expand5(I x) { return S::bor(S::template shl<3>(x), S::template shr<2>(x)); }
    static I expand6(I x) { return S::bor(S::template shl<2>(x), S::template shr<4>(x)); }
    // x / 3 for 0 <= x < 65536.
    static I div3(I x) { return S::template shr<17>(S::mullo(x, k(0xAAAB))); }

    // The index word of every lane against the palette of its endpoints
    // (max16 | min16 << 16). Equal endpoints give a zero direction, all
    // stops and dots 0, and so index 0 everywhere: the reference's mask = 0.
    static I matchColors(const Group& g, I endpoints)
    {
        const I max16 = S::band(endpoints, k(0xFFFF)), min16 = S::template shr<16>(endpoints);
        const I c5 = k(31), c6 = k(63);
        I c[4][3];
        c[0][0] = expand5(S::template shr<11>(max16));
        c[0][1] = expand6(S::band(S::template shr<5>(max16), c6));
        c[0][2] = expand5(S::band(max16, c5));
        c[1][0] = expand5(S::template shr<11>(min16));
        c[1][1] = expand6(S::band(S::template shr<5>(min16), c6));
        c[1][2] = expand5(S::band(min16, c5));
        I dir[3];
        for (int ch = 0; ch < 3; ++ch) {
            c[2][ch] = div3(S::add(S::add(c[0][ch], c[0][ch]), c[1][ch]));
            c[3][ch] = div3(S::add(S::add(c[1][ch], c[1][ch]), c[0][ch]));
            dir[ch] = S::sub(c[0][ch], c[1][ch]);
        }
        I stops[4];
        for (int s = 0; s < 4; ++s)
            stops[s] = S::add(S::add(S::mullo(c[s][0], dir[0]), S::mullo(c[s][1], dir[1])), S::mullo(c[s][2], dir[2]));
        const I c0Point = S::template sar<1>(S::add(stops[1], stops[3]));
        const I halfPoint = S::template sar<1>(S::add(stops[3], stops[2]));
        const I c3Point = S::template sar<1>(S::add(stops[2], stops[0]));

        // Directions within -255..255 fit the 16-bit halves of the multiply-add.
        const I dirRB = S::bor(S::band(dir[0], k(0xFFFF)), S::template shl<16>(dir[2]));
        const I dirG = S::band(dir[1], k(0xFFFF));
        I mask = S::set1(0);
#pragma GCC unroll 16
        for (int i = 15; i >= 0; --i) {
            const I dot = S::add(S::madd(g.rb[i], dirRB), S::madd(g.ga[i], dirG));
            // Below the half point: 1 (below c0Point) or 3; otherwise 2 (below c3Point) or 0.
            const I low = S::gt(halfPoint, dot);
            const I belowC0 = S::gt(c0Point, dot), belowC3 = S::gt(c3Point, dot);
            const I high = S::bxor(S::blend(low, belowC0, belowC3), low);
            // index = -low - 2*high with the all-ones masks.
            mask = S::sub(S::sub(S::template shl<2>(mask), low), S::add(high, high));
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
        const I first8 = S::bor(S::band(mask, lowHalf), S::band(S::template shl<14>(mask), highHalf));
        const I last8 = S::bor(S::template shr<16>(mask), S::band(S::template shr<2>(mask), highHalf));
        const I pick = k(0x00030003), zeroHigh = k(int32_t(0x80008000u));
        const I weights = S::table16(kWeightOfIndex);
        I at1[3] = {S::set1(0), S::set1(0), S::set1(0)};
        I sumW = S::set1(0), sumW2 = S::set1(0);
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            const I shifted = q < 4 ? S::shrv(first8, 4 * q) : S::shrv(last8, 4 * (q - 4));
            // (w1 of pixel 2q, w1 of pixel 2q+1); bytes 1 and 3 are zeroed by the shuffle.
            const I w = S::bytes(weights, S::bor(S::band(shifted, pick), zeroHigh));
            at1[0] = S::add(at1[0], S::madd(g.pr[q], w));
            at1[1] = S::add(at1[1], S::madd(g.pg[q], w));
            at1[2] = S::add(at1[2], S::madd(g.pb[q], w));
            sumW = S::add(sumW, w);
            sumW2 = S::add(sumW2, S::madd(w, w));
        }
        // At most 8*3 per half of sumW.
        const I w1 = S::add(S::band(sumW, lowHalf), S::template shr<16>(sumW)), w2 = sumW2;
        // The reference's packed products: xx = sum w1^2, yy = sum (3 - w1)^2,
        // xy = sum w1 (3 - w1).
        const I xx = w2;
        const I xy = S::sub(S::add(S::add(w1, w1), w1), w2);
        const I yy = S::add(S::sub(k(144), S::mullo(w1, k(6))), w2);
        I at2[3];
        for (int ch = 0; ch < 3; ++ch)
            at2[ch] = S::sub(S::add(S::add(m.sum[ch], m.sum[ch]), m.sum[ch]), at1[ch]);

        const F frb = S::fdiv(S::set1f(0.36470589f), S::toFloat(S::sub(S::mullo(xx, yy), S::mullo(xy, xy))));
        const F fg = S::fdiv(S::fmul(frb, S::set1f(63.0f)), S::set1f(31.0f));
        const F half = S::set1f(0.5f);
        const I zero = S::set1(0);
        auto channel = [&](I a, I b, I cross, F f, int limit) {
            const F v = S::fadd(S::fmul(S::toFloat(S::sub(S::mullo(a, cross), S::mullo(b, xy))), f), half);
            return S::min(S::max(S::trunc(v), zero), k(limit));
        };
        const I max16 = S::bor(S::bor(S::template shl<11>(channel(at1[0], at2[0], yy, frb, 31)),
                                      S::template shl<5>(channel(at1[1], at2[1], yy, fg, 63))),
                               channel(at1[2], at2[2], yy, frb, 31));
        const I min16 = S::bor(S::bor(S::template shl<11>(channel(at2[0], at1[0], xx, frb, 31)),
                                      S::template shl<5>(channel(at2[1], at1[1], xx, fg, 63))),
                               channel(at2[2], at1[2], xx, frb, 31));
        return S::bor(max16, S::template shl<16>(min16));
    }

    // The colour blocks of a group: endpoints (c0 | c1 << 16) and index words.
    static void encodeColor(const Group& g, I& endpointsOut, I& maskOut)
    {
        I same = S::eq(g.px[1], g.px[0]);
        for (int i = 2; i < 16; ++i)
            same = S::band(same, S::eq(g.px[i], g.px[0]));
        const int constantLanes = S::lanes(same);

        Means m;
        {
            I sRB = g.rb[0], sGA = g.ga[0];
            for (int i = 1; i < 16; ++i) {
                sRB = S::add(sRB, g.rb[i]);
                sGA = S::add(sGA, g.ga[i]);
            }
            // Sums <= 4080 per 16-bit half.
            const I lowHalf = k(0xFFFF);
            m.sum[0] = S::band(sRB, lowHalf);
            m.sum[1] = S::band(sGA, lowHalf);
            m.sum[2] = S::template shr<16>(sRB);
            for (int ch = 0; ch < 3; ++ch)
                m.mu[ch] = S::template shr<4>(S::add(m.sum[ch], k(8)));
        }
        // The constant-colour match of the mean: the endpoints of constant
        // blocks (whose mean is their colour) and of refinements whose
        // indices are all equal. Looked up only when some lane needs it.
        I meanPair = S::set1(0);
        bool haveMeanPair = false;
        auto needMeanPair = [&] {
            if (!haveMeanPair) {
                meanPair = matchedPair(m.mu[0], m.mu[1], m.mu[2]);
                haveMeanPair = true;
            }
        };

        I endpoints = S::set1(0), mask = S::set1(0);
        if (constantLanes != kAllLanes) {
            // Principal axis: covariance (integers), four power iterations
            // (float), scaled to integers (double).
            I mn8, mx8;
            byteRange(g, mn8, mx8);
            const I range = S::sub(mx8, mn8);  // no borrows: every byte of mx8 >= mn8's
            const I ff = k(0xFF);
            F v[3] = {S::toFloat(S::band(range, ff)), S::toFloat(S::band(S::template shr<8>(range), ff)),
                      S::toFloat(S::band(S::template shr<16>(range), ff))};

            // Covariance sums from the raw products: sum (x - mx)(y - my) =
            // sum xy - mx sum y - my sum x + 16 mx my, all exact in 32 bits.
            I rr = S::set1(0), rg = rr, rb = rr, gg = rr, gb = rr, bb = rr;
#pragma GCC unroll 8
            for (int q = 0; q < 8; ++q) {
                const I r = g.pr[q], gr = g.pg[q], b = g.pb[q];
                rr = S::add(rr, S::madd(r, r));
                rg = S::add(rg, S::madd(r, gr));
                rb = S::add(rb, S::madd(r, b));
                gg = S::add(gg, S::madd(gr, gr));
                gb = S::add(gb, S::madd(gr, b));
                bb = S::add(bb, S::madd(b, b));
            }
            auto centre = [&](I xy, int x, int y) {
                const I cross = S::add(S::mullo(m.mu[x], m.sum[y]), S::mullo(m.mu[y], m.sum[x]));
                return S::add(S::sub(xy, cross), S::template shl<4>(S::mullo(m.mu[x], m.mu[y])));
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
            const I axisR = S::blend(luminance, k(299), S::dtrunc(S::dmul(S::toDouble(v[0]), scale)));
            const I axisG = S::blend(luminance, k(587), S::dtrunc(S::dmul(S::toDouble(v[1]), scale)));
            const I axisB = S::blend(luminance, k(114), S::dtrunc(S::dmul(S::toDouble(v[2]), scale)));

            // First pixels with the smallest and the largest projection.
            // Axis components within -512..587 fit the 16-bit halves.
            const I axisRB = S::bor(S::band(axisR, lowHalf), S::template shl<16>(axisB));
            const I axisG0 = S::band(axisG, lowHalf);
            I minDot = S::add(S::madd(g.rb[0], axisRB), S::madd(g.ga[0], axisG0));
            I maxDot = minDot, minPx = g.px[0], maxPx = g.px[0];
#pragma GCC unroll 16
            for (int i = 1; i < 16; ++i) {
                const I dot = S::add(S::madd(g.rb[i], axisRB), S::madd(g.ga[i], axisG0));
                const I below = S::gt(minDot, dot), above = S::gt(dot, maxDot);
                minDot = S::min(minDot, dot);
                maxDot = S::max(maxDot, dot);
                minPx = S::blend(below, g.px[i], minPx);
                maxPx = S::blend(above, g.px[i], maxPx);
            }
            endpoints = S::bor(as565(maxPx), S::template shl<16>(as565(minPx)));
            mask = matchColors(g, endpoints);

            // Two rounds of least squares while a lane's endpoints and
            // indices keep changing.
            I active = S::bandnot(same, k(-1));
            for (int round = 0; round < 2 && S::lanes(active) != 0; ++round) {
                const I lastMask = mask;
                I refined = refineEndpoints(g, m, mask);
                const I x = S::bxor(mask, S::template shl<2>(mask));
                const I allEqual = S::eq(S::band(x, k(~3)), S::set1(0));
                if (S::lanes(S::band(allEqual, active)) != 0) {
                    needMeanPair();
                    refined = S::blend(allEqual, meanPair, refined);
                }
                active = S::bandnot(S::eq(refined, endpoints), active);
                endpoints = S::blend(active, refined, endpoints);
                if (S::lanes(active) == 0)
                    break;
                const I matched = matchColors(g, refined);
                mask = S::blend(active, matched, mask);
                const I collapsed = S::eq(S::band(refined, k(0xFFFF)), S::template shr<16>(refined));
                active = S::bandnot(S::bor(collapsed, S::eq(matched, lastMask)), active);
            }
        }
        if (constantLanes != 0) {
            needMeanPair();
            endpoints = S::blend(same, meanPair, endpoints);
            mask = S::blend(same, k(int32_t(0xAAAAAAAAu)), mask);
        }

        // Four-colour order: c0 > c1, or swap them and exchange the indices.
        const I swap = S::gt(S::template shr<16>(endpoints), S::band(endpoints, k(0xFFFF)));
        endpointsOut =
            S::blend(swap, S::bor(S::template shl<16>(endpoints), S::template shr<16>(endpoints)), endpoints);
        maskOut = S::bxor(mask, S::band(swap, k(0x55555555)));
    }

    // The alpha blocks of a group as two words: max | min << 8 | the first
    // 16 index bits << 16, and the last 32 index bits.
    static void encodeAlpha(const Group& g, I& word0, I& word1)
    {
        I mn = g.ga[0], mx = g.ga[0];
        for (int i = 1; i < 16; ++i) {
            mn = S::min(mn, g.ga[i]);
            mx = S::max(mx, g.ga[i]);
        }
        mn = S::template shr<16>(mn);  // A is the high half of (G, A); G below it never decides
        mx = S::template shr<16>(mx);
        const I dist = S::sub(mx, mn);
        const I narrow = S::gt(k(8), dist);
        const I bias = S::sub(S::blend(narrow, S::sub(dist, k(1)), S::add(S::template shr<1>(dist), k(2))),
                              S::sub(S::template shl<3>(mn), mn));
        const I d1 = S::sub(dist, k(1)), d2 = S::add(dist, dist), d4 = S::add(d2, d2);
        const I d2m1 = S::sub(d2, k(1)), d4m1 = S::sub(d4, k(1));
        const I steps = S::table16(kIndexOfStep);
        const I four = k(4), two = k(2), one = k(1), seven = k(7);
        auto index = [&](int i) {
            const I alpha = S::template shr<16>(g.ga[i]);
            I a = S::add(S::sub(S::template shl<3>(alpha), alpha), bias);
            const I m4 = S::gt(a, d4m1);
            a = S::sub(a, S::band(m4, d4));
            const I m2 = S::gt(a, d2m1);
            a = S::sub(a, S::band(m2, d2));
            const I m1 = S::gt(a, d1);
            const I t = S::bor(S::bor(S::band(m4, four), S::band(m2, two)), S::band(m1, one));
            return S::band(S::bytes(steps, t), seven);
        };
        I first = S::set1(0), last = S::set1(0);
#pragma GCC unroll 16
        for (int i = 7; i >= 0; --i) {
            first = S::bor(S::template shl<3>(first), index(i));
            last = S::bor(S::template shl<3>(last), index(i + 8));
        }
        // Constant alpha: all indices 0.
        const I flat = S::eq(dist, S::set1(0));
        first = S::bandnot(flat, first);
        last = S::bandnot(flat, last);
        word0 = S::bor(S::bor(mx, S::template shl<8>(mn)), S::template shl<16>(first));
        word1 = S::bor(S::template shr<16>(first), S::template shl<8>(last));
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

    template <bool kAlpha>
    static void encodeTexture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
    {
        constexpr size_t kBytes = kAlpha ? 16 : 8;
        const size_t stride = size_t(width) * 4;
        const uint32_t blocksWide = width / 4;
        for (uint32_t y = 0; y + 4 <= height; y += 4) {
            const uint8_t* row = picture + size_t(y) * stride;
            uint32_t bx = 0;
            for (; bx + kLanes <= blocksWide; bx += kLanes, texture += kBytes * kLanes)
                encodeGroup<kAlpha>(row + size_t(bx) * 16, stride, texture);
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
};

}  // namespace
}  // namespace nox::detail
