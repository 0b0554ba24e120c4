// Picture quality against a reference: PSNR per channel and SSIM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zemo3 {

// PSNR in dB of an 8-bit mean squared error; +infinity for 0.
double psnrFromMse(double mse);

// How one decoded picture compares with its source. Channels R, G, B, A.
struct FrameQuality {
    double mse[4] = {0, 0, 0, 0};
    double psnr[4] = {0, 0, 0, 0};
    double psnrAll = 0;  // from the mean MSE of the compared channels
    double ssim = 1;     // mean SSIM of the compared channels
    bool alpha = false;  // whether A was compared
};

// Compares two width x height RGBA pictures (rows `stride` bytes apart in
// both). A counts in psnrAll and ssim only when `alpha` is set: types that
// store no alpha decode A = 255 whatever the source held (its mse and psnr
// are there either way). Without withSsim, ssim is not measured (NaN).
FrameQuality comparePictures(const uint8_t* decoded, const uint8_t* source, uint32_t width, uint32_t height,
                             size_t stride, bool alpha, bool withSsim = true);

// SSIM of one channel (`channel` 0..3 of RGBA pixels): the mean over 8x8
// windows placed every 4 pixels, with the usual constants for 8-bit values
// (K1 = 0.01, K2 = 0.03). Pictures smaller than a window are one window.
double channelSsim(const uint8_t* a, const uint8_t* b, uint32_t width, uint32_t height, size_t stride, int channel);

// Totals over a movie: the overall PSNR comes from the MSE summed over every
// frame (not from averaging per-frame PSNRs), SSIM is the mean per frame,
// and the worst frame is the one with the lowest combined PSNR.
struct QualityTotals {
    uint64_t frames = 0;
    double mseSum[4] = {0, 0, 0, 0};
    double ssimSum = 0;
    bool alpha = false;
    uint64_t worstFrame = 0;
    FrameQuality worst;

    void add(uint64_t frame, const FrameQuality& q);
    double psnr(int channel) const;
    double psnrAll() const;
    double ssim() const { return frames ? ssimSum / double(frames) : 0; }
};

}  // namespace zemo3
