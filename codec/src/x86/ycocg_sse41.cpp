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

const YcocgUnitLoop kSse41YcocgUnits = &YcocgUnits<Sse41Lanes>::encode;

}  // namespace nox::detail

#endif
