// The fast levels of the RGBA rebuild (texture.cpp keeps the scalar
// reference and walks the rows; a level only decodes whole blocks or tiles).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox::detail {

// One instruction-set level. Every function writes the same bytes as the
// scalar reference would for those pixels, and nothing else.
//   dxt1, dxt5: `count` whole 4x4 blocks, consecutive in the texture (8 or 16
//               bytes each), to the 4 rows of 4 * count pixels at dst.
//   ycg6, yg10: `count` whole 8x8 tiles of one tile row: the tiles' units
//               (8-byte luma blocks, or 16-byte luma + alpha units) from
//               `units` on for the upper block row and from
//               units + unitRowBytes for the lower one, 16 chroma bytes per
//               tile (Co block, Cg block), to the 8 rows of 8 * count pixels
//               at dst.
// Rows of dst are `stride` bytes apart.
struct TextureKernels {
    void (*dxt1)(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride);
    void (*dxt5)(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride);
    void (*ycg6)(const uint8_t* units, size_t unitRowBytes, const uint8_t* chroma, uint32_t count, uint8_t* dst,
                 size_t stride);
    void (*yg10)(const uint8_t* units, size_t unitRowBytes, const uint8_t* chroma, uint32_t count, uint8_t* dst,
                 size_t stride);
};

// The Sse2 level, plain C++ (texture_portable.cpp): palettes and ramps
// built once per block, 32-bit stores, the colour conversion in integers.
extern const TextureKernels kPortableTextureKernels;
#if defined(__x86_64__)
// Byte shuffles: one block per 128-bit lane (x86/texture_simd.h).
extern const TextureKernels kSse41TextureKernels;
extern const TextureKernels kAvx2TextureKernels;
#endif

}  // namespace nox::detail
