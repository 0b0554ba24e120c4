// The DXT block encoders eight blocks at a time in AVX2 registers. Built
// with -mavx2 -mno-fma (no fused multiply-adds: they would change the float
// results); chosen at run time only on processors that have AVX2.
#if defined(__x86_64__)

#include "core/x86/avx2.h"

#include "dxt_lanes.h"

namespace nox::detail {
namespace {

struct Avx2Ops : simd::Avx2 {
    // Four loads of two blocks each; pairing the 128-bit halves as (0, 4),
    // (1, 5), (2, 6), (3, 7) before a 4x4 transpose inside each half leaves
    // the blocks in lane order.
    static void loadRow(const uint8_t* row, V px[4])
    {
        const V l0 = load(row), l1 = load(row + 32), l2 = load(row + 64), l3 = load(row + 96);
        px[0] = permute128<0x20>(l0, l2);
        px[1] = permute128<0x31>(l0, l2);
        px[2] = permute128<0x20>(l1, l3);
        px[3] = permute128<0x31>(l1, l3);
        transpose4<Avx2>(px[0], px[1], px[2], px[3]);
    }

    static void store2(uint8_t* out, V a, V b)
    {
        const V lo = unpacklo32(a, b), hi = unpackhi32(a, b);
        store(out, permute128<0x20>(lo, hi));
        store(out + 32, permute128<0x31>(lo, hi));
    }

    static void store4(uint8_t* out, V a, V b, V c, V d)
    {
        transpose4<Avx2>(a, b, c, d);
        store(out, permute128<0x20>(a, b));
        store(out + 32, permute128<0x20>(c, d));
        store(out + 64, permute128<0x31>(a, b));
        store(out + 96, permute128<0x31>(c, d));
    }
};

}  // namespace

const LaneEncoders kAvx2LaneEncoders = DxtLanes<Avx2Ops>::kEncoders;

}  // namespace nox::detail

#endif
