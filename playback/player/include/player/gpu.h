// Zemo 3 frames on the GPU: an OpenGL 3.3 core context (offscreen through
// EGL, or the current one of a window), the frame's planes uploaded as they
// are stored (compressed, through pixel-buffer objects), drawn with the
// type's shader from the playback library, and read back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/frame_format.h"
#include "zemo3/playback.h"

namespace zemo3::gpu {

// An offscreen context through EGL: Mesa's surfaceless platform where there
// is no display, the default display otherwise. Current on the creating
// thread while it lives.
class OffscreenContext {
public:
    static std::unique_ptr<OffscreenContext> create(std::string* error);
    ~OffscreenContext();

private:
    OffscreenContext() = default;
    void* display_ = nullptr;
    void* context_ = nullptr;
};

// The GL driver's name and version, for messages.
std::string rendererName();

// Draws frames of one movie with the current context.
class FrameRenderer {
public:
    FrameRenderer() = default;
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // Checks the context (3.3, S3TC and RGTC formats), compiles the shaders
    // and makes the textures and buffers for pictures of this size.
    bool init(const Zemo3Info& info, std::string* error);
    // Pixel-buffer objects the planes can be restored into straight, so that
    // the upload copies nothing: `count` of `bytes` each, mapped for reading
    // and writing for as long as the renderer lives (GL 4.4, or
    // ARB_buffer_storage). False when the GL has no such mapping; frames
    // then come from memory of the caller's and upload() copies them.
    bool mapDestinations(size_t bytes, unsigned count);
    const std::vector<uint8_t*>& destinations() const { return mapped_; }
    // Whether the GL may still read destination k for the last upload from
    // it, so that it must not be written yet; wait() waits until it is not.
    bool destinationBusy(unsigned k);
    void waitDestination(unsigned k);

    // Starts the upload of a frame's planes: from the destination they were
    // restored into, or else copied into the next pixel-buffer object first
    // (the frame's data may then be reused when this returns).
    bool upload(const Zemo3Frame& frame, std::string* error);
    // Draws the last uploaded frame into the viewport (x, y, w, h) of the
    // bound framebuffer; over a checkerboard when `board`, blended by alpha.
    void draw(int x, int y, int w, int h, bool board);
    // Draws the last uploaded frame at the picture's size into an offscreen
    // framebuffer (left bound).
    bool drawPicture(std::string* error);
    // drawPicture(), then reads it back: width x height RGBA, top row first,
    // straight alpha.
    bool readPicture(std::vector<uint8_t>* rgba, std::string* error);
    // Waits until the GL has done everything asked of it.
    void finish();

private:
    bool ensureProgram(uint32_t type, std::string* error);

    Zemo3Info info_{};
    uint32_t type_ = 0xFFFFFFFFu;
    unsigned programs_[6] = {};
    unsigned board_ = 0;
    unsigned textures_[2] = {};
    unsigned textureFormats_[2] = {};
    unsigned buffers_[3] = {};
    unsigned nextBuffer_ = 0;
    // The mapped destinations, their buffers and the fence of each one's
    // last upload (0: none).
    std::vector<uint8_t*> mapped_;
    std::vector<unsigned> mappedBuffers_;
    std::vector<void*> fences_;
    size_t mappedBytes_ = 0;
    unsigned vertexArray_ = 0;
    unsigned framebuffer_ = 0, colour_ = 0;
};

// The largest difference allowed between a channel of a GPU's picture and of
// the CPU decoder's, for frames of a type. The CPU decoder truncates its
// palette steps to 8 bits ((2a+b)/3, (a+b)/2, ((7-k)a+kb)/7 ...); a GPU
// computes them in its own fixed point, which need not be exact: Mesa's
// llvmpipe gives ((3*247 + 4*7)/7 = 109.86 as 111, 1.3 above the exact step.
// A DXT colour stays within 1 of the truncated step. A single-channel step
// (DXT5 and RGTC alpha, and each YCoCg plane) lies within -1 and +2 of it.
// A YCoCg colour adds three such planes (R = Y + Co - Cg, G = Y + Cg,
// B = Y - Cg - Co, in steps of 1/255 with the chroma offset of one half), so
// R and B may differ by up to 5 and G by up to 4.
inline int boundFor(uint32_t type, int channel)
{
    if (channel == 3)
        return nox::typeHasAlpha(type) ? 2 : 1;
    if (!nox::typeIsYcocg(type))
        return 1;
    return channel == 1 ? 4 : 5;
}

// Frame-by-frame comparison of the GPU's pictures with the CPU decoder's.
struct Comparison {
    int64_t frames = 0;
    int maxDifference[4] = {0, 0, 0, 0};  // R, G, B, A
    int bound[4] = {0, 0, 0, 0};          // boundFor() of the movie's types
    double psnr = 0;                      // over every channel and frame; +inf when equal
    std::string renderer;
};
// Draws every frame of the movie offscreen and compares it with the CPU
// decode. False with a message when the movie or the GL cannot be used.
bool compareWithCpu(const std::string& path, Comparison* result, std::string* error);

}  // namespace zemo3::gpu
