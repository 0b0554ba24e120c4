// The wide encoders' look at a group of pixels beside the group to its
// left (ycocg_simd.h, dxt_lanes.h): groups whose pixels are alike are coded
// alike, so the encoders take the left group's bytes instead. W is a level's
// wrapper from core/x86 (sse41.h, avx2.h, avx512.h). Internal linkage: each
// instruction-set file compiles its own copy with its own flags.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox::detail {
namespace {

// Whether any 32-bit lane of v has a bit of `bytes` set.
template <class W>
inline bool anyIn(typename W::V v, int32_t bytes)
{
    constexpr int kAllLanes = int((uint64_t(1) << (W::kVectorBytes / 4)) - 1);
    return W::movemask32(W::cmpeq32(W::and_(v, W::set32(bytes)), W::zero())) != kAllLanes;
}

// The bits in which `rows` rows of `rowBytes` bytes at p differ from the
// rowBytes bytes before each, ORed over the rows. The look ends after the
// first row that differs in a bit of `stopAt` (fine detail differs in the
// first row); the rows not looked at are then taken as different too.
template <class W>
inline typename W::V differenceFromLeftRows(const uint8_t* p, size_t stride, int rows, size_t rowBytes, int32_t stopAt)
{
    typename W::V differ = W::zero();
    for (int r = 0; r < rows; ++r, p += stride) {
        for (size_t at = 0; at < rowBytes; at += W::kVectorBytes)
            differ = W::or_(differ, W::xor_(W::load(p + at), W::load(p + at - rowBytes)));
        if (anyIn<W>(differ, stopAt))
            break;
    }
    return differ;
}

}  // namespace
}  // namespace nox::detail
