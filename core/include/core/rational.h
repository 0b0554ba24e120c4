// Frame rates as the host hands them over, 16.16 fixed point, and as movies
// carry them, fractions.
#pragma once

#include <cstdint>
#include <utility>

namespace nox {

// The 16.16 frame rate as a fraction whose denominator is at most
// maxDenominator (continued fractions over the single-precision value).
// 29.97 (1964114) gives 148861/4967, 12.5 gives 25/2, 0 gives 0/1. An export
// writes its movie at doubleToRational(fps, 5000).
std::pair<int32_t, int32_t> doubleToRational(int32_t fixed, int64_t maxDenominator);

}  // namespace nox
