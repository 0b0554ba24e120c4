// The DXT block encoders four blocks at a time in SSE4.1 registers (the
// 32-bit multiplies, minima, maxima and blends are what SSE2 lacks).
// Chosen at run time only on processors that have SSE4.1.
#if defined(__x86_64__)

#include "core/x86/sse41.h"

#include "dxt_lanes.h"

namespace nox::detail {
namespace {

struct Sse41Ops : simd::Sse41 {
    // One load per block and a 4x4 transpose.
    static void loadRow(const uint8_t* row, V px[4])
    {
        for (int b = 0; b < 4; ++b)
            px[b] = load(row + 16 * b);
        transpose4<Sse41>(px[0], px[1], px[2], px[3]);
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

}  // namespace

const LaneEncoders kSse41LaneEncoders = DxtLanes<Sse41Ops>::kEncoders;

}  // namespace nox::detail

#endif
