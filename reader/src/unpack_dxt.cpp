// The reference DXT1 and DXT5 unpackers.
//
// Blocks are restored in order; every reference is checked against the
// blocks already restored, every read against the payload end. While at
// least one worst-case block of input is left the reads go unchecked.
#include <cstring>

#include "unpack_dxt_codes.h"

namespace nox::unpack {

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
