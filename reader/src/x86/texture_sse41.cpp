// SSE4.1 level of the RGBA rebuild: one block per vector (see texture_simd.h).
#if defined(__x86_64__)

#include "texture_simd.h"

#include "texture_internal.h"

namespace nox::detail {

const TextureKernels kSse41TextureKernels = {dxtBlocks<Lanes128, true>, dxtBlocks<Lanes128, false>,
                                             ycocgTiles<Lanes128, false>, ycocgTiles<Lanes128, true>};

}  // namespace nox::detail

#endif
