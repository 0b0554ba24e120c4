// AVX2 level of the RGBA rebuild: two blocks per vector (see texture_simd.h).
#if defined(__x86_64__)

#include "texture_simd.h"

#include "texture_internal.h"

namespace nox::detail {

namespace {

// Pairs of blocks, and the odd last one in a 128-bit vector.
template <bool kDxt1>
void dxtBlocksAvx2(const uint8_t* blocks, uint32_t count, uint8_t* dst, size_t stride)
{
    const uint32_t pairs = count & ~1u;
    dxtBlocks<Lanes256, kDxt1>(blocks, pairs, dst, stride);
    if (count & 1)
        dxtBlocks<Lanes128, kDxt1>(blocks + size_t(pairs) * (kDxt1 ? 8 : 16), 1, dst + size_t(pairs) * 16, stride);
}

}  // namespace

const TextureKernels kAvx2TextureKernels = {dxtBlocksAvx2<true>, dxtBlocksAvx2<false>, ycocgTiles<Lanes256, false>,
                                            ycocgTiles<Lanes256, true>};

}  // namespace nox::detail

#endif
