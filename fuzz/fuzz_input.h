// The picture an input asks for, shared by the texture fuzz targets.
//
// Byte 0 picks the format type (byte 0 mod types) and a size scale from
// s = (byte 0 / types) mod 8: 1 for s < 5, 4 for s = 5 or 6, 16 for s = 7
// (big textures are slow, so they come up less often); bytes 1 and 2 the
// width and height (1 to 80 before scaling, so up to 1280x1280).
#pragma once

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

}  // namespace nox::fuzz
