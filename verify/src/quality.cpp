#include "verify/quality.h"

#include <cmath>
#include <limits>
#include <vector>

#include "core/ssim.h"

namespace zemo3 {

namespace {

struct Sums {
    uint64_t a = 0, b = 0, aa = 0, bb = 0, ab = 0;
    void operator+=(const Sums& o) { a += o.a, b += o.b, aa += o.aa, bb += o.bb, ab += o.ab; }
};

double ssimOf(const Sums& s, double n)
{
    return nox::ssimOfSums(double(s.a), double(s.b), double(s.aa), double(s.bb), double(s.ab), n);
}

Sums sumRect(const uint8_t* a, const uint8_t* b, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, size_t stride,
             int channel)
{
    Sums s;
    for (uint32_t y = y0; y < y0 + h; ++y) {
        const uint8_t* pa = a + y * stride + size_t(x0) * 4 + size_t(channel);
        const uint8_t* pb = b + y * stride + size_t(x0) * 4 + size_t(channel);
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t va = pa[4 * x], vb = pb[4 * x];
            s.a += va, s.b += vb, s.aa += va * va, s.bb += vb * vb, s.ab += va * vb;
        }
    }
    return s;
}

}  // namespace

double psnrFromMse(double mse)
{
    if (mse <= 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

double channelSsim(const uint8_t* a, const uint8_t* b, uint32_t width, uint32_t height, size_t stride, int channel)
{
    if (width < 8 || height < 8)
        return ssimOf(sumRect(a, b, 0, 0, width, height, stride, channel), double(width) * height);
    // Sums of 4x4 blocks; every 8x8 window is a 2x2 group of them, so windows
    // every 4 pixels cost one block pass plus four additions each.
    const uint32_t bw = width / 4, bh = height / 4;
    std::vector<Sums> blocks(size_t(bw) * bh);
    for (uint32_t by = 0; by < bh; ++by)
        for (uint32_t bx = 0; bx < bw; ++bx)
            blocks[size_t(by) * bw + bx] = sumRect(a, b, bx * 4, by * 4, 4, 4, stride, channel);
    double total = 0;
    for (uint32_t by = 0; by + 1 < bh; ++by)
        for (uint32_t bx = 0; bx + 1 < bw; ++bx) {
            Sums s = blocks[size_t(by) * bw + bx];
            s += blocks[size_t(by) * bw + bx + 1];
            s += blocks[size_t(by + 1) * bw + bx];
            s += blocks[size_t(by + 1) * bw + bx + 1];
            total += ssimOf(s, 64);
        }
    return total / (double(bw - 1) * double(bh - 1));
}

FrameQuality comparePictures(const uint8_t* decoded, const uint8_t* source, uint32_t width, uint32_t height,
                             size_t stride, bool alpha, bool withSsim)
{
    FrameQuality q;
    q.alpha = alpha;
    uint64_t sq[4] = {0, 0, 0, 0};
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* d = decoded + y * stride;
        const uint8_t* s = source + y * stride;
        for (uint32_t x = 0; x < uint32_t(width) * 4; x += 4)
            for (int c = 0; c < 4; ++c) {
                const int e = int(d[x + uint32_t(c)]) - int(s[x + uint32_t(c)]);
                sq[c] += uint64_t(e * e);
            }
    }
    const double n = double(width) * height;
    const int channels = alpha ? 4 : 3;
    double mseAll = 0, ssim = 0;
    for (int c = 0; c < 4; ++c) {
        q.mse[c] = n > 0 ? double(sq[c]) / n : 0;
        q.psnr[c] = psnrFromMse(q.mse[c]);
        if (c < channels) {
            mseAll += q.mse[c];
            ssim += withSsim ? channelSsim(decoded, source, width, height, stride, c) : 0.0;
        }
    }
    q.psnrAll = psnrFromMse(mseAll / channels);
    q.ssim = withSsim ? ssim / channels : NAN;
    return q;
}

void QualityTotals::add(uint64_t frame, const FrameQuality& q)
{
    if (frames == 0 || q.psnrAll < worst.psnrAll) {
        worst = q;
        worstFrame = frame;
    }
    ++frames;
    alpha = q.alpha;
    for (int c = 0; c < 4; ++c)
        mseSum[c] += q.mse[c];
    ssimSum += q.ssim;
}

double QualityTotals::psnr(int channel) const { return frames ? psnrFromMse(mseSum[channel] / double(frames)) : 0; }

double QualityTotals::psnrAll() const
{
    if (!frames)
        return 0;
    const int channels = alpha ? 4 : 3;
    double mse = 0;
    for (int c = 0; c < channels; ++c)
        mse += mseSum[c];
    return psnrFromMse(mse / channels / double(frames));
}

}  // namespace zemo3
