// The fast unpacker of version-3 payloads (LZF): the same results as the
// reference (liblzf's decompressor), and like it, no byte written past the
// end of what it restores (a texture's rest keeps what it held). Literals and
// back-references are copied in a few wide, overlapping moves instead of byte
// by byte, while both the input and the output have room; near their ends,
// one byte at a time.
#include <cstring>

#include "unpack_internal.h"

namespace nox::unpack::fast {

namespace {

// n (1 to 32) bytes that do not overlap, in two moves that may.
inline void copySmall(uint8_t* to, const uint8_t* from, size_t n)
{
    if (n >= 16) {
        std::memcpy(to, from, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

}  // namespace

size_t version3(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    // The reference takes unsigned lengths; sizes beyond them are refused.
    if (payloadSize == 0 || textureSize == 0 || payloadSize != unsigned(payloadSize) ||
        textureSize != unsigned(textureSize))
        return 0;
    const uint8_t *in = payload, *const inEnd = payload + payloadSize;
    uint8_t *out = destination, *const outEnd = destination + textureSize;
    // A control byte and what follows it take at most 33 bytes of input
    // (a literal run) and write at most 264 bytes (a back-reference).
    while (inEnd - in >= 33 && outEnd - out >= 264) {
        const uint32_t control = *in++;
        if (control < 32) {
            const size_t length = control + 1;
            copySmall(out, in, length);
            in += length;
            out += length;
            continue;
        }
        size_t length = control >> 5;
        if (length == 7)
            length += *in++;
        const size_t back = ((control & 0x1F) << 8) + *in++ + 1;
        if (back > size_t(out - destination))
            return 0;
        const uint8_t* from = out - back;
        length += 2;
        if (back >= 8 && length >= 8) {
            // Each move reads only bytes already in place: 8 or more back.
            for (size_t k = 0; k + 8 <= length; k += 8)
                std::memcpy(out + k, from + k, 8);
            std::memcpy(out + length - 8, from + length - 8, 8);
        } else {
            for (size_t k = 0; k < length; ++k)
                out[k] = from[k];
        }
        out += length;
    }
    while (in < inEnd) {
        const uint32_t control = *in++;
        if (control < 32) {
            const size_t length = control + 1;
            if (length > size_t(outEnd - out) || length > size_t(inEnd - in))
                return 0;
            std::memcpy(out, in, length);
            in += length;
            out += length;
            continue;
        }
        size_t length = control >> 5;
        if (in == inEnd)
            return 0;
        if (length == 7) {
            length += *in++;
            if (in == inEnd)
                return 0;
        }
        const size_t back = ((control & 0x1F) << 8) + *in++ + 1;
        if (length + 2 > size_t(outEnd - out) || back > size_t(out - destination))
            return 0;
        const uint8_t* from = out - back;
        for (size_t k = 0; k < length + 2; ++k)
            out[k] = from[k];
        out += length + 2;
    }
    return size_t(out - destination);
}

}  // namespace nox::unpack::fast
