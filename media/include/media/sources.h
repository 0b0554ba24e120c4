// Composition sources for rendering: what the emulated host "renders" and
// hands to the module, frame by frame, with its sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zemo3 {

struct Composition {
    uint32_t width = 1280;
    uint32_t height = 720;
    int32_t fpsNum = 30;
    int32_t fpsDen = 1;
    uint64_t frames = 150;        // known length, or an estimate for media files
    uint32_t sampleRate = 48000;  // 0: no sound
    uint16_t channels = 2;
};

// A picture as a source hands it over: 8-bit ARGB, bytes A, R, G, B per
// pixel, rows rowBytes apart. It stays valid until the source's next frame().
struct SourcePicture {
    const uint8_t* data = nullptr;
    uint32_t rowBytes = 0;
};

class Source {
public:
    virtual ~Source() = default;
    const Composition& composition() const { return comp_; }

    // Frame n (asked in order from 0). False after the last frame or on a
    // read error (then error() says why).
    virtual bool frame(uint64_t n, SourcePicture* picture) = 0;
    // Interleaved signed 16-bit sound for `count` sample frames from `start`
    // (asked in order). Returns how many were produced; fewer at the end.
    virtual size_t sound(uint64_t start, size_t count, std::vector<int16_t>* samples) = 0;
    // Passes over the first `frames` frames and `samples` sample frames of
    // sound, for a render that starts later in the composition; frame() and
    // sound() then go on from there. False when the source ends before (or
    // on a read error). This one reads them and lets them go.
    virtual bool skip(uint64_t frames, uint64_t samples);
    const std::string& error() const { return error_; }

protected:
    Composition comp_;
    std::string error_;
};

// The built-in demo: moving shapes and gradients over a background whose
// alpha varies across the picture and in time, and a stereo tone (440 Hz
// left, 660 Hz right). Deterministic: the same settings give the same frames.
std::unique_ptr<Source> openDemo(const Composition& settings);

// The demo as asked for: its size (0: 1280x720), rate (0, or one the host's
// 16.16 fixed point cannot carry: 30 fps), seconds (0 or less: 5) and
// whether it has its sound. The same request makes the same frames and sound
// in a render and in a reference.
Composition demoComposition(uint32_t width, uint32_t height, int32_t fpsNum, int32_t fpsDen, double seconds,
                            bool withSound);

// Renders demo frame n into argb (width*4 bytes per row).
void renderDemoFrame(const Composition& c, uint64_t n, uint8_t* argb, uint32_t rowBytes);

// Any file FFmpeg can read, or a numbered image sequence ("shot_%04d.png").
// The picture is converted to 8-bit ARGB at the file's size (or `width` x
// `height` when non-zero), the sound to interleaved 16-bit at the file's rate
// and channel count. fpsNum/fpsDen, when non-zero, set the rate of an image
// sequence. Null with a message when the file cannot be opened.
std::unique_ptr<Source> openMedia(const std::string& path, uint32_t width, uint32_t height, int32_t fpsNum,
                                  int32_t fpsDen, bool withSound, std::string* error);

}  // namespace zemo3
