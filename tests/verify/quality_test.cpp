// The measures verify reports: PSNR per channel, SSIM and their totals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "verify/quality.h"

namespace {

using namespace zemo3;

std::vector<uint8_t> texturedPicture(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            px[0] = uint8_t(40 + (x * 7 + y * 3) % 150), px[1] = uint8_t(60 + (x * x + y) % 120);
            px[2] = uint8_t(30 + (y * 11) % 180), px[3] = uint8_t(20 + (x * 5) % 200);
        }
    return p;
}

TEST(Quality, ChannelErrorsAndWhichChannelsCount)
{
    const uint32_t w = 24, h = 16;
    const std::vector<uint8_t> source = texturedPicture(w, h);
    struct Case {
        const char* name;
        int channel, delta;
        bool alpha;
        double mseAll;  // expected combined mean squared error, 0 for none
    } cases[] = {
        {"identical", 0, 0, true, 0},
        {"red off by two", 0, 2, false, 4.0 / 3},
        {"red off by two, alpha counted", 0, 2, true, 1},
        {"alpha ignored without alpha", 3, 9, false, 0},
        {"alpha counted with alpha", 3, 2, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> decoded = source;
        for (size_t i = size_t(c.channel); i < decoded.size(); i += 4)
            decoded[i] = uint8_t(decoded[i] + c.delta);
        FrameQuality q = comparePictures(decoded.data(), source.data(), w, h, w * 4, c.alpha);
        const double psnrAll = c.mseAll ? 10 * std::log10(65025.0 / c.mseAll) : INFINITY;
        EXPECT_TRUE(q.psnrAll == psnrAll || std::fabs(q.psnrAll - psnrAll) < 1e-9) << q.psnrAll;
        EXPECT_NEAR(q.mse[c.channel], double(c.delta * c.delta), 1e-12);
        EXPECT_NEAR(c.delta == 2 && c.channel == 0 ? q.psnr[0] : 42.1102, 42.1102, 1e-4);
        EXPECT_LE(q.ssim, 1.0 + 1e-12);
        EXPECT_GT(q.ssim, c.channel == 3 && !c.alpha ? 0.999999 : 0.98);
    }
}

TEST(Quality, SsimFallsWithStructureNotWithSize)
{
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{4, 4}, {7, 9}, {8, 8}, {33, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const std::vector<uint8_t> a = texturedPicture(w, h);
        std::vector<uint8_t> inverted = a;
        for (auto& v : inverted)
            v = uint8_t(255 - v);
        EXPECT_NEAR(channelSsim(a.data(), a.data(), w, h, w * 4, 1), 1.0, 1e-12);
        EXPECT_LT(channelSsim(inverted.data(), a.data(), w, h, w * 4, 1), 0.3);
    }
}

TEST(Quality, TotalsPoolErrorsAndKeepTheWorstFrame)
{
    QualityTotals totals;
    const double mse[3] = {0, 8, 2}, ssim[3] = {1, 0.5, 0.9};
    for (int n = 0; n < 3; ++n) {
        FrameQuality q;
        for (int c = 0; c < 3; ++c)
            q.mse[c] = mse[n];
        q.psnrAll = psnrFromMse(mse[n]);
        q.ssim = ssim[n];
        totals.add(uint64_t(n), q);
    }
    // The overall figure is the PSNR of the mean MSE, not the mean PSNR
    // (which an error-free frame would make infinite).
    EXPECT_NEAR(totals.psnrAll(), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.psnr(1), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.ssim(), 0.8, 1e-12);
    EXPECT_EQ(totals.worstFrame, 1u);
}

}  // namespace
