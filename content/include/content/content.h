// Test pictures for the benchmarks and `zemo3 bench`, as 8-bit RGBA (bytes R,
// G, B, A; rows width*4 bytes apart) at any size:
//
//   testsrc2     FFmpeg's moving test pattern (libavfilter, in-process)
//   mandelbrot   FFmpeg's zooming fractal, capped at 256 iterations per pixel
//   smptehdbars  FFmpeg's HD colour bars: large flat areas and hard edges
//   photo        a still lit landscape: a sky graded from a low sun, soft
//                out-of-focus lights, rolling hills with fractal fine texture,
//                a vignette and mild sensor grain; the camera pans slowly
//   screen       a desktop as a screen recording shows it: a gradient
//                background, windows with borders and flat title bars, rows of
//                small text-like glyphs, flat icons and buttons, a thin hue
//                gradient; a text scrolls, a pointer moves, a bar grows
//   noise        uniform random bytes in all four channels
//
// Every picture but noise carries the same soft matte in its alpha: an
// elliptical falloff plus a hard-edged transparent band that moves with the
// frame number, so the alpha encoders meet both soft and hard edges.
// Everything is deterministic: the same name, size and frame number give the
// same bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zemo3::content {

// The names above, in that order.
const std::vector<std::string>& contentNames();
bool isContentName(const std::string& name);
// The default mix of a clip: testsrc2, mandelbrot, smptehdbars and photo
// (neither noise nor screen).
const std::vector<std::string>& naturalContentNames();

// Frames of one content, produced in order from frame 0.
class ContentSource {
public:
    virtual ~ContentSource() = default;
    // The next frame into rgba (resized to width*height*4). False with a
    // message in error() when the frame cannot be made.
    virtual bool next(std::vector<uint8_t>* rgba) = 0;
    const std::string& error() const { return error_; }

protected:
    std::string error_;
};

// Null with a message for an unknown name, a zero size, or a lavfi source
// FFmpeg cannot set up.
std::unique_ptr<ContentSource> openContent(const std::string& name, uint32_t width, uint32_t height,
                                           std::string* error);

// Frame 0 of one content.
bool renderContent(const std::string& name, uint32_t width, uint32_t height, std::vector<uint8_t>* rgba,
                   std::string* error);

// A clip of `frames` frames taking the contents in turn: frame i is frame
// i / k of names[i % k]. Each source is rendered once, in order.
bool renderClip(const std::vector<std::string>& names, uint32_t width, uint32_t height, uint64_t frames,
                std::vector<std::vector<uint8_t>>* clip, std::string* error);

// Multiplies alpha by the shared matte of frame n (see above).
void applyMatte(uint8_t* rgba, uint32_t width, uint32_t height, uint64_t n);

}  // namespace zemo3::content
