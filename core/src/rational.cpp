#include "core/rational.h"

#include <cmath>

namespace nox {

std::pair<int32_t, int32_t> fixedToRational(int32_t fixed, int64_t maxDenominator)
{
    // The host's 16.16 value, rounded to single precision as the rate is
    // carried there, then made an exact binary fraction num/den.
    double v = double(float(double(fixed) / 65536.0));
    const bool negative = v < 0.0;
    if (negative)
        v = -v;
    int64_t num, den = 1;
    while (v != std::floor(v)) {
        v *= 2.0;
        den *= 2;
    }
    num = int64_t(v);

    // Continued fraction with the denominator limited to maxDenominator.
    struct Fraction {
        int64_t num, den;
    } a0{0, 1}, a1{1, 0};
    for (int step = 0;;) {
        int64_t x = den ? num / den : 0;
        if (step != 0 && x == 0)
            break;
        int64_t next = den ? num % den : 0;
        int64_t d2 = x * a1.den + a0.den;
        num = den;
        den = next;
        if (d2 >= maxDenominator) {
            int64_t xp = (maxDenominator - a0.den) / a1.den;
            if (2 * xp < x && a1.den < maxDenominator)
                break;
            x = xp;
            step = 65;
        }
        ++step;
        Fraction n{x * a1.num + a0.num, x * a1.den + a0.den};
        a0 = a1;
        a1 = n;
        if (step >= 64)
            break;
    }
    return {int32_t(negative ? -a1.num : a1.num), int32_t(a1.den)};
}

int32_t rationalToFixed(int32_t num, int32_t den) { return int32_t(std::lround(double(num) / den * 65536.0)); }

uint64_t framesInSeconds(double seconds, int32_t num, int32_t den)
{
    return uint64_t(std::llround(seconds * num / den));
}

uint64_t firstSampleOfFrame(uint64_t frame, uint32_t sampleRate, int32_t num, int32_t den)
{
    return num > 0 && den > 0 ? frame * uint64_t(sampleRate) * uint64_t(den) / uint64_t(num) : 0;
}

}  // namespace nox
