#include "codec/dxt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/bytes.h"
#include "dxt_internal.h"
#include "dxt_tables.h"

namespace nox {

namespace {

constexpr DxtTables makeTables()
{
    DxtTables t{};
    for (int i = 0; i < 32; ++i)
        t.expand5[i] = uint8_t((i << 3) | (i >> 2));
    for (int i = 0; i < 64; ++i)
        t.expand6[i] = uint8_t((i << 2) | (i >> 4));
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 2; ++k) {
            t.omatch5[v][k] = detail::kOMatch5[v][k];
            t.omatch6[v][k] = detail::kOMatch6[v][k];
        }
    return t;
}

// Built by the compiler: the tables sit in read-only data, so there is no
// first-use race and nothing is ever built twice.
constexpr DxtTables kTables = makeTables();

inline int mul8(int a, int m)
{
    const int t = a * m + 128;
    return (t + (t >> 8)) >> 8;
}

inline uint16_t packMatched(int r, int g, int b, int which)
{
    return uint16_t((kTables.omatch5[r][which] << 11) | (kTables.omatch6[g][which] << 5) | kTables.omatch5[b][which]);
}

// The four colours a decoder derives from (c0, c1) in four-colour mode,
// with the truncating thirds the index search is defined against.
struct Palette {
    int c[4][3];
};

inline Palette palette(uint16_t c0, uint16_t c1)
{
    Palette p;
    p.c[0][0] = kTables.expand5[c0 >> 11];
    p.c[0][1] = kTables.expand6[(c0 >> 5) & 63];
    p.c[0][2] = kTables.expand5[c0 & 31];
    p.c[1][0] = kTables.expand5[c1 >> 11];
    p.c[1][1] = kTables.expand6[(c1 >> 5) & 63];
    p.c[1][2] = kTables.expand5[c1 & 31];
    for (int ch = 0; ch < 3; ++ch) {
        p.c[2][ch] = (2 * p.c[0][ch] + p.c[1][ch]) / 3;
        p.c[3][ch] = (p.c[0][ch] + 2 * p.c[1][ch]) / 3;
    }
    return p;
}

// Index of every pixel against the palette. Instead of a distance search
// the pixels are projected on the endpoint direction and compared against
// the midpoints between neighbouring palette stops along it (order on the
// line: 1, 3, 2, 0).
template <class K>
uint32_t matchColors(const uint8_t* block, const Palette& p)
{
    detail::ColorLine line;
    line.dirR = p.c[0][0] - p.c[1][0];
    line.dirG = p.c[0][1] - p.c[1][1];
    line.dirB = p.c[0][2] - p.c[1][2];
    int stops[4];
    for (int k = 0; k < 4; ++k)
        stops[k] = p.c[k][0] * line.dirR + p.c[k][1] * line.dirG + p.c[k][2] * line.dirB;
    line.c0Point = (stops[1] + stops[3]) >> 1;
    line.halfPoint = (stops[3] + stops[2]) >> 1;
    line.c3Point = (stops[2] + stops[0]) >> 1;
    return K::assign(block, line);
}

// Endpoints from the principal axis of the block's colours: the axis comes
// from four power iterations on the covariance matrix (float), the
// endpoints are the pixels with the smallest and largest projection on it.
template <class K>
void optimizeColors(const uint8_t* block, const detail::BlockStats& st, const int mu[3], uint16_t& max16,
                    uint16_t& min16)
{
    int cov[6];
    K::covariance(block, mu, cov);
    const float c[6] = {float(cov[0]) / 255.0f, float(cov[1]) / 255.0f, float(cov[2]) / 255.0f,
                        float(cov[3]) / 255.0f, float(cov[4]) / 255.0f, float(cov[5]) / 255.0f};

    float vr = float(st.max[0] - st.min[0]), vg = float(st.max[1] - st.min[1]), vb = float(st.max[2] - st.min[2]);
    for (int iter = 0; iter < 4; ++iter) {
        const float r = vr * c[0] + vg * c[1] + vb * c[2];
        const float g = vr * c[1] + vg * c[3] + vb * c[4];
        const float b = vr * c[2] + vg * c[4] + vb * c[5];
        vr = r;
        vg = g;
        vb = b;
    }

    double magn = std::fabs(double(vr));
    if (std::fabs(double(vg)) > magn)
        magn = std::fabs(double(vg));
    if (std::fabs(double(vb)) > magn)
        magn = std::fabs(double(vb));

    int axisR, axisG, axisB;
    if (magn < 4.0) {
        // Too little spread to trust the iteration: project on luminance.
        axisR = 299;
        axisG = 587;
        axisB = 114;
    } else {
        // |v| / magn <= 1, so every component lies within -512..512.
        const double scale = 512.0 / magn;
        axisR = int(double(vr) * scale);
        axisG = int(double(vg) * scale);
        axisB = int(double(vb) * scale);
    }

    int minIndex, maxIndex;
    K::extremes(block, axisR, axisG, axisB, minIndex, maxIndex);
    const uint8_t* maxPx = block + 4 * maxIndex;
    const uint8_t* minPx = block + 4 * minIndex;
    max16 = as565(maxPx[0], maxPx[1], maxPx[2]);
    min16 = as565(minPx[0], minPx[1], minPx[2]);
}

inline int clampTrunc(float f, int limit) { return std::clamp(int(f), 0, limit); }

// Least-squares endpoints for the current indices: solves the 2x2 normal
// equations of "pixel = w0*c0 + w1*c1" with the weights of each index, in
// float, scaled straight into 5:6:5 steps. Returns whether an endpoint moved.
template <class K>
bool refine(const uint8_t* block, const detail::BlockStats& st, const int mu[3], uint16_t& max16, uint16_t& min16,
            uint32_t mask)
{
    const uint16_t oldMin = min16, oldMax = max16;

    if ((mask ^ (mask << 2)) < 4) {
        // All sixteen indices equal: the system is singular; use the
        // endpoint pair that best reproduces the average colour, which is
        // the rounded mean.
        max16 = packMatched(mu[0], mu[1], mu[2], 0);
        min16 = packMatched(mu[0], mu[1], mu[2], 1);
    } else {
        int at1[3];
        uint32_t akku;
        K::weightedSums(block, mask, at1, akku);
        const int at2R = 3 * st.sum[0] - at1[0], at2G = 3 * st.sum[1] - at1[1], at2B = 3 * st.sum[2] - at1[2];
        const int xx = int(akku >> 16);
        const int yy = int((akku >> 8) & 0xFF);
        const int xy = int(akku & 0xFF);

        // 0.36470589f = 3*31/255: undoes the weights' factor 3 and maps 8 bits to 5.
        const float frb = 0.36470589f / float(xx * yy - xy * xy);
        const float fg = frb * 63.0f / 31.0f;

        max16 = uint16_t((clampTrunc(float(at1[0] * yy - at2R * xy) * frb + 0.5f, 31) << 11) |
                         (clampTrunc(float(at1[1] * yy - at2G * xy) * fg + 0.5f, 63) << 5) |
                         clampTrunc(float(at1[2] * yy - at2B * xy) * frb + 0.5f, 31));
        min16 = uint16_t((clampTrunc(float(at2R * xx - at1[0] * xy) * frb + 0.5f, 31) << 11) |
                         (clampTrunc(float(at2G * xx - at1[1] * xy) * fg + 0.5f, 63) << 5) |
                         clampTrunc(float(at2B * xx - at1[2] * xy) * frb + 0.5f, 31));
    }
    return oldMin != min16 || oldMax != max16;
}

template <class K>
void encodeColorBlockWithKernel(uint8_t* destination, const uint8_t* block)
{
    const uint32_t first = loadLe32(block);
    bool constant = true;
    for (int i = 1; i < 16 && constant; ++i)
        constant = loadLe32(block + 4 * i) == first;

    uint16_t max16, min16;
    uint32_t mask;
    if (constant) {
        // Every pixel at the two-thirds point of the best-matching pair.
        max16 = packMatched(block[0], block[1], block[2], 0);
        min16 = packMatched(block[0], block[1], block[2], 1);
        mask = 0xAAAAAAAAu;
    } else {
        detail::BlockStats st;
        K::stats(block, st);
        const int mu[3] = {(st.sum[0] + 8) >> 4, (st.sum[1] + 8) >> 4, (st.sum[2] + 8) >> 4};
        optimizeColors<K>(block, st, mu, max16, min16);
        mask = max16 != min16 ? matchColors<K>(block, palette(max16, min16)) : 0;

        // Two rounds of least squares, each followed by a new index search;
        // stops as soon as the endpoints or the indices settle.
        for (int round = 0; round < 2; ++round) {
            const uint32_t lastMask = mask;
            if (!refine<K>(block, st, mu, max16, min16, mask))
                break;
            if (max16 == min16) {
                mask = 0;
                break;
            }
            mask = matchColors<K>(block, palette(max16, min16));
            if (mask == lastMask)
                break;
        }
    }

    // Four-colour mode needs c0 > c1: swap the endpoints and exchange
    // indices 0<->1 and 2<->3.
    if (max16 < min16) {
        const uint16_t t = max16;
        max16 = min16;
        min16 = t;
        mask ^= 0x55555555u;
    }
    storeLe16(destination, max16);
    storeLe16(destination + 2, min16);
    storeLe32(destination + 4, mask);
}

template <class R>
void alphaBlockWithKernel(uint8_t* destination, const uint8_t* block)
{
    uint16_t values[16];
    for (int i = 0; i < 16; ++i)
        values[i] = block[4 * i + 3];
    int mn, mx;
    R::minMax(values, mn, mx);
    destination[0] = uint8_t(mx);
    destination[1] = uint8_t(mn);
    if (mn == mx) {
        std::memset(destination + 2, 0, 6);
        return;
    }
    // The bias rounds each value to the nearest ramp step (half a step, plus
    // a little more for wide ranges; nearly a full step for very narrow ones).
    const int dist = mx - mn;
    const int bias = (dist < 8 ? dist - 1 : dist / 2 + 2) - 7 * mn;
    R::indices(destination + 2, values, dist, bias);
}

}  // namespace

namespace detail {

void ScalarColorKernels::stats(const uint8_t* block, BlockStats& s)
{
    s = {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}};
    for (int i = 0; i < 16; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const int v = block[4 * i + ch];
            s.sum[ch] += v;
            s.min[ch] = v < s.min[ch] ? v : s.min[ch];
            s.max[ch] = v > s.max[ch] ? v : s.max[ch];
        }
}

void ScalarColorKernels::covariance(const uint8_t* block, const int mu[3], int cov[6])
{
    int rr = 0, rg = 0, rb = 0, gg = 0, gb = 0, bb = 0;
    for (int i = 0; i < 16; ++i) {
        const int r = block[4 * i] - mu[0], g = block[4 * i + 1] - mu[1], b = block[4 * i + 2] - mu[2];
        rr += r * r;
        rg += r * g;
        rb += r * b;
        gg += g * g;
        gb += g * b;
        bb += b * b;
    }
    cov[0] = rr;
    cov[1] = rg;
    cov[2] = rb;
    cov[3] = gg;
    cov[4] = gb;
    cov[5] = bb;
}

void ScalarColorKernels::extremes(const uint8_t* block, int axisR, int axisG, int axisB, int& minIndex, int& maxIndex)
{
    // On ties the earlier pixel stays, and a new minimum is never also
    // taken as a new maximum.
    int minDot = block[0] * axisR + block[1] * axisG + block[2] * axisB;
    int maxDot = minDot;
    minIndex = maxIndex = 0;
    for (int i = 1; i < 16; ++i) {
        const uint8_t* px = block + 4 * i;
        const int dot = px[0] * axisR + px[1] * axisG + px[2] * axisB;
        const bool below = dot < minDot;
        const bool above = !below && dot > maxDot;
        minDot = below ? dot : minDot;
        minIndex = below ? i : minIndex;
        maxDot = above ? dot : maxDot;
        maxIndex = above ? i : maxIndex;
    }
}

uint32_t ScalarColorKernels::assign(const uint8_t* block, const ColorLine& line)
{
    uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) {
        const uint8_t* px = block + 4 * i;
        const int dot = px[0] * line.dirR + px[1] * line.dirG + px[2] * line.dirB;
        // Below the half point: 1 or 3; above it: 2 or 0 (branch-free).
        const uint32_t low = uint32_t(dot < line.halfPoint);
        const uint32_t index = low ? 3u - 2u * uint32_t(dot < line.c0Point) : 2u * uint32_t(dot < line.c3Point);
        mask |= index << (2 * i);
    }
    return mask;
}

void ScalarColorKernels::weightedSums(const uint8_t* block, uint32_t mask, int at1[3], uint32_t& akku)
{
    static constexpr int kW1[4] = {3, 0, 2, 1};
    static constexpr uint32_t kProducts[4] = {0x090000, 0x000900, 0x040102, 0x010402};
    int r = 0, g = 0, b = 0;
    uint32_t products = 0;
    for (int i = 0; i < 16; ++i) {
        const uint32_t step = (mask >> (2 * i)) & 3;
        const int w1 = kW1[step];
        r += w1 * block[4 * i];
        g += w1 * block[4 * i + 1];
        b += w1 * block[4 * i + 2];
        products += kProducts[step];
    }
    at1[0] = r;
    at1[1] = g;
    at1[2] = b;
    akku = products;
}

}  // namespace detail

void buildTables() {}

const DxtTables& dxtTables() { return kTables; }

uint16_t as565(uint8_t r, uint8_t g, uint8_t b)
{
    return uint16_t((mul8(r, 31) << 11) + (mul8(g, 63) << 5) + mul8(b, 31));
}

void fetchBlock(const uint8_t* image, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t block[64])
{
    const size_t stride = size_t(width) * 4;
    if (width - x >= 4 && height - y >= 4) {
        const uint8_t* src = image + size_t(y) * stride + size_t(x) * 4;
        for (int j = 0; j < 4; ++j)
            std::memcpy(block + 16 * j, src + size_t(j) * stride, 16);
        return;
    }
    // Partial block: repeat the pixels that exist so the block keeps the
    // colours of the picture and no decoder sees foreign ones.
    static constexpr uint8_t kOffsets[5][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 2, 0}, {0, 1, 2, 3}};
    const uint32_t kc = width - x < 4 ? width - x : 4;
    const uint32_t kr = height - y < 4 ? height - y : 4;
    for (int j = 0; j < 4; ++j) {
        const uint8_t* row = image + size_t(y + kOffsets[kr][j]) * stride;
        for (int i = 0; i < 4; ++i)
            std::memcpy(block + 4 * (4 * j + i), row + size_t(x + kOffsets[kc][i]) * 4, 4);
    }
}

namespace {

#if defined(__SSE2__)
// Whether the level runs the SSE2 block encoders: the Sse2 level and, for
// single blocks, the ones above it (see encodeColorBlockWith).
bool sse2Blocks(SimdLevel level) { return runnableSimdLevel(level) >= SimdLevel::Sse2; }
#endif

template <class K, class R, bool kAlpha>
void blockByBlockTexture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    const size_t stride = size_t(width) * 4;
    alignas(16) uint8_t block[64];
    for (uint32_t y = 0; y < height; y += 4) {
        const uint8_t* row = picture + size_t(y) * stride;
        for (uint32_t x = 0; x < width; x += 4) {
            for (int j = 0; j < 4; ++j)
                std::memcpy(block + 16 * j, row + size_t(j) * stride + size_t(x) * 4, 16);
            if (kAlpha) {
                alphaBlockWithKernel<R>(texture, block);
                texture += 8;
            }
            encodeColorBlockWithKernel<K>(texture, block);
            texture += 8;
        }
    }
}

template <bool kAlpha>
void encodeTextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    const detail::LaneEncoders* lanes = nullptr;
#if defined(__x86_64__)
    const SimdLevel runs = runnableSimdLevel(level);
    if (runs == SimdLevel::Avx512)
        lanes = &detail::kAvx512LaneEncoders;
    else if (runs == SimdLevel::Avx2)
        lanes = &detail::kAvx2LaneEncoders;
    else if (runs == SimdLevel::Sse41)
        lanes = &detail::kSse41LaneEncoders;
#endif
    if (lanes) {
        (kAlpha ? lanes->dxt5Texture : lanes->dxt1Texture)(picture, width, height, texture);
        return;
    }
#if defined(__SSE2__)
    if (sse2Blocks(level)) {
        blockByBlockTexture<detail::Sse2ColorKernels, detail::Sse2RampKernels, kAlpha>(picture, width, height, texture);
        return;
    }
#endif
    blockByBlockTexture<detail::ScalarColorKernels, detail::ScalarRampKernels, kAlpha>(picture, width, height, texture);
}

}  // namespace

// Single blocks at the SSE4.1 and AVX2 levels use the SSE2 block encoder:
// the multi-block encoders need a vector of blocks, and running one block in
// every lane is slower. Only the texture functions reach them.
void encodeColorBlockWith(SimdLevel level, uint8_t* destination, const uint8_t* block)
{
#if defined(__SSE2__)
    if (sse2Blocks(level)) {
        encodeColorBlockWithKernel<detail::Sse2ColorKernels>(destination, block);
        return;
    }
#endif
    encodeColorBlockWithKernel<detail::ScalarColorKernels>(destination, block);
}

void encodeColorBlock(uint8_t* destination, const uint8_t* block)
{
    encodeColorBlockWith(activeSimdLevel(), destination, block);
}

void encodeAlphaBlockWith(SimdLevel level, uint8_t* destination, const uint8_t* block)
{
#if defined(__SSE2__)
    if (sse2Blocks(level)) {
        alphaBlockWithKernel<detail::Sse2RampKernels>(destination, block);
        return;
    }
#endif
    alphaBlockWithKernel<detail::ScalarRampKernels>(destination, block);
}

void encodeAlphaBlock(uint8_t* destination, const uint8_t* block)
{
    encodeAlphaBlockWith(activeSimdLevel(), destination, block);
}

void encodeDxt1TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    encodeTextureWith<false>(level, picture, width, height, texture);
}

void encodeDxt5TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    encodeTextureWith<true>(level, picture, width, height, texture);
}

void encodeDxt1Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    encodeDxt1TextureWith(activeSimdLevel(), picture, width, height, texture);
}

void encodeDxt5Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    encodeDxt5TextureWith(activeSimdLevel(), picture, width, height, texture);
}

}  // namespace nox
