#include <gtest/gtest.h>

#include "core/rational.h"

TEST(Rates, FixedPointRatesBecomeFractions)
{
    // 29.97, 23.976, 59.94, whole rates, 12.5, none, negative, 1/65536 (nearer 0 than any n/d with d <= 5000),
    // and 29.00056, whose last step is cut to exactly half its quotient (taken, not dropped).
    const struct {
        int32_t fixed;
        int32_t num, den;
    } cases[] = {{1964114, 148861, 4967}, {1571291, 91900, 3833},
                 {3928228, 297722, 4967}, {24 << 16, 24, 1},
                 {25 << 16, 25, 1},       {60 << 16, 60, 1},
                 {(25 << 16) / 2, 25, 2}, {0, 0, 1},
                 {-(25 << 16), -25, 1},   {1, 0, 1},
                 {1900581, 102749, 3543}};
    for (const auto& c : cases)
        EXPECT_EQ(nox::movieRateOfFixed(c.fixed), std::make_pair(c.num, c.den)) << c.fixed;
}

TEST(Rates, FractionsAsTheHostCarriesThemAndWhereEachFrameSoundStarts)
{
    // num/den, its 16.16 value, and the first sample of frames 1 and 1001 at 48 kHz.
    // clang-format off
    const struct {
        int32_t num, den, fixed;
        uint64_t first1, first1001;
    } cases[] = {{30000, 1001, 1964116, 1601, 1603201}, {25, 1, 25 << 16, 1920, 1921920},
                 {24, 1, 24 << 16, 2000, 2002000}, {1, 100000, 1, 4800000000, 4804800000000},
                 {1, 1000000, 0, 48000000000, 48048000000000}, {0, 1, 0, 0, 0}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
        EXPECT_EQ(nox::rationalToFixed(c.num, c.den), c.fixed);
        EXPECT_EQ(nox::firstSampleOfFrame(1, 48000, c.num, c.den), c.first1);
        EXPECT_EQ(nox::firstSampleOfFrame(1001, 48000, c.num, c.den), c.first1001);
    }
    // Seconds to frames rounds to nearest: 10 s at 29.97 is 299.7 frames.
    EXPECT_EQ(nox::framesInSeconds(10, 30000, 1001), 300u);
    EXPECT_EQ(nox::framesInSeconds(0.02, 25, 1), 1u);
    EXPECT_EQ(nox::framesInSeconds(0.019, 25, 1), 0u);
}
