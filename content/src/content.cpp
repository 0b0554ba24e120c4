#include "content/content.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavutil/frame.h>
}

namespace zemo3::content {

namespace {

uint8_t clamp8(double v) { return uint8_t(v <= 0 ? 0 : v >= 255 ? 255 : std::lround(v)); }

// 32-bit integer hash (lowbias32); the noise and the photo's grain and
// texture are made from it so every frame is reproducible.
uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

uint32_t hash2(int32_t x, int32_t y, uint32_t seed)
{
    return hash32(uint32_t(x) * 0x9E3779B1U ^ hash32(uint32_t(y) + seed));
}

double smooth(double t) { return t * t * (3 - 2 * t); }

// ------------------------------------------------------------------ lavfi

class LavfiSource : public ContentSource {
public:
    ~LavfiSource() override
    {
        av_frame_free(&frame_);
        avfilter_graph_free(&graph_);
    }

    bool open(const std::string& description, uint32_t width, uint32_t height)
    {
        width_ = width;
        height_ = height;
        graph_ = avfilter_graph_alloc();
        frame_ = av_frame_alloc();
        if (!graph_ || !frame_)
            return failed("out of memory");
        // One thread: the sources are rendered once, before anything is timed.
        graph_->nb_threads = 1;
        AVFilterInOut* inputs = nullptr;
        AVFilterInOut* outputs = nullptr;
        int err = avfilter_graph_parse2(graph_, description.c_str(), &inputs, &outputs);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (err < 0)
            return failed("libavfilter cannot parse '" + description + "'");
        for (unsigned i = 0; i < graph_->nb_filters && !sink_; ++i)
            if (std::strcmp(graph_->filters[i]->filter->name, "buffersink") == 0)
                sink_ = graph_->filters[i];
        if (!sink_ || avfilter_graph_config(graph_, nullptr) < 0)
            return failed("libavfilter cannot set up '" + description + "'");
        return true;
    }

    bool next(std::vector<uint8_t>* rgba) override
    {
        if (av_buffersink_get_frame(sink_, frame_) < 0)
            return failed("libavfilter produced no frame");
        const bool fits = frame_->format == AV_PIX_FMT_RGBA && uint32_t(frame_->width) == width_ &&
                          uint32_t(frame_->height) == height_;
        if (fits) {
            rgba->resize(size_t(width_) * height_ * 4);
            for (uint32_t y = 0; y < height_; ++y)
                std::memcpy(rgba->data() + size_t(y) * width_ * 4,
                            frame_->data[0] + size_t(y) * size_t(frame_->linesize[0]), size_t(width_) * 4);
            applyMatte(rgba->data(), width_, height_, n_++);
        }
        av_frame_unref(frame_);
        return fits || failed("libavfilter gave a frame of another size or format");
    }

private:
    bool failed(const std::string& message)
    {
        error_ = message;
        return false;
    }

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* frame_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    uint64_t n_ = 0;
};

// ------------------------------------------------------------------ photo

// Value noise on a lattice of `period` pixels, 0..1.
double valueNoise(int32_t x, int32_t y, int32_t period, uint32_t seed)
{
    const int32_t cx = x >= 0 ? x / period : (x - period + 1) / period;
    const int32_t cy = y >= 0 ? y / period : (y - period + 1) / period;
    const double tx = smooth(double(x - cx * period) / period), ty = smooth(double(y - cy * period) / period);
    auto at = [&](int32_t i, int32_t j) { return double(hash2(i, j, seed) >> 8) / double(1 << 24); };
    const double top = at(cx, cy) + (at(cx + 1, cy) - at(cx, cy)) * tx;
    const double bottom = at(cx, cy + 1) + (at(cx + 1, cy + 1) - at(cx, cy + 1)) * tx;
    return top + (bottom - top) * ty;
}

// Fractal texture from periods of 64 down to 2 pixels, about -0.5..0.5.
double fineTexture(int32_t x, int32_t y, uint32_t seed)
{
    double sum = 0, amplitude = 0.5;
    for (int32_t period = 64; period >= 2; period /= 2, amplitude *= 0.62)
        sum += amplitude * (valueNoise(x, y, period, seed + uint32_t(period)) - 0.5);
    return sum;
}

struct Light {
    double u, v, radius, r, g, b;
};

class PhotoSource : public ContentSource {
public:
    PhotoSource(uint32_t width, uint32_t height) : width_(width), height_(height)
    {
        uint32_t s = 2024;
        auto rnd = [&] { return double((s = hash32(s + 1)) >> 8) / double(1 << 24); };
        for (Light& l : lights_) {
            l.u = rnd() * 1.2 - 0.1;
            l.v = rnd() * 0.5;
            l.radius = 0.02 + 0.05 * rnd();
            l.r = 180 + 75 * rnd();
            l.g = 140 + 80 * rnd();
            l.b = 90 + 120 * rnd();
        }
    }

    bool next(std::vector<uint8_t>* rgba) override
    {
        rgba->resize(size_t(width_) * height_ * 4);
        render(rgba->data(), n_);
        applyMatte(rgba->data(), width_, height_, n_);
        ++n_;
        return true;
    }

private:
    void render(uint8_t* out, uint64_t n) const
    {
        const double w = width_, h = height_, aspect = w / h;
        const int32_t pan = int32_t(n * 3);  // pixels per frame
        const double sunU = 0.22, sunV = 0.28;
        for (uint32_t y = 0; y < height_; ++y) {
            const double v = (y + 0.5) / h;
            for (uint32_t x = 0; x < width_; ++x) {
                const int32_t px = int32_t(x) + pan;
                const double u = (px + 0.5) / w;
                double r, g, b;
                const double far = 0.52 + 0.05 * std::sin(u * 7.1 + 0.4) + 0.03 * std::sin(u * 17.3);
                const double near = 0.66 + 0.07 * std::sin(u * 4.3 + 1.9) + 0.02 * std::sin(u * 23.0 + 0.5);
                if (v < far) {
                    // Sky: deep blue overhead to a warm haze at the horizon,
                    // brightest around the low sun, with soft lights.
                    const double t = v / far;
                    r = 55 + 170 * t;
                    g = 95 + 110 * t;
                    b = 185 - 15 * t;
                    const double du = (u - sunU) * aspect, dv = v - sunV, d2 = du * du + dv * dv;
                    const double glow = std::exp(-d2 * 9.0), core = std::exp(-d2 * 400.0);
                    r += 120 * glow + 90 * core;
                    g += 85 * glow + 90 * core;
                    b += 30 * glow + 80 * core;
                    for (const Light& l : lights_) {
                        const double lu = (u - l.u) * aspect, lv = v - l.v;
                        const double d = std::sqrt(lu * lu + lv * lv) / l.radius;
                        if (d < 1.0) {
                            const double k = 0.35 * (1.0 - smooth(std::clamp((d - 0.8) / 0.2, 0.0, 1.0)));
                            r += (l.r - r) * k;
                            g += (l.g - g) * k;
                            b += (l.b - b) * k;
                        }
                    }
                } else {
                    // Two hill ranges lit from the sun's side; the far one in haze.
                    const bool isNear = v >= near;
                    const double slope = isNear ? std::cos(u * 4.3 + 1.9) : std::cos(u * 7.1 + 0.4);
                    const double lit = 0.75 + 0.25 * slope;
                    const double tex = fineTexture(px, int32_t(y), isNear ? 11u : 23u);
                    const double depth = isNear ? (v - near) / (1 - near) : (v - far) / (near - far);
                    if (isNear) {
                        r = (70 + 40 * depth) * lit + 70 * tex;
                        g = (100 + 20 * depth) * lit + 80 * tex;
                        b = (40 + 10 * depth) * lit + 40 * tex;
                    } else {
                        const double haze = 0.55 - 0.3 * depth;
                        r = ((90 * lit + 40 * tex) * (1 - haze) + 200 * haze);
                        g = ((110 * lit + 45 * tex) * (1 - haze) + 190 * haze);
                        b = ((80 * lit + 25 * tex) * (1 - haze) + 170 * haze);
                    }
                }
                const double cu = u - double(pan) / w - 0.5, cv = v - 0.5;
                const double vignette = 1.0 - 0.45 * (cu * cu + cv * cv) * 2.0;
                // Mild grain: a triangular distribution of about +-3.
                const uint32_t hsh = hash2(int32_t(x), int32_t(y), uint32_t(n) * 7919u + 5u);
                const double grain = (double(hsh & 0xFF) + double((hsh >> 8) & 0xFF)) / 255.0 * 3.0 - 3.0;
                uint8_t* p = out + (size_t(y) * width_ + x) * 4;
                p[0] = clamp8(r * vignette + grain);
                p[1] = clamp8(g * vignette + grain);
                p[2] = clamp8(b * vignette + grain);
                p[3] = 255;
            }
        }
    }

    uint32_t width_, height_;
    uint64_t n_ = 0;
    Light lights_[14];
};

// ------------------------------------------------------------------ noise

class NoiseSource : public ContentSource {
public:
    NoiseSource(uint32_t width, uint32_t height) : bytes_(size_t(width) * height * 4) {}

    bool next(std::vector<uint8_t>* rgba) override
    {
        rgba->resize(bytes_);
        uint32_t s = hash32(uint32_t(n_++) + 0x51ED270BU);
        for (size_t i = 0; i + 4 <= bytes_; i += 4) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            std::memcpy(rgba->data() + i, &s, 4);
        }
        return true;
    }

private:
    size_t bytes_;
    uint64_t n_ = 0;
};

}  // namespace

const std::vector<std::string>& contentNames()
{
    static const std::vector<std::string> names{"testsrc2", "mandelbrot", "smptehdbars", "photo", "noise"};
    return names;
}

const std::vector<std::string>& naturalContentNames()
{
    static const std::vector<std::string> names{"testsrc2", "mandelbrot", "smptehdbars", "photo"};
    return names;
}

bool isContentName(const std::string& name)
{
    const auto& names = contentNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

void applyMatte(uint8_t* rgba, uint32_t width, uint32_t height, uint64_t n)
{
    const double w = width, h = height;
    // A transparent band W/16 wide, moving right by W/40 a frame.
    const uint64_t bandStart = (uint64_t(width) / 5 + n * width / 40) % std::max<uint64_t>(width, 1);
    const uint64_t bandEnd = bandStart + std::max<uint64_t>(1, width / 16);
    for (uint32_t y = 0; y < height; ++y) {
        const double dv = ((y + 0.5) / h - 0.5) / 0.46;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* a = rgba + (size_t(y) * width + x) * 4 + 3;
            if (x >= bandStart && x < bandEnd) {
                *a = 0;
                continue;
            }
            const double du = ((x + 0.5) / w - 0.5) / 0.48;
            const double d = std::sqrt(du * du + dv * dv);
            // Opaque inside 0.7 of the ellipse, fading to 0 at its edge.
            const double m = 1.0 - smooth(std::clamp((d - 0.7) / 0.3, 0.0, 1.0));
            *a = clamp8(*a * m);
        }
    }
}

std::unique_ptr<ContentSource> openContent(const std::string& name, uint32_t width, uint32_t height, std::string* error)
{
    if (!isContentName(name)) {
        std::string known;
        for (const std::string& n : contentNames())
            known += (known.empty() ? "" : ", ") + n;
        *error = "unknown content '" + name + "' (known: " + known + ")";
        return nullptr;
    }
    if (width == 0 || height == 0) {
        *error = "content needs a picture of at least 1x1";
        return nullptr;
    }
    if (name == "photo")
        return std::make_unique<PhotoSource>(width, height);
    if (name == "noise")
        return std::make_unique<NoiseSource>(width, height);
    const std::string size = "size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=25";
    const std::string options = name == "mandelbrot" ? size + ":maxiter=256" : size;
    auto source = std::make_unique<LavfiSource>();
    if (!source->open(name + "=" + options + ",format=rgba,buffersink", width, height)) {
        *error = name + ": " + source->error();
        return nullptr;
    }
    return source;
}

bool renderContent(const std::string& name, uint32_t width, uint32_t height, std::vector<uint8_t>* rgba,
                   std::string* error)
{
    auto source = openContent(name, width, height, error);
    if (!source)
        return false;
    if (source->next(rgba))
        return true;
    *error = name + ": " + source->error();
    return false;
}

bool renderClip(const std::vector<std::string>& names, uint32_t width, uint32_t height, uint64_t frames,
                std::vector<std::vector<uint8_t>>* clip, std::string* error)
{
    clip->assign(size_t(frames), {});
    for (size_t k = 0; k < names.size() && k < frames; ++k) {
        auto source = openContent(names[k], width, height, error);
        if (!source)
            return false;
        for (uint64_t i = k; i < frames; i += names.size())
            if (!source->next(&(*clip)[size_t(i)])) {
                *error = names[k] + ": " + source->error();
                return false;
            }
    }
    if (names.empty() && frames > 0) {
        *error = "no content to render";
        return false;
    }
    return true;
}

}  // namespace zemo3::content
