// Frame rates as the host hands them over, 16.16 fixed point, and as movies
// carry them, fractions; and where a frame's sound starts.
#pragma once

#include <cstdint>
#include <utility>

namespace nox {

// A 16.16 fixed-point rate as a fraction whose denominator is at most
// maxDenominator (continued fractions over the single-precision value).
// 29.97 (1964114) gives 148861/4967, 12.5 gives 25/2, 0 gives 0/1.
std::pair<int32_t, int32_t> fixedToRational(int32_t fixed, int64_t maxDenominator);

// The largest denominator of the rate a movie is written at.
constexpr int64_t kMovieRateMaxDenominator = 5000;
// The rate an export writes its movie at, from the host's 16.16 rate.
inline std::pair<int32_t, int32_t> movieRateOfFixed(int32_t fixed)
{
    return fixedToRational(fixed, kMovieRateMaxDenominator);
}

// A rate num/den frames per second as the host carries it, 16.16 fixed point
// (rounded to nearest; 0 for a rate too small for it).
int32_t rationalToFixed(int32_t num, int32_t den);

// How many frames `seconds` hold at num/den frames a second, rounded to nearest.
uint64_t framesInSeconds(double seconds, int32_t num, int32_t den);

// The first sample of frame `frame`'s sound at sampleRate samples and num/den
// frames a second: frame * sampleRate * den / num, rounded down; 0 when the
// rate is none. Renders, ranges and joins all cut the sound here.
uint64_t firstSampleOfFrame(uint64_t frame, uint32_t sampleRate, int32_t num, int32_t den);

}  // namespace nox
