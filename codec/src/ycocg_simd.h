// Wide paths of the YCoCg encoders, shared by the SSE4.1 and AVX2 levels.
//
// A vector of 16-bit lanes holds one row of several 4x4 blocks side by side
// (four lanes per block, one 64-bit slot per block), so the four rows of a
// block row fill four vectors and every per-block step (minimum, maximum,
// endpoints, ramp indices) runs on all its blocks at once; at the end each
// 64-bit slot holds the block's 8 bytes. The slot order of a vector follows
// the 128-bit lanes of the horizontal adds; the stores put it right.
//
// The picture is walked in units of kSlots tiles (8 * kSlots pixels wide, 8
// rows high). A last partial unit is done again as a full unit ending at the
// right edge: tiles are independent, so the overlap rewrites equal bytes.
//
// Everything here has internal linkage: each instruction-set file compiles
// its own copy with its own flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "x86/left_rows.h"

namespace nox::detail {

// The unit loops of the levels that have one (YcocgUnits<W>::encode); they
// return false (nothing written) when the picture is narrower than one unit
// and the caller takes the tile loop.
using YcocgUnitLoop = bool (*)(const uint8_t* picture, uint32_t width, uint32_t height, bool withAlpha, uint8_t* luma,
                               uint8_t* chroma);
extern const YcocgUnitLoop kSse41YcocgUnits;
extern const YcocgUnitLoop kAvx2YcocgUnits;

namespace {

// Which value domain a block is coded in.
enum class Ramp { Luma, Chroma, Alpha };

// W is the level's wrapper from core/x86 (sse41.h, avx2.h) with two steps of
// this encoder's own: storeBlocks(p, v) stores a vector of block bytes with
// its slots in picture order, tileOrder(v) puts a chroma row's groups in the
// order of the tiles.
template <class W>
struct YcocgUnits {
    using V = typename W::V;
    // Blocks per vector (one 64-bit slot each), pixels per load.
    static constexpr size_t kSlots = W::kVectorBytes / 8;
    static constexpr size_t kPixels = W::kVectorBytes / 4;

    // Eight block bytes per slot from four rows of values.
    template <Ramp kRamp>
    static V encodeBlocks(const V rows[4])
    {
        // Minimum and maximum per slot: across the rows, then across the
        // four lanes of each slot, which leaves them in every lane.
        V mn = W::min16(W::min16(rows[0], rows[1]), W::min16(rows[2], rows[3]));
        V mx = W::max16(W::max16(rows[0], rows[1]), W::max16(rows[2], rows[3]));
        mn = W::min16(mn, W::template shuffle32<0xB1>(mn));
        mx = W::max16(mx, W::template shuffle32<0xB1>(mx));
        mn = W::min16(mn, W::template shuffle16<0xB1>(mn));
        mx = W::max16(mx, W::template shuffle16<0xB1>(mx));

        V e0, e1, d, bias;
        if constexpr (kRamp == Ramp::Luma) {
            e0 = W::template srli16<4>(W::add16(mx, W::set16(15)));
            e1 = W::template srli16<4>(mn);
            d = W::template slli16<4>(W::sub16(e0, e1));
            bias = W::sub16(W::add16(W::template srli16<1>(d), W::set16(2)), W::mullo16(e1, W::set16(112)));
        } else if constexpr (kRamp == Ramp::Chroma) {
            e0 = W::template srli16<1>(W::add16(mx, W::set16(1)));
            e1 = W::template srli16<1>(mn);
            const V diff = W::sub16(e0, e1);
            d = W::add16(diff, diff);
            bias = W::sub16(W::add16(diff, W::set16(2)), W::mullo16(e1, W::set16(14)));
        } else {
            e0 = mx;
            e1 = mn;
            d = W::sub16(mx, mn);
            // Narrow ramps (d < 8) centre differently.
            const V narrow = W::cmpgt16(W::set16(8), d);
            const V base = W::blendv(W::add16(W::template srli16<1>(d), W::set16(2)), W::sub16(d, W::set16(1)), narrow);
            bias = W::sub16(base, W::mullo16(e1, W::set16(7)));
        }

        // Ramp step t = min(a / d, 7) by three compares, as in the scalar
        // code; a, d, 2d and 4d all stay within 16 signed bits.
        const V one = W::set16(1);
        const V d2 = W::add16(d, d), d4 = W::add16(d2, d2);
        const V dm1 = W::sub16(d, one), d2m1 = W::sub16(d2, one), d4m1 = W::sub16(d4, one);
        V m4[4], m2[4], m1[4];
        for (int r = 0; r < 4; ++r) {
            V a = W::add16(W::mullo16(rows[r], W::set16(7)), bias);
            m4[r] = W::cmpgt16(a, d4m1);
            a = W::sub16(a, W::and_(m4[r], d4));
            m2[r] = W::cmpgt16(a, d2m1);
            a = W::sub16(a, W::and_(m2[r], d2));
            m1[r] = W::cmpgt16(a, dm1);
        }
        // Rows 0 and 1, and rows 2 and 3, packed to bytes: per 128-bit lane
        // the first slot's row, the second slot's row, then the next rows.
        V words[2];
        for (int h = 0; h < 2; ++h) {
            const V t = W::or_(W::or_(W::and_(W::packs16(m4[2 * h], m4[2 * h + 1]), W::set8(4)),
                                      W::and_(W::packs16(m2[2 * h], m2[2 * h + 1]), W::set8(2))),
                               W::and_(W::packs16(m1[2 * h], m1[2 * h + 1]), W::set8(1)));
            // Step to index (1, 7, 6, 5, 4, 3, 2, 0), then 3-bit fields joined
            // to 6 and 12 bits: one 12-bit row per 32-bit lane.
            const V index = W::shuffle8(W::bytes16(1, 7, 6, 5, 4, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0), t);
            words[h] = W::madd16(W::maddubs(index, W::set16(1 | 8 << 8)), W::set32(1 | 64 << 16));
        }
        // Rows back to 16 bits, ordered row 0..3 per slot, joined to 24-bit
        // halves, then the two halves of a slot to 48 bits: lo + hi * 2^24
        // is lo + hi * 2^32 minus hi * (2^32 - 2^24).
        const V rowsBySlot = W::shuffle8(W::packs32(words[0], words[1]),
                                         W::bytes16(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15));
        const V halves = W::madd16(rowsBySlot, W::set32(1 | 4096 << 16));
        const V bits = W::sub64(halves, W::mulu32(W::template srli64<32>(halves), W::set64(0xFF000000u)));

        // Endpoints in bytes 0 and 1; no index bits when they are equal.
        const V equal = W::cmpeq16(e0, e1);
        const V endpoints = W::and_(W::or_(e0, W::template slli16<8>(e1)), W::set64(0xFFFF));
        return W::or_(W::andnot(equal, W::template slli64<16>(bits)), endpoints);
    }

    // Luma 4*(R + 2G + B) of one block row segment: 2 * kPixels pixels, one
    // slot per 4 pixels.
    static V lumaRow(const uint8_t* p)
    {
        const V k = W::set32(4 | 8 << 8 | 4 << 16);
        return W::hadd16(W::maddubs(W::load(p), k), W::maddubs(W::load(p + 4 * kPixels), k));
    }
    static V alphaRow(const uint8_t* p)
    {
        return W::packus32(W::template srli32<24>(W::load(p)), W::template srli32<24>(W::load(p + 4 * kPixels)));
    }

    // The luma or alpha blocks of kSlots blocks whose top-left pixel is at q.
    template <Ramp kRamp>
    static V blocksAt(const uint8_t* q, size_t stride)
    {
        V rows[4];
        for (int r = 0; r < 4; ++r)
            rows[r] = kRamp == Ramp::Alpha ? alphaRow(q + size_t(r) * stride) : lumaRow(q + size_t(r) * stride);
        return encodeBlocks<kRamp>(rows);
    }

    // f(q, dst) for the luma (and alpha) blocks of a unit at p: two block
    // rows of two groups of kSlots blocks, each group's top-left pixel and
    // where its bytes go.
    template <size_t kUnitBytes, class F>
    static void forEachGroup(const uint8_t* p, size_t stride, uint8_t* luma0, uint8_t* luma1, F&& f)
    {
        for (int br = 0; br < 2; ++br)
            for (size_t g = 0; g < 2; ++g)
                f(p + size_t(br) * 4 * stride + g * 16 * kSlots, (br ? luma1 : luma0) + g * kSlots * kUnitBytes);
    }

    // One unit: kSlots tiles whose top-left pixel is at p.
    template <bool kAlpha>
    static void encodeUnit(const uint8_t* p, size_t stride, uint8_t* luma0, uint8_t* luma1, uint8_t* chroma)
    {
        forEachGroup<kAlpha ? 16 : 8>(p, stride, luma0, luma1, [&](const uint8_t* q, uint8_t* dst) {
            const V l = blocksAt<Ramp::Luma>(q, stride);
            if constexpr (kAlpha) {
                const V a = blocksAt<Ramp::Alpha>(q, stride);
                W::store(dst, W::unpacklo64(l, a));
                W::store(dst + sizeof(V), W::unpackhi64(l, a));
            } else {
                W::storeBlocks(dst, l);
            }
        });

        // Chroma: per pair of pixel rows, the sums of R - B and of 2G - R - B
        // over each 2x2 group by multiply-adds, then horizontal adds of the
        // pixels and of the pixel pairs.
        const V kCo = W::set32(0x00FF0001);  // bytes 1, 0, -1, 0
        const V kCg = W::set32(0x00FF02FF);  // bytes -1, 2, -1, 0
        V co[4], cg[4];
        for (int gr = 0; gr < 4; ++gr) {
            const uint8_t* r0 = p + size_t(2 * gr) * stride;
            const uint8_t* r1 = r0 + stride;
            V c[4], g[4];
            for (int k = 0; k < 4; ++k) {
                const V a = W::load(r0 + k * 4 * kPixels), b = W::load(r1 + k * 4 * kPixels);
                c[k] = W::add16(W::maddubs(a, kCo), W::maddubs(b, kCo));
                g[k] = W::add16(W::maddubs(a, kCg), W::maddubs(b, kCg));
            }
            const V cs = W::hadd16(W::hadd16(c[0], c[1]), W::hadd16(c[2], c[3]));
            const V gs = W::hadd16(W::hadd16(g[0], g[1]), W::hadd16(g[2], g[3]));
            // Divisions truncating toward zero, then the offset 255.
            const V c9 = W::template srai16<2>(W::add16(cs, W::and_(W::template srai16<15>(cs), W::set16(3))));
            const V g9 = W::template srai16<3>(W::add16(gs, W::and_(W::template srai16<15>(gs), W::set16(7))));
            co[gr] = W::tileOrder(W::add16(c9, W::set16(255)));
            cg[gr] = W::tileOrder(W::add16(g9, W::set16(255)));
        }
        const V cob = encodeBlocks<Ramp::Chroma>(co);
        const V cgb = encodeBlocks<Ramp::Chroma>(cg);
        W::store(chroma, W::unpacklo64(cob, cgb));
        W::store(chroma + sizeof(V), W::unpackhi64(cob, cgb));
    }

    // A unit whose colour is its left neighbour's: that unit's luma and
    // chroma bytes, and its own alpha blocks.
    static void encodeAlphaBesideLeft(const uint8_t* p, size_t stride, uint8_t* luma0, uint8_t* luma1, uint8_t* chroma)
    {
        constexpr size_t kLeft = 2 * kSlots * 16;
        forEachGroup<16>(p, stride, luma0, luma1, [&](const uint8_t* q, uint8_t* dst) {
            const V a = blocksAt<Ramp::Alpha>(q, stride);
            // encodeUnit's stores, the luma slots taken from the left.
            const V lo = W::load(dst - kLeft), hi = W::load(dst - kLeft + sizeof(V));
            W::store(dst, W::unpacklo64(lo, a));
            W::store(dst + sizeof(V), W::unpacklo64(hi, W::unpackhi64(a, a)));
        });
        std::memcpy(chroma, chroma - kSlots * 16, kSlots * 16);
    }

    // Units whose pixels are their left neighbour's (flat colour, and a
    // still or no matte) take its bytes, and those whose colour alone is
    // take its luma and chroma: tiles are coded each on its own, so the bytes
    // are the same. A unit that overlaps the one before it at the right
    // edge is coded in full.
    template <bool kAlpha>
    static bool encode(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture, uint8_t* chromaPlane)
    {
        constexpr uint32_t kUnitPixels = 8 * kSlots;
        constexpr size_t kUnitBytes = kAlpha ? 16 : 8, kLumaBytes = 2 * kSlots * kUnitBytes;
        if (width < kUnitPixels)
            return false;
        const size_t stride = size_t(width) * 4;
        const size_t blockRowBytes = size_t(width / 4) * kUnitBytes;
        const size_t tilesPerRow = width / 8;
        for (uint32_t ty = 0; ty < height / 8; ++ty) {
            const uint8_t* row = picture + size_t(ty) * 8 * stride;
            uint8_t* luma0 = texture + size_t(2 * ty) * blockRowBytes;
            uint8_t* chroma = chromaPlane + size_t(ty) * tilesPerRow * 16;
            for (uint32_t x = 0; x < width; x += kUnitPixels) {
                const uint32_t ux = x + kUnitPixels <= width ? x : width - kUnitPixels;
                const uint8_t* p = row + size_t(ux) * 4;
                uint8_t* l0 = luma0 + size_t(ux / 4) * kUnitBytes;
                uint8_t* l1 = l0 + blockRowBytes;
                uint8_t* c = chroma + size_t(ux / 8) * 16;
                // Which of the unit's R, G, B (colour) and alpha bytes differ
                // from its left neighbour's; alpha is looked at only where
                // the colour is alike.
                bool colour = true, alpha = true;
                if (ux == x && x > 0) {
                    const V differ = differenceFromLeftRows<W>(p, stride, 8, 32 * kSlots, 0x00FFFFFF);
                    colour = anyIn<W>(differ, 0x00FFFFFF);
                    alpha = anyIn<W>(differ, int32_t(0xFF000000u));
                }
                if (!colour && (!kAlpha || !alpha)) {
                    std::memcpy(l0, l0 - kLumaBytes, kLumaBytes);
                    std::memcpy(l1, l1 - kLumaBytes, kLumaBytes);
                    std::memcpy(c, c - kSlots * 16, kSlots * 16);
                } else if (kAlpha && !colour) {
                    encodeAlphaBesideLeft(p, stride, l0, l1, c);
                } else {
                    encodeUnit<kAlpha>(p, stride, l0, l1, c);
                }
            }
        }
        return true;
    }

    static bool encode(const uint8_t* picture, uint32_t width, uint32_t height, bool withAlpha, uint8_t* texture,
                       uint8_t* chromaPlane)
    {
        return withAlpha ? encode<true>(picture, width, height, texture, chromaPlane)
                         : encode<false>(picture, width, height, texture, chromaPlane);
    }
};

}  // namespace

}  // namespace nox::detail
