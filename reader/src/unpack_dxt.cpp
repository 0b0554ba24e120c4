// The reference DXT1 and DXT5 unpackers.
//
// Blocks are restored in order; every reference is checked against the
// blocks already restored, every read against the payload end. While at
// least one worst-case block of input is left the reads go unchecked.
#include <cstring>

#include "unpack_internal.h"

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
        d = size_t(*r.in++) + 2;
    } else {
        if (kChecked && r.left() < 2)
            return false;
        d = size_t(loadLe16(r.in)) + 258;
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

// A DXT5 block: worst case 4 (control word) + 2 + 8 (alpha) + 8 (colour) bytes,
// not counting run lengths, which are always read with checks.
template <bool kChecked>
inline bool decodeDxt5Block(CodeReader& r, uint8_t* dst, size_t& block, size_t blocks, uint64_t& pending)
{
    uint8_t* cur = dst + block * 16;
    if (pending > 0) {
        --pending;
        std::memcpy(cur, cur - 16, 8);
    } else {
        uint32_t code;
        if (!nextCode<kChecked>(r, code))
            return false;
        switch (code) {
        case 0: {
            // Whole block repeated v + 1 times.
            uint64_t v;
            if (!readRun(r, blocks - block - 1, v))
                return false;
            for (uint64_t k = 0; k <= v; ++k, cur += 16)
                std::memcpy(cur, cur - 16, 16);
            block += size_t(v) + 1;
            return true;
        }
        case 1:
            if (!readRun(r, blocks - block - 1, pending))
                return false;
            std::memcpy(cur, cur - 16, 8);
            break;
        case 2: {
            if (kChecked && r.left() < 2)
                return false;
            const size_t d = size_t(loadLe16(r.in)) + 2;
            r.in += 2;
            if (d > block)
                return false;
            std::memcpy(cur, cur - d * 16, 8);
            break;
        }
        default:
            if (kChecked && r.left() < 8)
                return false;
            std::memcpy(cur, r.in, 8);
            r.in += 8;
            break;
        }
    }
    if (!decodeColour<kChecked, 16>(r, cur + 8, block))
        return false;
    ++block;
    return true;
}

}  // namespace

size_t dxt1Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    if (textureSize < 8 || textureSize % 8 != 0 || payloadSize < 8)
        return 0;
    std::memcpy(destination, payload, 8);
    if (textureSize == 8)
        return 8;
    const size_t blocks = textureSize / 8;
    CodeReader r;
    r.in = payload + 8;
    r.end = payload + payloadSize;
    size_t block = 1;
    // A block takes at most 4 + 4 + 4 bytes (a control word and two literals).
    while (block < blocks && r.left() >= 12) {
        if (!decodeColour<false, 8>(r, destination + block * 8, block))
            return 0;
        ++block;
    }
    for (; block < blocks; ++block)
        if (!decodeColour<true, 8>(r, destination + block * 8, block))
            return 0;
    return size_t(r.in - payload);
}

size_t dxt5Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    if (textureSize < 16 || textureSize % 16 != 0 || payloadSize < 16)
        return 0;
    std::memcpy(destination, payload, 16);
    if (textureSize == 16)
        return 16;
    const size_t blocks = textureSize / 16;
    CodeReader r;
    r.in = payload + 16;
    r.end = payload + payloadSize;
    size_t block = 1;
    uint64_t pending = 0;
    while (block < blocks && r.left() >= 24)
        if (!decodeDxt5Block<false>(r, destination, block, blocks, pending))
            return 0;
    while (block < blocks)
        if (!decodeDxt5Block<true>(r, destination, block, blocks, pending))
            return 0;
    return size_t(r.in - payload);
}

}  // namespace nox::unpack
