// The RGBA rebuild with byte shuffles, shared by the SSE4.1 and AVX2 levels.
//
// Each 128-bit lane of a vector works on one 4x4 block: its 16 pixels are the
// lane's 16 bytes (one channel, row-major), or four rows of 4 RGBA pixels.
// An AVX2 vector holds two horizontally adjacent blocks, so that a row of
// both lanes is 8 consecutive pixels of the picture.
//
//   Single-channel block: the 16-bit word holding each pixel's 3 index bits
//   is gathered by a shuffle and multiplied so the bits land at the top; the
//   eight ramp values come from (e0, e1) pairs weighted and divided by 7 or
//   5 through a multiply-high; a shuffle of the ramp by the indices gives
//   the values.
//   Colour block: the endpoints widen from 5:6:5 by multiplies, the middle
//   colours divide by 3 the same way, and the palette (4 RGBA words) is
//   shuffled by 4 * index + channel into each row.
//   YCoCg: the conversion in saturating byte arithmetic (see
//   texture_portable.cpp for why it matches the float reference), then
//   R, G, B, A interleaved into rows.
//
// The algorithms are templates over W: the level's wrapper from core/x86
// (sse41.h, avx2.h) with kLanes (blocks per vector) and the loads of its
// units (Lanes128, Lanes256 at the end).
//
// Everything has internal linkage: each instruction-set file compiles its
// own copy with its own flags. Include this only from files built with
// -msse4.1 or more.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/x86/sse41.h"
#if defined(__AVX2__)
#include "core/x86/avx2.h"
#endif

namespace nox::detail {
namespace {

// Constant bytes for two lanes (a 128-bit vector reads the first).
struct Control {
    alignas(32) int8_t b[32];
};

template <class W>
inline typename W::V control(const Control& c)
{
    return W::loadAligned(c.b);
}

// f(lane, byte) for each byte.
template <class F>
constexpr Control perLane(F f)
{
    Control c{};
    for (int l = 0; l < 2; ++l)
        for (int i = 0; i < 16; ++i)
            c.b[16 * l + i] = int8_t(f(l, i));
    return c;
}

// Eight 16-bit words, the same in both lanes.
constexpr Control words(int w0, int w1, int w2, int w3, int w4, int w5, int w6, int w7)
{
    const int w[8] = {w0, w1, w2, w3, w4, w5, w6, w7};
    return perLane([&](int, int i) { return (i % 2 ? w[i / 2] >> 8 : w[i / 2]) & 0xFF; });
}

// Shuffles that read an 8-byte block at byte o0 of lane 0 and o1 of lane 1.
constexpr int at(int o0, int o1, int lane, int byte) { return (lane ? o1 : o0) + byte; }
// Single-channel block, pixels 0..7 (from index byte 0) and 8..15 (from
// index byte 3): each 16-bit word holds the two bytes from the one with bit 0
// of the pixel's index (at bit s = 3k % 8; past pixel 15's byte the second
// byte is whatever the register holds, shifted out later).
constexpr Control indexWords(int o0, int o1, int first)
{
    return perLane([=](int l, int i) { return at(o0, o1, l, first + 3 * (i / 2) / 8 + i % 2); });
}
template <int O0, int O1>
struct BlockShuffles {
    static constexpr Control indexLo = indexWords(O0, O1, 2), indexHi = indexWords(O0, O1, 5);
    // (e0, e1) in every 16-bit word.
    static constexpr Control pairs = perLane([](int l, int i) { return at(O0, O1, l, i % 2); });
    // Colour block: c0 in words 0..3, c1 in words 4..7.
    static constexpr Control endpoints = perLane([](int l, int i) { return at(O0, O1, l, (i / 8) * 2 + i % 2); });
    // Index byte i / 4 in byte i.
    static constexpr Control maskBytes = perLane([](int l, int i) { return at(O0, O1, l, 4 + i / 4); });
};

// Multipliers that move bit s of each word to bit 13.
constexpr Control kIndexToTop = perLane([](int, int i) { return (1 << (13 - 3 * (i / 2) % 8)) >> (8 * (i % 2)); });
// (weight of e0, weight of e1) per ramp entry, as signed bytes.
constexpr Control kSevenSteps =
    words(7, 7 << 8, 6 | 1 << 8, 5 | 2 << 8, 4 | 3 << 8, 3 | 4 << 8, 2 | 5 << 8, 1 | 6 << 8);
constexpr Control kFiveSteps = words(5, 5 << 8, 4 | 1 << 8, 3 | 2 << 8, 2 | 3 << 8, 1 | 4 << 8, 0, 0);
// Entries 6 and 7 of the five-step ramp, 0 and 255 (their weights are zero).
constexpr Control kFiveStepsEnds = words(0, 0, 0, 0, 0, 0, 0, 255);
// 5:6:5 to R, G, B words: B moved up to R's place, each field masked at the
// top and widened by a multiply-high (r * 8.25, g * 4.0625); A, multiplied
// by zero first, stays zero.
constexpr Control kFieldShift = words(1, 1, 1 << 11, 0, 1, 1, 1 << 11, 0);
constexpr Control kFieldMask = words(0xF800, 0x07E0, 0xF800, 0xFFFF, 0xF800, 0x07E0, 0xF800, 0xFFFF);
constexpr Control kFieldWiden = words(264, 8320, 264, 0xFFFF, 264, 8320, 264, 0xFFFF);
constexpr Control kOpaque = words(0, 0, 0, 255, 0, 0, 0, 255);
constexpr Control kFirstHalf = words(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0, 0);
// Index fields of a mask byte, and 4 * index from a field's nibble (the
// field sits at bits 0, 2, 4 or 6: nibble values 0..3 or 0, 4, 8, 12).
constexpr Control kIndexFields = perLane([](int, int i) { return 3 << (2 * (i % 4)); });
constexpr Control kTimesFour = perLane([](int, int i) { return i < 4 ? 4 * i : i; });
// Row r: byte 4 * index of pixel j spread over the pixel's four bytes, plus
// the channel; alpha of pixel j into byte 3.
constexpr Control rowSpread(int r)
{
    return perLane([r](int, int i) { return 4 * r + i / 4; });
}
constexpr Control kRowSpread[4] = {rowSpread(0), rowSpread(1), rowSpread(2), rowSpread(3)};
constexpr Control kChannel = perLane([](int, int i) { return i % 4; });
constexpr Control alphaRow(int r)
{
    return perLane([r](int, int i) { return i % 4 == 3 ? 4 * r + i / 4 : -128; });
}
constexpr Control kAlphaRow[4] = {alphaRow(0), alphaRow(1), alphaRow(2), alphaRow(3)};
// The 2x2 chroma group of each pixel of the block at (bx + lane, by) of a tile.
constexpr Control groups(int bx, int by)
{
    return perLane([bx, by](int l, int i) { return (2 * by + i / 8) * 4 + 2 * (bx + l) + (i % 4) / 2; });
}
constexpr Control kGroups[2][2] = {{groups(0, 0), groups(1, 0)}, {groups(0, 1), groups(1, 1)}};

// The eight 16-bit divisors' multiply-high factors (exact for the ranges
// here: 7 * 255, 5 * 255, 3 * 255).
constexpr int16_t kOverSeven = 9363, kOverFive = 13108, kOverThree = 21846;

// The sixteen values of each lane's single-channel block, read at bytes
// O0 / O1 of src.
template <class W, int O0, int O1>
inline typename W::V decodeChannel(typename W::V src)
{
    using V = typename W::V;
    using S = BlockShuffles<O0, O1>;
    const V toTop = control<W>(kIndexToTop);
    const V lo = W::template srli16<13>(W::mullo16(W::shuffle8(src, control<W>(S::indexLo)), toTop));
    const V hi = W::template srli16<13>(W::mullo16(W::shuffle8(src, control<W>(S::indexHi)), toTop));
    const V pairs = W::shuffle8(src, control<W>(S::pairs));
    const V seven = W::mulhiu16(W::maddubs(pairs, control<W>(kSevenSteps)), W::set16(kOverSeven));
    const V five = W::xor_(W::mulhiu16(W::maddubs(pairs, control<W>(kFiveSteps)), W::set16(kOverFive)),
                           control<W>(kFiveStepsEnds));
    // e0 - e1 by the byte weights (1, -1).
    const V sevenMode = W::cmpgt16(W::maddubs(pairs, W::set16(int16_t(0xFF01))), W::zero());
    const V ramp = W::blendv(five, seven, sevenMode);
    return W::shuffle8(W::packus16(ramp, ramp), W::packus16(lo, hi));
}

// Each lane's colour block (at bytes O0 / O1) as 4 RGBA palette words; DXT1
// blocks are opaque and have the three-colour mode, DXT5 colour halves are
// four-colour with A = 0.
template <class W, int O0, int O1, bool kDxt1>
inline typename W::V colourPalette(typename W::V src)
{
    using V = typename W::V;
    using S = BlockShuffles<O0, O1>;
    const V ends16 = W::shuffle8(src, control<W>(S::endpoints));
    V ends = W::mulhiu16(W::and_(W::mullo16(ends16, control<W>(kFieldShift)), control<W>(kFieldMask)),
                         control<W>(kFieldWiden));
    if (kDxt1)
        ends = W::or_(ends, control<W>(kOpaque));
    const V swapped = W::template shuffle32<0x4E>(ends);
    V middle = W::mulhiu16(W::add16(W::add16(ends, ends), swapped), W::set16(kOverThree));
    if (kDxt1) {
        const V halves = W::and_(W::template srli16<1>(W::add16(ends, swapped)), control<W>(kFirstHalf));
        const V notAbove = W::cmpeq16(W::subsu16(ends16, W::template shuffle32<0x4E>(ends16)), W::zero());
        middle = W::blendv(middle, halves, W::template shuffle32<0x00>(notAbove));
    }
    return W::packus16(ends, middle);
}

// 4 * index of each pixel of each lane's colour block.
template <class W, int O0, int O1>
inline typename W::V colourIndices(typename W::V src)
{
    using V = typename W::V;
    const V fields = W::and_(W::shuffle8(src, control<W>(BlockShuffles<O0, O1>::maskBytes)), control<W>(kIndexFields));
    const V nibble = W::set8(0x0F), table = control<W>(kTimesFour);
    return W::or_(W::shuffle8(table, W::and_(fields, nibble)),
                  W::shuffle8(table, W::and_(W::template srli16<4>(fields), nibble)));
}

// `count` blocks, a multiple of W::kLanes.
template <class W, bool kDxt1>
void dxtBlocks(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride)
{
    using V = typename W::V;
    constexpr size_t kBlock = kDxt1 ? 8 : 16;
    for (uint32_t b = 0; b < count; b += W::kLanes, blocks += kBlock * W::kLanes, dst += 16 * W::kLanes) {
        V palette, indices, alpha = W::zero();
        if constexpr (kDxt1) {
            const V src = W::units8(blocks);
            palette = colourPalette<W, 0, 8, true>(src);
            indices = colourIndices<W, 0, 8>(src);
        } else {
            const V src = W::units16(blocks);
            palette = colourPalette<W, 8, 8, false>(src);
            indices = colourIndices<W, 8, 8>(src);
            alpha = decodeChannel<W, 0, 0>(src);
        }
        for (int r = 0; r < 4; ++r) {
            const V spread = W::or_(W::shuffle8(indices, control<W>(kRowSpread[r])), control<W>(kChannel));
            V row = W::shuffle8(palette, spread);
            if constexpr (!kDxt1)
                row = W::or_(row, W::shuffle8(alpha, control<W>(kAlphaRow[r])));
            W::store(dst + size_t(r) * stride, row);
        }
    }
}

// Four rows of RGBA from the luma, chroma and alpha bytes of each lane's block.
template <class W>
inline void ycocgRows(typename W::V y, typename W::V co, typename W::V cg, typename W::V a, uint8_t* dst, size_t stride)
{
    using V = typename W::V;
    const V notCo = W::xor_(co, W::set8(-1)), half = W::set8(127);
    // Each sum as (Y + up) - down with saturation: clamped to 0..255.
    const V r = W::subsu8(W::addsu8(y, W::subsu8(co, cg)), W::subsu8(cg, co));
    const V b = W::subsu8(W::addsu8(y, W::subsu8(notCo, cg)), W::subsu8(cg, notCo));
    const V cgBelow = W::subsu8(half, cg);
    const V g = W::subsu8(W::addsu8(y, W::subsu8(cg, half)), cgBelow);
    // Minus one where Y < 128 (not negative as a signed byte), Cg < 64 and
    // the sum is 2 or more (at most 63 there, so signed compares do).
    const V lower =
        W::andnot(W::cmpgt8(W::zero(), y), W::and_(W::cmpgt8(cgBelow, W::set8(63)), W::cmpgt8(g, W::set8(1))));
    const V green = W::add8(g, lower);
    const V rg0 = W::unpacklo8(r, green), rg1 = W::unpackhi8(r, green);
    const V ba0 = W::unpacklo8(b, a), ba1 = W::unpackhi8(b, a);
    W::store(dst, W::unpacklo16(rg0, ba0));
    W::store(dst + stride, W::unpackhi16(rg0, ba0));
    W::store(dst + 2 * stride, W::unpacklo16(rg1, ba1));
    W::store(dst + 3 * stride, W::unpackhi16(rg1, ba1));
}

template <class W, bool kAlpha>
void ycocgTiles(const uint8_t* units, size_t unitRowBytes, const uint8_t* chroma, uint32_t count, uint8_t* dst,
                size_t stride)
{
    using V = typename W::V;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    for (uint32_t t = 0; t < count; ++t, units += 2 * kUnit, chroma += 16, dst += 32) {
        // The tile's 16 Co and 16 Cg values in every lane.
        V co, cg;
        if constexpr (W::kLanes == 2) {
            const V both = decodeChannel<W, 0, 8>(W::units8(chroma));
            co = W::template lane128<0>(both);
            cg = W::template lane128<1>(both);
        } else {
            co = decodeChannel<W, 0, 0>(W::units8(chroma));
            cg = decodeChannel<W, 0, 0>(W::units8(chroma + 8));
        }
        for (int by = 0; by < 2; ++by) {
            for (uint32_t bx = 0; bx < 2; bx += W::kLanes) {
                const uint8_t* unit = units + size_t(by) * unitRowBytes + bx * kUnit;
                V y, a;
                if constexpr (kAlpha) {
                    const V src = W::units16(unit);
                    y = decodeChannel<W, 0, 0>(src);
                    a = decodeChannel<W, 8, 8>(src);
                } else {
                    y = decodeChannel<W, 0, 8>(W::units8(unit));
                    a = W::set8(-1);
                }
                const V groups = control<W>(kGroups[by][bx]);
                ycocgRows<W>(y, W::shuffle8(co, groups), W::shuffle8(cg, groups), a,
                             dst + size_t(4 * by) * stride + 16 * bx, stride);
            }
        }
    }
}

// One block per 128-bit vector.
struct Lanes128 : simd::Sse41 {
    static constexpr uint32_t kLanes = 1;
    // One 8-byte unit (at byte 0), one 16-byte unit.
    static V units8(const uint8_t* p) { return load64(p); }
    static V units16(const uint8_t* p) { return load(p); }
};

#if defined(__AVX2__)
// Two horizontally adjacent blocks per 256-bit vector.
struct Lanes256 : simd::Avx2 {
    static constexpr uint32_t kLanes = 2;
    // Two 8-byte units (lane l reads its unit at byte 8l), two 16-byte units.
    static V units8(const uint8_t* p) { return broadcast128(p); }
    static V units16(const uint8_t* p) { return load(p); }
};
#endif

}  // namespace
}  // namespace nox::detail
