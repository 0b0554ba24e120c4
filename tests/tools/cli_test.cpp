// The command's own argument parsing.
#include <gtest/gtest.h>

#include <tuple>

#include "cli.h"

namespace {

using namespace zemo3;

TEST(CommandLine, RatesAndSizes)
{
    // Text, and the rate it gives (0/0: refused).
    for (auto [text, num, den] : {std::tuple{"25", 25, 1}, {"29.97", 29970, 1000}, {"30000/1001", 30000, 1001},
                                  {"12.5", 12500, 1000}, {"0", 0, 0}, {"fast", 0, 0}, {"30/0", 0, 0}, {"25x", 0, 0},
                                  {"5000", 0, 0}}) {
        int32_t n = 0, d = 0;
        EXPECT_EQ(parseRate(text, &n, &d), num != 0) << text;
        EXPECT_EQ(std::pair(num ? n : 0, num ? d : 0), std::pair(num, den)) << text;
    }
    uint32_t w = 0, h = 0;
    EXPECT_TRUE(parseSizeText("1920x1080", &w, &h));
    EXPECT_EQ(std::pair(w, h), std::pair(1920u, 1080u));
    for (const char* bad : {"1920", "0x10", "10x0", "x10", "99999x10", "10x-1"})
        EXPECT_FALSE(parseSizeText(bad, &w, &h)) << bad;
}

}  // namespace
