// The picture an input asks for, shared by the texture fuzz targets.
//
// Byte 0 picks the format type (byte 0 mod types) and a size scale from
// s = (byte 0 / types) mod 8: 1 for s < 5, 4 for s = 5 or 6, 16 for s = 7
// (big textures are slow, so they come up less often); bytes 1 and 2 the
// width and height (1 to 80 before scaling, so up to 1280x1280). The targets
// that take a stream of buffers read them with forEachBuffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace nox::fuzz {

constexpr size_t kPictureBytes = 3;

struct Picture {
    uint32_t type, width, height;
};

inline Picture picture(const uint8_t* in, uint32_t types)
{
    const uint32_t s = in[0] / types % 8;
    const uint32_t scale = s < 5 ? 1 : s < 7 ? 4 : 16;
    return {in[0] % types, (1 + in[1] % 80u) * scale, (1 + in[2] % 80u) * scale};
}

// The buffers after the picture header, each a 16-bit little-endian length
// and that many bytes (the last one takes what is left; seeds.h writes them):
// take(bytes, length, offset) for each until it returns false.
template <class Take>
void forEachBuffer(const uint8_t* in, size_t size, Take take)
{
    for (size_t at = kPictureBytes, n; at < size; at += n) {
        n = size - at;
        if (n > 2) {
            n = std::min<size_t>(size - at - 2, size_t(in[at]) | size_t(in[at + 1]) << 8);
            at += 2;
        }
        if (!take(in + at, n, at))
            return;
    }
}

}  // namespace nox::fuzz
