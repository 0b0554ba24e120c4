// The decoding core of the VLC module, free of VLC's own types so that the
// tests and the fuzz target drive it in-process, with or without VLC.
//
// Frames go in one by one; pictures come out through an Output the caller
// implements. With one thread a frame's picture is built and handed on
// before decode() returns. With more, the picture is built on the library's
// worker pool (in bands when it is large) while the caller's thread unpacks
// the next frame's texture, so pictures leave one frame late, in order:
// drain() hands on the last one, flush() drops it.
//
// A frame that cannot be decoded is reported to Output::damaged() and
// dropped; so is one made for a picture of another texture size (frames do
// not carry their size: sizes that pad to the same multiples of 16 share
// one texture layout and cannot be told apart). Nothing here throws: want
// of memory drops the frame too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zemo3vlc {

// Largest picture side taken: the frame reader's textures stay well inside 32 bits.
constexpr uint32_t kMaxSide = 16384;

// Where the pictures go. Every call comes from the thread that calls the
// Decoder, never from the pool.
class Output {
public:
    virtual ~Output() = default;

    // A picture to write into: rows of width*4 bytes `stride` apart, RGBA,
    // opaque (A = 255) for the format types that keep no alpha.
    struct Target {
        void* handle = nullptr;  // the caller's; null: no picture to be had
        uint8_t* rgba = nullptr;
        size_t stride = 0;
    };
    // A picture for a frame of format type `type` (nox::typeHasAlpha tells
    // whether it keeps alpha) stamped with the time given to decode(). A
    // null handle drops the frame without a report: say why yourself.
    virtual Target picture(uint32_t type, int64_t stamp) = 0;
    // The picture is complete and belongs to the output again.
    virtual void show(void* handle) = 0;
    // The picture will not be shown (a flush, or its rebuild failed).
    virtual void release(void* handle) = 0;
    // Frame `number` (counted from 1 over the decoder's life) was dropped.
    virtual void damaged(uint64_t number, int64_t stamp, const std::string& why) = 0;
};

class Decoder {
public:
    // Frames of a width x height stream (1 to kMaxSide each way: check with
    // sizeAccepted() first). threads: 1 does everything on the calling
    // thread, more overlap and split the rebuild over the worker pool.
    Decoder(uint32_t width, uint32_t height, unsigned threads, Output& output);
    // Releases the picture being built, unseen.
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    static bool sizeAccepted(uint32_t width, uint32_t height);

    // One whole frame (the bytes are not kept after the call).
    void decode(const uint8_t* frame, size_t size, int64_t stamp);
    // The end of the stream: the picture being built is handed on.
    void drain();
    // A seek: the picture being built is released unseen.
    void flush();

    uint64_t frames() const { return frames_; }
    uint64_t damaged() const { return damaged_; }

private:
    struct State;
    void complete(bool keep);
    void report(uint64_t number, int64_t stamp, const std::string& why);

    std::unique_ptr<State> state_;
    Output& output_;
    unsigned threads_;
    uint64_t frames_ = 0, damaged_ = 0;
};

}  // namespace zemo3vlc
