// The DXT block encoders four blocks at a time in SSE4.1 registers (the
// 32-bit multiplies, minima, maxima and blends are what SSE2 lacks).
// Chosen at run time only on processors that have SSE4.1.
#if defined(__x86_64__)

#include "core/x86/sse41.h"

#include "dxt_internal.h"
#include "dxt_lanes.h"

namespace nox::detail {
namespace {

struct Sse41Ops : simd::Sse41 {
    // Per row, one load per block and a 4x4 transpose.
    static void loadGroup(const uint8_t* p, size_t stride, V px[16])
    {
        for (int j = 0; j < 4; ++j) {
            const uint8_t* row = p + size_t(j) * stride;
            V* q = px + 4 * j;
            for (int b = 0; b < 4; ++b)
                q[b] = load(row + 16 * b);
            transpose4<Sse41>(q[0], q[1], q[2], q[3]);
        }
    }

    static void store2(uint8_t* out, V a, V b)
    {
        store(out, unpacklo32(a, b));
        store(out + 16, unpackhi32(a, b));
    }

    static void store4(uint8_t* out, V a, V b, V c, V d)
    {
        transpose4<Sse41>(a, b, c, d);
        store(out, a);
        store(out + 16, b);
        store(out + 32, c);
        store(out + 48, d);
    }
};

using Sse41Dxt = DxtLanes<Sse41Ops>;

}  // namespace

const LaneEncoders kSse41LaneEncoders = {
    &Sse41Dxt::encodeTexture<false>,
    &Sse41Dxt::encodeTexture<true>,
};

}  // namespace nox::detail

#endif
