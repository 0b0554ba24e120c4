// The SSIM of two windows of 8-bit samples, from their sums: what verify
// reports, and what the best tier's YCoCg tile check keeps from falling.
#pragma once

namespace nox {

// n samples; a and b the two windows' sums, aa and bb their sums of
// squares, ab the sum of their products. The usual constants (K1 0.01,
// K2 0.03) for a range of 255.
inline double ssimOfSums(double a, double b, double aa, double bb, double ab, double n)
{
    constexpr double c1 = (0.01 * 255) * (0.01 * 255);
    constexpr double c2 = (0.03 * 255) * (0.03 * 255);
    const double ma = a / n, mb = b / n;
    const double va = aa / n - ma * ma;
    const double vb = bb / n - mb * mb;
    const double cov = ab / n - ma * mb;
    return ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
}

}  // namespace nox
