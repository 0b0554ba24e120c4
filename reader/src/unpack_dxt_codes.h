// Control codes of the DXT unpackers, read one at a time with or without
// bounds checks: the reference's way, which the fast unpackers also take for
// the blocks their tables do not cover.
#pragma once

#include <cstring>

#include "unpack_internal.h"

// Internal linkage: each level's file compiles its own copy.
namespace nox::unpack {
namespace {

struct CodeReader : Input {
    uint32_t word = 0;
    uint32_t codes = 0;  // codes left in word
};

template <bool kChecked>
inline bool nextCode(CodeReader& r, uint32_t& code)
{
    if (r.codes == 0) {
        if (kChecked && r.left() < 4)
            return false;
        r.word = loadLe32(r.in);
        r.in += 4;
        r.codes = 16;
    }
    code = r.word & 3;
    r.word >>= 2;
    --r.codes;
    return true;
}

// Distance in blocks of reference code 1..3.
template <bool kChecked>
inline bool distance(CodeReader& r, uint32_t code, size_t& d)
{
    if (code == 1) {
        d = 1;
    } else if (code == 2) {
        if (kChecked && r.in == r.end)
            return false;
        d = size_t(*r.in++) + kNearDistance;
    } else {
        if (kChecked && r.left() < 2)
            return false;
        d = size_t(loadLe16(r.in)) + kFarDistance;
        r.in += 2;
    }
    return true;
}

// One 4-byte word of a split colour block: a reference to the same word d
// blocks back, or 4 literal bytes.
template <bool kChecked, size_t B>
inline bool decodeWord(CodeReader& r, uint8_t* word, size_t block)
{
    uint32_t code;
    if (!nextCode<kChecked>(r, code))
        return false;
    if (code == 0) {
        if (kChecked && r.left() < 4)
            return false;
        std::memcpy(word, r.in, 4);
        r.in += 4;
        return true;
    }
    size_t d;
    if (!distance<kChecked>(r, code, d) || d > block)
        return false;
    std::memcpy(word, word - d * B, 4);
    return true;
}

// The colour block of block number `block`; colour points at its colour block.
template <bool kChecked, size_t B>
inline bool decodeColour(CodeReader& r, uint8_t* colour, size_t block)
{
    uint32_t code;
    if (!nextCode<kChecked>(r, code))
        return false;
    if (code != 0) {
        size_t d;
        if (!distance<kChecked>(r, code, d) || d > block)
            return false;
        std::memcpy(colour, colour - d * B, 8);
        return true;
    }
    return decodeWord<kChecked, B>(r, colour, block) && decodeWord<kChecked, B>(r, colour + 4, block);
}

// A DXT5 block's alpha half at cur (block number `block` of `blocks`): the
// block's alpha code, or the alpha run it is in. A code of 0 is a run of
// whole blocks, which it restores and steps over (Runs); else the colour half
// follows (Colour). Failed for a malformed code or its data.
enum class AlphaHalf { Failed, Runs, Colour };
template <bool kChecked, class Block>
inline AlphaHalf alphaHalf(CodeReader& r, uint8_t* cur, Block& block, Block blocks, uint64_t& pending)
{
    if (pending > 0) {
        --pending;
        std::memcpy(cur, cur - 16, 8);
        return AlphaHalf::Colour;
    }
    uint32_t code;
    if (!nextCode<kChecked>(r, code))
        return AlphaHalf::Failed;
    switch (code) {
    case 0: {
        // Whole block repeated v + 1 times.
        uint64_t v;
        if (!readRun(r, blocks - block - 1, v))
            return AlphaHalf::Failed;
        for (uint64_t k = 0; k <= v; ++k, cur += 16)
            std::memcpy(cur, cur - 16, 16);
        block += Block(v) + 1;
        return AlphaHalf::Runs;
    }
    case 1:
        if (!readRun(r, blocks - block - 1, pending))
            return AlphaHalf::Failed;
        std::memcpy(cur, cur - 16, 8);
        return AlphaHalf::Colour;
    case 2: {
        if (kChecked && r.left() < 2)
            return AlphaHalf::Failed;
        const size_t d = size_t(loadLe16(r.in)) + 2;
        r.in += 2;
        if (d > block)
            return AlphaHalf::Failed;
        std::memcpy(cur, cur - d * 16, 8);
        return AlphaHalf::Colour;
    }
    default:
        if (kChecked && r.left() < 8)
            return AlphaHalf::Failed;
        std::memcpy(cur, r.in, 8);
        r.in += 8;
        return AlphaHalf::Colour;
    }
}

// A DXT5 block: worst case 4 (control word) + 2 + 8 (alpha) + 8 (colour) bytes,
// not counting run lengths, which are always read with checks.
template <bool kChecked>
inline bool decodeDxt5Block(CodeReader& r, uint8_t* dst, size_t& block, size_t blocks, uint64_t& pending)
{
    uint8_t* cur = dst + block * 16;
    const AlphaHalf alpha = alphaHalf<kChecked>(r, cur, block, blocks, pending);
    if (alpha != AlphaHalf::Colour)
        return alpha == AlphaHalf::Runs;
    if (!decodeColour<kChecked, 16>(r, cur + 8, block))
        return false;
    ++block;
    return true;
}

}  // namespace
}  // namespace nox::unpack
