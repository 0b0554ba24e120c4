#include "content/content.h"

#include <algorithm>
#include <array>
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

// ----------------------------------------------------------------- screen

struct Rgb {
    uint8_t r, g, b;
};

// Pixels x0 <= x < x1, y0 <= y < y1.
struct Box {
    int x0, y0, x1, y1;
    Box inset(int d) const { return {x0 + d, y0 + d, x1 - d, y1 - d}; }
    Box cut(const Box& o) const
    {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
};

// Flat RGB paint on an RGBA picture, kept inside `clip`; alpha is left alone.
struct Canvas {
    uint8_t* rgba;
    int width;
    Box clip;

    // Colour c over the box, weighted a/256 (256: opaque).
    void blend(const Box& box, Rgb c, int a)
    {
        const Box b = box.cut(clip);
        for (int y = b.y0; y < b.y1; ++y)
            for (uint8_t* p = rgba + (size_t(y) * width + size_t(b.x0)) * 4;
                 p < rgba + (size_t(y) * width + size_t(b.x1)) * 4; p += 4) {
                p[0] = uint8_t(p[0] + (c.r - p[0]) * a / 256);
                p[1] = uint8_t(p[1] + (c.g - p[1]) * a / 256);
                p[2] = uint8_t(p[2] + (c.b - p[2]) * a / 256);
            }
    }
    void fill(const Box& box, Rgb c) { blend(box, c, 256); }
    // A hard-edged disc of radius r around (cx, cy).
    void disc(int cx, int cy, int r, Rgb c)
    {
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                if (dx * dx + dy * dy <= r * r)
                    fill({cx + dx, cy + dy, cx + dx + 1, cy + dy + 1}, c);
    }
};

// 5x7 glyphs, bit x of row y inked at column x. Each is two or three
// strokes picked by its code (stems, bars, half stems, a diagonal, a bowl);
// half of them stand at x-height (rows 2 to 6), so rows of them read like text.
constexpr int kGlyphCount = 64;
using Glyph = std::array<uint8_t, 7>;

std::array<Glyph, kGlyphCount> makeGlyphs()
{
    std::array<Glyph, kGlyphCount> glyphs{};
    for (int code = 0; code < kGlyphCount; ++code) {
        const uint32_t s = hash32(uint32_t(code) * 131u + 17u);
        const int top = code % 2 ? 0 : 2, mid = (top + 6) / 2;
        for (int k = 0; k < 2 + int(s & 1); ++k) {
            const uint32_t stroke = (s >> (4 * k + 1)) % 9;
            for (int y = top; y <= 6; ++y)
                for (int x = 0; x < 5; ++x) {
                    const bool ink = stroke == 0   ? x == 0
                                     : stroke == 1 ? x == 4
                                     : stroke == 2 ? x == 2
                                     : stroke == 3 ? y == top
                                     : stroke == 4 ? y == mid
                                     : stroke == 5 ? y == 6
                                     : stroke == 6 ? (x == 0 && y <= mid) || (x == 4 && y >= mid)
                                     : stroke == 7 ? x == (y - top) * 4 / (6 - top)
                                                   : ((y == mid || y == 6) && x > 0 && x < 4) ||
                                                         ((x == 0 || x == 4) && y > mid && y < 6);
                    if (ink)
                        glyphs[size_t(code)][size_t(y)] |= uint8_t(1u << x);
                }
        }
    }
    return glyphs;
}

// An arrow pointer: X outline, . fill.
constexpr const char* kPointer[] = {
    "X           ", "XX          ", "X.X         ", "X..X        ", "X...X       ", "X....X      ", "X.....X     ",
    "X......X    ", "X.......X   ", "X........X  ", "X.........X ", "X......XXXXX", "X...X..X    ", "X..XX..X    ",
    "X.X  X..X   ", "XX   X..X   ", "X     X..X  ", "      X..X  ", "       XX   ",
};

// Ink colours of the text kinds.
constexpr Rgb kCodeInks[] = {{36, 36, 36}, {0, 92, 197}, {163, 21, 21}, {0, 128, 0}, {121, 94, 38}, {36, 36, 36}};
constexpr Rgb kProseInks[] = {{48, 48, 52}};
constexpr Rgb kTerminalInks[] = {{204, 204, 204}, {204, 204, 204}, {118, 214, 118}, {229, 192, 96}};
constexpr Rgb kLightInks[] = {{250, 250, 250}};
constexpr Rgb kGreyInks[] = {{150, 150, 150}};
constexpr Rgb kTitleInks[] = {{70, 70, 74}};

template <size_t N>
std::pair<const Rgb*, int> inks(const Rgb (&colours)[N])
{
    return {colours, int(N)};
}

class ScreenSource : public ContentSource {
public:
    ScreenSource(uint32_t width, uint32_t height)
        : width_(int(width)), height_(int(height)), u_(std::max(1, int(height) / 1080)), glyphs_(makeGlyphs())
    {
    }

    bool next(std::vector<uint8_t>* rgba) override
    {
        rgba->resize(size_t(width_) * size_t(height_) * 4);
        render(rgba->data(), int64_t(n_));
        applyMatte(rgba->data(), uint32_t(width_), uint32_t(height_), n_);
        ++n_;
        return true;
    }

private:
    int px(double f) const { return int(std::lround(f * width_)); }
    int py(double f) const { return int(std::lround(f * height_)); }

    // A glyph with its top left at (x, y), each of its pixels u x u, with a
    // faint fringe left and right of the ink as a text renderer's smoothing leaves.
    void glyph(Canvas& c, int x, int y, int u, int code, Rgb ink) const
    {
        for (int gy = 0; gy < 7; ++gy) {
            const int row = glyphs_[size_t(code)][size_t(gy)] << 1, fringe = ((row << 1) | (row >> 1)) & ~row;
            for (int b = 0; b < 7; ++b)
                if ((row | fringe) >> b & 1)
                    c.blend({x + (b - 1) * u, y + gy * u, x + b * u, y + (gy + 1) * u}, ink, row >> b & 1 ? 256 : 72);
        }
    }

    // Words of line `line` of a text (seed), glyph cells 6u wide from x up
    // to `cells` cells, the first `indent` cells blank.
    int words(Canvas& c, int x, int y, int u, int line, uint32_t seed, int indent, int cells,
              std::pair<const Rgb*, int> ink) const
    {
        int cell = indent;
        for (int word = 0; cell < cells; ++word, ++cell) {
            const uint32_t h = hash2(line, word, seed);
            const Rgb colour = ink.first[h % uint32_t(ink.second)];
            for (int k = 2 + int(h >> 8) % 7; k > 0 && cell < cells; --k, ++cell)
                glyph(c, x + cell * 6 * u, y, u, int(hash2(line * 97 + word, k, seed) % kGlyphCount), colour);
        }
        return cell;
    }

    // Lines of text filling a box, 12u apart, scrolled up by `scroll` pixels;
    // a code text is indented and has blank lines.
    void text(Canvas& c, const Box& box, int u, int scroll, uint32_t seed, bool code,
              std::pair<const Rgb*, int> ink) const
    {
        const Box saved = c.clip;
        c.clip = box.cut(saved);
        const int lineHeight = 12 * u, cells = (box.x1 - box.x0) / (6 * u) - 1;
        for (int line = scroll / lineHeight; line * lineHeight - scroll < box.y1 - box.y0; ++line) {
            const uint32_t h = hash2(line, -1, seed);
            if (cells < 4 || (code && h % 6 == 0))
                continue;
            const int indent = code ? int(h >> 4) % 4 * 2 : 0;
            const int length = std::min(cells, indent + 6 + int((h >> 8) % uint32_t(cells)));
            words(c, box.x0 + u, box.y0 + line * lineHeight - scroll + 3 * u, u, line, seed, indent, length, ink);
        }
        c.clip = saved;
    }

    // A window's drop shadow, border, flat title bar with its title and
    // three buttons; returns the box of its contents.
    Box window(Canvas& c, const Box& frame, Rgb bar, std::pair<const Rgb*, int> titleInk, uint32_t seed) const
    {
        const int u = u_;
        c.blend({frame.x0 + 4 * u, frame.y0 + 6 * u, frame.x1 + 4 * u, frame.y1 + 6 * u}, {0, 0, 0}, 64);
        c.fill(frame, {96, 98, 104});
        const Box inner = frame.inset(u);
        const Box title{inner.x0, inner.y0, inner.x1, inner.y0 + 22 * u};
        c.fill(title, bar);
        const Box saved = c.clip;
        c.clip = title.cut(saved);
        words(c, title.x0 + 8 * u, title.y0 + 7 * u, u, 0, seed, 0, 3 + int(seed % 14), titleInk);
        const Rgb buttons[] = {{232, 76, 61}, {245, 190, 50}, {98, 196, 84}};
        for (int i = 0; i < 3; ++i)
            c.disc(title.x1 - (14 + 20 * i) * u, title.y0 + 11 * u, 6 * u, buttons[i]);
        c.clip = saved;
        return {inner.x0, title.y1, inner.x1, inner.y1};
    }

    void render(uint8_t* out, int64_t n) const
    {
        const int W = width_, H = height_, u = u_;
        Canvas c{out, W, {0, 0, W, H}};
        // The desktop: a diagonal gradient, opaque.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int t = int(int64_t(x) * 150 / W + int64_t(y) * 106 / H);
                uint8_t* p = out + (size_t(y) * size_t(W) + size_t(x)) * 4;
                p[0] = uint8_t(38 - 24 * t / 256);
                p[1] = uint8_t(96 - 66 * t / 256);
                p[2] = uint8_t(146 - 86 * t / 256);
                p[3] = 255;
            }
        const Rgb iconColours[] = {{242, 184, 56}, {84, 160, 235}, {226, 88, 80}, {110, 190, 110}, {170, 120, 210}};
        for (int i = 0; i < 4; ++i) {
            const int y = (14 + 78 * i) * u;
            c.fill({12 * u, y, 56 * u, y + 44 * u}, iconColours[i]);
            c.fill({22 * u, y + 10 * u, 46 * u, y + 16 * u}, {255, 255, 255});
            words(c, 10 * u, y + 50 * u, u, i, 7, 0, 7, inks(kLightInks));
        }

        // Back: an editor whose code scrolls 3u pixels a frame, with line
        // numbers, a current-line band and a scroll bar.
        const int scroll = int(n) * 3 * u;
        Box body = window(c, {px(0.05), py(0.05), px(0.58), py(0.74)}, {222, 222, 226}, inks(kTitleInks), 101);
        const Box gutter{body.x0, body.y0, body.x0 + 40 * u, body.y1};
        const Box code{gutter.x1, body.y0, body.x1 - 12 * u, body.y1};
        c.fill(gutter, {243, 243, 243});
        c.fill(code, {253, 253, 251});
        c.fill(Box{code.x0, code.y0 + 96 * u, code.x1, code.y0 + 108 * u}.cut(code), {255, 248, 214});
        text(c, code, u, scroll, 202, true, inks(kCodeInks));
        text(c, gutter, u, scroll, 303, false, inks(kGreyInks));
        const Box track{code.x1, body.y0, body.x1, body.y1};
        c.fill(track, {236, 236, 236});
        const int thumb = std::max(1, (track.y1 - track.y0) / 5), room = std::max(1, track.y1 - track.y0 - thumb);
        const int thumbY = track.y0 + int(n * 2 * u % room);
        c.fill(Box{track.x0 + 2 * u, thumbY, track.x1 - 2 * u, thumbY + thumb}.cut(track), {186, 186, 190});

        // Middle: a terminal, light text on dark, its block cursor blinking.
        body = window(c, {px(0.44), py(0.10), px(0.93), py(0.50)}, {58, 60, 66}, inks(kLightInks), 404);
        c.fill(body, {22, 24, 28});
        text(c, body.inset(4 * u), u, 0, 505, false, inks(kTerminalInks));
        if (n / 8 % 2 == 0)
            c.fill(Box{body.x0 + 5 * u, body.y1 - 16 * u, body.x0 + 11 * u, body.y1 - 5 * u}.cut(body),
                   {230, 230, 230});

        // Front, active: a document with a toolbar of buttons and icons, a
        // heading, prose, a growing progress bar, a bar chart over a thin hue
        // gradient, check boxes and more prose.
        body = window(c, {px(0.50), py(0.38), px(0.97), py(0.90)}, {45, 108, 196}, inks(kLightInks), 606);
        const Box saved = c.clip;
        c.clip = body.cut(saved);
        c.fill(body, {255, 255, 255});
        const Box toolbar{body.x0, body.y0, body.x1, body.y0 + 30 * u};
        c.fill(toolbar, {242, 242, 245});
        c.fill({toolbar.x0, toolbar.y1 - u, toolbar.x1, toolbar.y1}, {206, 206, 210});
        for (int i = 0; i < 4; ++i) {
            const Box button{toolbar.x0 + (8 + 62 * i) * u, toolbar.y0 + 5 * u, toolbar.x0 + (64 + 62 * i) * u,
                             toolbar.y1 - 6 * u};
            c.fill(button, {190, 190, 196});
            c.fill(button.inset(u), i == 0 ? Rgb{45, 108, 196} : Rgb{252, 252, 252});
            words(c, button.x0 + 5 * u, button.y0 + 6 * u, u, i, 808, 0, 8,
                  i == 0 ? inks(kLightInks) : inks(kTitleInks));
        }
        for (int i = 0; i < 3; ++i) {
            const int x = toolbar.x0 + (262 + 26 * i) * u;
            if (i == 1)
                c.disc(x + 8 * u, toolbar.y0 + 15 * u, 8 * u, iconColours[i]);
            else
                c.fill({x, toolbar.y0 + 7 * u, x + 16 * u, toolbar.y0 + 23 * u}, iconColours[i]);
        }
        int y = toolbar.y1 + 12 * u;
        words(c, body.x0 + 16 * u, y, 2 * u, 0, 909, 0, 3 + (body.x1 - body.x0) / (24 * u), inks(kTitleInks));
        y += 26 * u;
        text(c, {body.x0 + 16 * u, y, body.x1 - 16 * u, y + 72 * u}, u, 0, 1010, false, inks(kProseInks));
        y += 80 * u;
        const Box progress{body.x0 + 16 * u, y, body.x1 - 16 * u, y + 8 * u};
        c.fill(progress, {226, 226, 230});
        const int done = int((int64_t(W) / 10 + n * 4 * u) % std::max(1, progress.x1 - progress.x0));
        c.fill({progress.x0, progress.y0, progress.x0 + done, progress.y1}, {60, 170, 90});
        y += 20 * u;
        const Box chart{body.x0 + 16 * u, y, std::min(body.x1 - 16 * u, body.x0 + 376 * u), y + 90 * u};
        for (int i = 0; i < 8; ++i) {
            const int top = chart.y0 + int(hash2(i, 0, 1111) % uint32_t(60 * u));
            c.fill({chart.x0 + i * 44 * u, top, chart.x0 + i * 44 * u + 32 * u, chart.y1 - 14 * u}, iconColours[i % 5]);
        }
        const int span = std::max(1, chart.x1 - chart.x0);
        for (int x = chart.x0; x < chart.x1; ++x) {
            // Hue from red through yellow, green, cyan and blue to magenta.
            const int h = (x - chart.x0) * 1280 / span, k = h % 256, s = h / 256;
            const Rgb hue = s == 0   ? Rgb{255, uint8_t(k), 0}
                            : s == 1 ? Rgb{uint8_t(255 - k), 255, 0}
                            : s == 2 ? Rgb{0, 255, uint8_t(k)}
                            : s == 3 ? Rgb{0, uint8_t(255 - k), 255}
                                     : Rgb{uint8_t(k), 0, 255};
            c.fill({x, chart.y1 - 8 * u, x + 1, chart.y1}, hue);
        }
        y = chart.y1 + 12 * u;
        for (int i = 0; i < 3; ++i, y += 20 * u) {
            const Box box{body.x0 + 16 * u, y, body.x0 + 28 * u, y + 12 * u};
            c.fill(box, {120, 120, 126});
            c.fill(box.inset(u), i == 1 ? Rgb{45, 108, 196} : Rgb{255, 255, 255});
            words(c, box.x1 + 8 * u, y + 2 * u, u, i, 1212, 0, 18, inks(kProseInks));
        }
        text(c, {body.x0 + 16 * u, y + 4 * u, body.x1 - 16 * u, body.y1 - 8 * u}, u, 0, 1414, false, inks(kProseInks));
        c.clip = saved;

        // The taskbar: launcher, task icons (one marked as open) and a clock
        // that changes once a second (30 frames).
        const Box bar{0, H - 36 * u, W, H};
        c.fill(bar, {28, 30, 36});
        c.fill({bar.x0, bar.y0, bar.x1, bar.y0 + u}, {64, 68, 76});
        c.disc(18 * u, bar.y0 + 18 * u, 10 * u, {0, 120, 215});
        for (int i = 0; i < 6; ++i) {
            const int x = (44 + 36 * i) * u;
            c.fill({x, bar.y0 + 6 * u, x + 24 * u, bar.y0 + 30 * u}, iconColours[i % 5]);
            if (i == 2)
                c.fill({x, bar.y1 - 3 * u, x + 24 * u, bar.y1}, {96, 160, 255});
        }
        words(c, W - 48 * u, bar.y0 + 14 * u, u, int(n / 30), 1313, 0, 6, inks(kLightInks));

        // The pointer, wandering.
        const int cx = px(0.30 + 0.22 * std::sin(double(n) * 0.07)),
                  cy = py(0.45 + 0.25 * std::sin(double(n) * 0.05 + 1));
        for (int row = 0; row < int(std::size(kPointer)); ++row)
            for (int col = 0; kPointer[row][col]; ++col)
                if (kPointer[row][col] != ' ')
                    c.fill({cx + col * u, cy + row * u, cx + (col + 1) * u, cy + (row + 1) * u},
                           kPointer[row][col] == 'X' ? Rgb{0, 0, 0} : Rgb{255, 255, 255});
    }

    int width_, height_, u_;
    std::array<Glyph, kGlyphCount> glyphs_;
    uint64_t n_ = 0;
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
    static const std::vector<std::string> names{"testsrc2", "mandelbrot", "smptehdbars", "photo", "screen", "noise"};
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
    if (name == "screen")
        return std::make_unique<ScreenSource>(width, height);
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
