// The fast DXT unpackers (see unpack_internal.h).
//
// A colour block takes one code (a whole block from d blocks back) or three
// (its colour word and its index word, each a reference or 4 literal
// bytes). While at least three codes are left in the control word, the next
// three codes pick a row of a table that says where each word of the block
// comes from and how many data bytes the block takes, and the block is
// restored without a branch on them: both words are read from the data and
// from the blocks their distances point at, and masks keep what the codes
// say. Blocks that straddle two control words, and the last few blocks of
// the data, take the plain way of the reference, one code at a time.
#include <algorithm>
#include <bit>
#include <cstring>

#include "unpack_dxt_codes.h"

namespace nox::unpack::fast {
namespace {

// The block that three codes (c0 in bits 0-1, c1 in 2-3, c2 in 4-5) make.
// A word's distance is (the u16 at its offset & mask) + add; its literal
// mask keeps the data word instead of the referenced one.
struct BlockCodes {
    uint32_t colourMask = 0, colourAdd = 0, indexMask = 0, indexAdd = 0;
    uint32_t colourLiteral = 0, indexLiteral = 0;  // all ones: 4 literal bytes
    uint32_t colourFar = 0, indexFar = 0;          // all ones for literals: the distance then points at block 0
    uint8_t indexAt = 0;                           // data offset of the index word's distance or literal
    uint8_t codes = 0;                             // 1 or 3
    uint8_t length = 0;                            // data bytes
};

// The rows for a block whose third code is the first of the next control
// word (gap 4): that word lies between the colour word's data and the index
// word's.
struct BlockCodeTable {
    BlockCodes row[64];
    constexpr explicit BlockCodeTable(uint32_t gap) : row()
    {
        constexpr uint32_t masks[4] = {0, 0, 0xFF, 0xFFFF}, adds[4] = {0, 1, kNearDistance, kFarDistance},
                           extra[4] = {4, 0, 1, 2};
        for (uint32_t key = 0; key < 64; ++key) {
            BlockCodes& r = row[key];
            const uint32_t c0 = key & 3, c1 = (key >> 2) & 3, c2 = key >> 4;
            if (c0 != 0) {
                // The whole block: both words from the same block.
                r.colourMask = r.indexMask = masks[c0];
                r.colourAdd = r.indexAdd = adds[c0];
                r.codes = 1;
                r.length = uint8_t(extra[c0] == 4 ? 0 : extra[c0]);
                continue;
            }
            r.codes = 3;
            r.colourMask = masks[c1];
            r.colourAdd = c1 ? adds[c1] : 1;
            r.colourLiteral = r.colourFar = c1 ? 0 : ~0u;
            r.indexAt = uint8_t(extra[c1] + gap);
            r.indexMask = masks[c2];
            r.indexAdd = c2 ? adds[c2] : 1;
            r.indexLiteral = r.indexFar = c2 ? 0 : ~0u;
            r.length = uint8_t(extra[c1] + gap + extra[c2]);
        }
    }
};
constexpr BlockCodeTable kBlockCodes(0), kStraddlingCodes(4);

// Block `block` at cur (blocks B bytes apart) from the codes of `row` and
// the data at in. A distance past block 0 sets bit 31 of bad; reads stay in
// the blocks restored and within 8 bytes after in.
template <size_t B>
[[gnu::always_inline]] inline uint64_t colourBlock(const BlockCodes& r, const uint8_t* in, const uint8_t* cur,
                                                   uint32_t block, uint64_t previous, uint32_t& bad)
{
    const uint32_t dc = (loadLe16(in) & r.colourMask) + r.colourAdd;
    const uint32_t di = (loadLe16(in + r.indexAt) & r.indexMask) + r.indexAdd;
    bad |= (block - dc) | (block - di);
    // A word of the block before comes from `previous`, not from memory:
    // the load would wait for that block's store. Such a load, and a
    // literal's, reads block 0 instead.
    const uint64_t colourNear = dc == 1 ? ~uint64_t(0) : 0, indexNear = di == 1 ? ~uint64_t(0) : 0;
    const uint64_t colour = loadLe64(cur - size_t(std::min(dc | r.colourFar | uint32_t(colourNear), block)) * B);
    const uint64_t index = loadLe64(cur - size_t(std::min(di | r.indexFar | uint32_t(indexNear), block)) * B);
    const uint64_t referenced = (((colour & ~colourNear) | (previous & colourNear)) & 0xFFFFFFFFu) |
                                (((index & ~indexNear) | (previous & indexNear)) & ~uint64_t(0xFFFFFFFFu));
    const uint64_t literal = loadLe32(in) | uint64_t(loadLe32(in + r.indexAt)) << 32;
    const uint64_t fromData = r.colourLiteral | uint64_t(r.indexLiteral) << 32;
    return (literal & fromData) | (referenced & ~fromData);
}

// Restores the colour block at cur (block number `block`, blocks B bytes
// apart) by the table, also when its codes run into the next control word.
// The caller leaves at least 20 bytes after r.in.
template <size_t B>
[[gnu::always_inline]] inline void colourBlockByTable(CodeReader& r, uint8_t* cur, uint32_t block, uint64_t& previous,
                                                      uint32_t& bad)
{
    if (r.codes == 0) {
        r.word = loadLe32(r.in);
        r.in += 4;
        r.codes = 16;
    }
    if (B == 16 && (r.word & 3) == 1) {
        // The colour half before, whole: a copy. In DXT5 textures this is
        // how a flat area whose alpha changes goes on.
        storeLe64(cur, previous);
        r.word >>= 2;
        --r.codes;
        return;
    }
    const BlockCodes* row;
    if (r.codes >= 3 || (r.word & 3) != 0) [[likely]] {
        row = &kBlockCodes.row[r.word & 63];
        r.word >>= 2 * row->codes;
        r.codes -= row->codes;
    } else if (r.codes == 1) {
        // Code 0 ends the word; the next word comes before the block's data.
        const uint32_t next = loadLe32(r.in);
        r.in += 4;
        row = &kBlockCodes.row[(next & 15) << 2];
        r.word = next >> 4;
        r.codes = 14;
    } else {
        // The colour word's code ends the word; the next one follows its data.
        const uint32_t c1 = (r.word >> 2) & 3;
        const uint32_t next = loadLe32(r.in + (c1 == 0 ? 4 : c1 - 1));
        row = &kStraddlingCodes.row[(r.word & 15) | (next & 3) << 4];
        r.word = next >> 2;
        r.codes = 15;
    }
    previous = colourBlock<B>(*row, r.in, cur, block, previous, bad);
    storeLe64(cur, previous);
    r.in += row->length;
}

}  // namespace

size_t dxt1(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    if (textureSize < 8 || textureSize % 8 != 0 || payloadSize < 8 || textureSize / 8 > 0x7FFFFFFF)
        return textureSize / 8 > 0x7FFFFFFF ? dxt1Reference(payload, destination, payloadSize, textureSize) : 0;
    std::memcpy(destination, payload, 8);
    if (textureSize == 8)
        return 8;
    const uint32_t blocks = uint32_t(textureSize / 8);
    CodeReader r;
    r.in = payload + 8;
    r.end = payload + payloadSize;
    uint32_t block = 1, bad = 0;
    uint64_t previous = loadLe64(destination);
    // A block takes at most a control word and 8 data bytes, and the table
    // reads at most 8 bytes past its data.
    while (block < blocks && r.left() >= 20) {
        uint8_t* cur = destination + size_t(block) * 8;
        if (r.codes == 0) {
            r.word = loadLe32(r.in);
            r.in += 4;
            r.codes = 16;
        }
        if (r.codes >= 2 && (r.word & 15) == 5) {
            // Blocks that repeat the one before, two or more: all the codes
            // of 1 in a row in this control word at once, and the control
            // words after it that hold nothing else (flat areas). A lone
            // one goes by the table, which takes it from `previous`.
            uint32_t k =
                std::min<uint32_t>({uint32_t(std::countr_zero(r.word ^ 0x55555555u)) / 2, r.codes, blocks - block});
            r.word = k == 16 ? 0 : r.word >> (2 * k);
            r.codes -= k;
            while (r.codes == 0 && r.left() >= 24 && blocks - block - k >= 16 && loadLe32(r.in) == 0x55555555u) {
                r.in += 4;
                k += 16;
            }
            fillBlocks(cur, previous, k, size_t(blocks - block) * 8);
            block += k;
            continue;
        }
        colourBlockByTable<8>(r, cur, block, previous, bad);
        ++block;
    }
    for (; block < blocks; ++block)
        if (!decodeColour<true, 8>(r, destination + size_t(block) * 8, block))
            return 0;
    return (bad & 0x80000000u) ? 0 : size_t(r.in - payload);
}

namespace {

// A DXT5 block, its colour half by the table. At most 4 + 8 bytes, not
// counting run lengths, which are read with checks.
inline bool dxt5Block(CodeReader& r, uint8_t* dst, uint32_t& block, uint32_t blocks, uint64_t& pending,
                      uint64_t& previous, uint32_t& bad)
{
    uint8_t* cur = dst + size_t(block) * 16;
    const AlphaHalf alpha = alphaHalf<false>(r, cur, block, blocks, pending);
    if (alpha == AlphaHalf::Runs)
        previous = loadLe64(dst + size_t(block) * 16 - 8);
    if (alpha != AlphaHalf::Colour)
        return alpha == AlphaHalf::Runs;
    colourBlockByTable<16>(r, cur + 8, block, previous, bad);
    ++block;
    return true;
}

}  // namespace

size_t dxt5(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    if (textureSize < 16 || textureSize % 16 != 0 || payloadSize < 16 || textureSize / 16 > 0x7FFFFFFF)
        return textureSize / 16 > 0x7FFFFFFF ? dxt5Reference(payload, destination, payloadSize, textureSize) : 0;
    std::memcpy(destination, payload, 16);
    if (textureSize == 16)
        return 16;
    const uint32_t blocks = uint32_t(textureSize / 16);
    CodeReader r;
    r.in = payload + 16;
    r.end = payload + payloadSize;
    uint32_t block = 1, bad = 0;
    uint64_t pending = 0, previous = loadLe64(destination + 8);
    // Two control words, 8 alpha and 8 colour bytes, and 8 read past them.
    while (block < blocks && r.left() >= 32)
        if (!dxt5Block(r, destination, block, blocks, pending, previous, bad))
            return 0;
    while (block < blocks) {
        size_t b = block;
        if (!decodeDxt5Block<true>(r, destination, b, blocks, pending))
            return 0;
        block = uint32_t(b);
    }
    return (bad & 0x80000000u) ? 0 : size_t(r.in - payload);
}

}  // namespace nox::unpack::fast
