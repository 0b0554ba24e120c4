// What zemo3 bench measures with: our frame compressor and FFmpeg's HAP
// encoder on the same clip, on one thread and on N (each thread encoding
// whole frames with an encoder of its own), the quality each keeps, and the
// export through the module in the emulated host. Rates are medians of
// repeated runs over the whole clip; quality comes from one untimed pass
// (verify's PSNR), ours decoded by the frame reader, HAP's by FFmpeg.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_host/render.h"

struct AVCodecContext;
struct AVFrame;

namespace zemo3 {
class Source;
}

namespace zemo3::bench {

// A clip of 8-bit pictures, 4 bytes a pixel.
using Clip = std::vector<std::vector<uint8_t>>;

// Wall and CPU seconds of one timed run.
struct Span {
    double wall = 0, cpu = 0;
};

double median(std::vector<double> v);

// Frames per second from the median wall time of the runs, and the CPU time
// a frame took (median), which a busy machine blurs much less.
struct Figures {
    double fps = 0;
    double cpuMs = 0;
    double bytesPerFrame = 0;

    void setRate(const std::vector<Span>& runs, size_t frames);
};

// PSNR of a clip in dB: R, G and B together, and alpha (NaN when the
// encoder keeps none); SSIM of R, G and B, the mean over its frames.
struct Quality {
    double colour = 0, alpha = NAN, ssim = NAN;
};

// The texture format of each type, and its nearest HAP format.
extern const char* const kTextureNames[4];
const char* hapFormat(uint32_t type);

// Our compressor for a format type at a size.
class OursBench {
public:
    OursBench(uint32_t type, uint32_t width, uint32_t height) : type_(type), width_(width), height_(height) {}

    // Times the RGBA clip on `threads` threads, `repeat` times; the bytes a
    // frame takes as well.
    bool time(const Clip& clip, unsigned threads, int repeat, Figures* f, std::string* error) const;
    // PSNR of the clip after a round trip through the frame reader.
    bool quality(const Clip& clip, Quality* q, std::string* error) const;

private:
    uint32_t type_, width_, height_;
};

// FFmpeg's HAP encoder for RGBA pictures at a size and frame rate, in the
// HAP format nearest a type, with its Snappy second stage in one chunk, on
// one thread. Null with *error saying why (this FFmpeg has no HAP encoder,
// or it refuses the size); freed with avcodec_free_context.
AVCodecContext* openHapEncoder(uint32_t type, uint32_t width, uint32_t height, int fps, std::string* error);

struct CodecContext;

// FFmpeg's HAP encoder in the format nearest a type, at a size.
class HapBench {
public:
    HapBench(uint32_t type, uint32_t width, uint32_t height) : type_(type), width_(width), height_(height) {}

    // Empty when FFmpeg can encode this type; otherwise why not.
    std::string unavailable() const;
    bool time(const std::vector<AVFrame*>& frames, unsigned threads, int repeat, Figures* f, std::string* error) const;
    // PSNR of the clip after FFmpeg's HAP decoder.
    bool quality(const Clip& clip, const std::vector<AVFrame*>& frames, Quality* q, std::string* error) const;
    // Milliseconds per frame of FFmpeg's HAP decoder (to RGBA), one thread,
    // on the HAP frames of these pictures; -1 when FFmpeg cannot encode or
    // decode them.
    double decodeMs(const std::vector<AVFrame*>& frames) const;

private:
    bool open(CodecContext* c, std::string* error) const;

    uint32_t type_, width_, height_;
};

// The clip as AVFrames for the HAP encoder; freed with the list.
struct AvClip {
    std::vector<AVFrame*> frames;
    AvClip() = default;
    ~AvClip();
    AvClip(const AvClip&) = delete;
    AvClip& operator=(const AvClip&) = delete;
    bool fill(const Clip& clip, uint32_t width, uint32_t height);
};

// An RGBA picture as the host renders it for the module: ARGB.
std::vector<uint8_t> toArgb(const std::vector<uint8_t>& rgba);

// One export of the ARGB clip (over and over, up to job.frameLimit frames;
// the job's size is the clip's) through the module of the session into
// job.path.
emulated_host::RenderResult exportClip(emulated_host::ModuleSession& session, const emulated_host::RenderJob& job,
                                       const Clip& argb);

// One export of a media source's pictures, from its first, without its
// sound (up to job.frameLimit frames; the job's size is the source's),
// through the module of the session into job.path.
emulated_host::RenderResult exportSource(emulated_host::ModuleSession& session, const emulated_host::RenderJob& job,
                                         Source& source);

// Exports `frames` frames of the ARGB clip (over and over) into path through
// the module of the session, repeat times after one untimed run that warms
// the module up (its worker pool, memory pool and the writer's buffers).
// Rate from StartAdding to the end of EndAdding, which closes the movie.
bool timeExport(emulated_host::ModuleSession& session, uint32_t type, const Clip& argb, size_t frames, uint32_t width,
                uint32_t height, const std::string& path, int repeat, Figures* f, std::string* error);

}  // namespace zemo3::bench
