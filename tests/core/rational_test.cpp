#include <gtest/gtest.h>

#include "core/rational.h"

TEST(Rates, FixedPointRatesBecomeFractions)
{
    // 29.97, 23.976, 59.94, whole rates, 12.5, none, negative, and 1/65536 (nearer 0 than any n/d with d <= 5000).
    const struct {
        int32_t fixed;
        int32_t num, den;
    } cases[] = {{1964114, 148861, 4967}, {1571291, 91900, 3833},
                 {3928228, 297722, 4967}, {24 << 16, 24, 1},
                 {25 << 16, 25, 1},       {60 << 16, 60, 1},
                 {(25 << 16) / 2, 25, 2}, {0, 0, 1},
                 {-(25 << 16), -25, 1},   {1, 0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(nox::doubleToRational(c.fixed, 5000), std::make_pair(c.num, c.den)) << c.fixed;
}
