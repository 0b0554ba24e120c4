// SSE4.1 level of the YCoCg encoders: two blocks per vector (see ycocg_simd.h).
#if defined(__x86_64__)

#include "core/x86/sse41.h"

#include "ycocg_simd.h"

namespace nox::detail {

namespace {

struct Sse41Lanes : simd::Sse41 {
    // One 128-bit lane: slots and tiles are already in order.
    static void storeBlocks(uint8_t* p, V v) { store(p, v); }
    static V tileOrder(V v) { return v; }
};

}  // namespace

bool encodeYcocgSse41(const uint8_t* picture, uint32_t width, uint32_t height, bool withAlpha, uint8_t* luma,
                      uint8_t* chroma)
{
    return YcocgUnits<Sse41Lanes>::encode(picture, width, height, withAlpha, luma, chroma);
}

}  // namespace nox::detail

#endif
