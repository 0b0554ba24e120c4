// CPU decoding of Zemo 3 textures back to RGBA, for verification and tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/simd.h"

namespace nox {

// Decodes an 8-byte DXT1 block into 16 RGBA pixels (row-major). Four-colour
// mode when c0 > c1; otherwise three colours, index 3 being transparent
// black. Thirds and halves truncate, as the encoder's palette does.
void decodeDxt1Block(const uint8_t* block8, uint8_t rgba[64]);

// Decodes a 16-byte DXT5 block (alpha block, then a colour block that is
// always read in four-colour mode).
void decodeDxt5Block(const uint8_t* block16, uint8_t rgba[64]);

// Decodes one 8-byte single-channel block (DXT5-alpha kind) to 16 values.
void decodeSingleChannelBlock(const uint8_t* block8, uint8_t values[16]);

// Rebuilds the RGBA pixels (rows rgbaStride bytes apart) of a width x height
// picture from its texture, whose layout is that of the padded size
// (both sides rounded up to multiples of 16). Types: 0 DXT1, 1 DXT5,
// 2 YCG6, 3 YG10, and 4/5 (older DXT1/DXT5 frames, same layouts as 0/1).
// Types without alpha give A = 255. YCoCg colour: Y = Y8/255,
// Co = Co8/255 - 0.5, Cg = Cg8/255 - 0.5, G = Y + Cg, R = Y - Cg + Co,
// B = Y - Cg - Co, chroma shared by each 2x2 group, clamped and rounded to
// 8 bits. Returns false for another type or a texture shorter than needed.
bool textureToRgba(uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width, uint32_t height,
                   uint8_t* rgba, size_t rgbaStride);

// The same for rows [firstRow, endRow) only, so that a frame can be spread
// over threads: firstRow a multiple of 8, endRow one too or the height. rgba
// still points at row 0. False also for rows outside those bounds.
bool textureToRgbaRows(uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width, uint32_t height,
                       uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t rgbaStride);

// textureToRgbaRows at a chosen instruction-set level (core/simd.h; the two
// above run activeSimdLevel()). Every level writes the bytes the scalar
// reference writes: Scalar is the reference code, Sse2 plain C++ that builds
// each block's palette once, Sse41 and Avx2 byte shuffles over one and two
// blocks at a time.
bool textureToRgbaRowsWith(SimdLevel level, uint32_t type, const uint8_t* texture, size_t textureBytes, uint32_t width,
                           uint32_t height, uint32_t firstRow, uint32_t endRow, uint8_t* rgba, size_t rgbaStride);

}  // namespace nox
