// Shared by the DXT5 alpha encoder and the single-channel YCoCg encoders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox::detail {

// Quantises sixteen values to the 3-bit indices of a single-channel block
// whose endpoints stand for the values high > low (d = high - low), and writes the 48 index
// bits (pixel k in bits 3k..3k+2, little-endian) to destination[0..5].
//
// Each value v is placed on the 7-step ramp from low to high by a = 7*v + bias
// and a binary search against d = high - low (t = min(a / d, 7) without a
// division); t counts steps up from low, and the index table turns that into
// the block's numbering, where 0 is high, 1 is low and 2..7 run from high down.
template <typename Value>
inline void writeRampIndices(uint8_t* destination, const Value* values, size_t stride, int32_t d,
                             int32_t bias)
{
    static constexpr uint8_t kIndexOfStep[8] = {1, 7, 6, 5, 4, 3, 2, 0};
    const int32_t d2 = 2 * d, d4 = 4 * d;
    // Branch-free: the comparisons are data-dependent and would mispredict.
    uint64_t bits = 0;
    for (int k = 0; k < 16; ++k) {
        int32_t a = 7 * int32_t(values[size_t(k) * stride]) + bias;
        const int32_t m4 = -int32_t(a >= d4);
        a -= m4 & d4;
        const int32_t m2 = -int32_t(a >= d2);
        a -= m2 & d2;
        const int32_t t = (m4 & 4) | (m2 & 2) | int32_t(a >= d);
        bits |= uint64_t(kIndexOfStep[t]) << (3 * k);
    }
    for (int i = 0; i < 6; ++i)
        destination[i] = uint8_t(bits >> (8 * i));
}

}  // namespace nox::detail
