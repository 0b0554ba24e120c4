#include "frames.h"

#include <exception>
#include <new>

#include "core/threads.h"
#include "reader/pictures.h"

namespace zemo3vlc {

struct Decoder::State {
    State(uint32_t width, uint32_t height) : pictures{{width, height, true}, {width, height, true}} {}

    // Two, taken in turn: one builds a picture while the other unpacks the
    // next frame. Each checks that a packed payload is used to its last
    // byte, so that a frame of a larger picture is refused, not cropped.
    nox::FramePictures pictures[2];
    unsigned slot = 0;  // the one the next frame unpacks into

    // The picture being built on the pool.
    void* handle = nullptr;  // null: none
    uint64_t number = 0;
    int64_t stamp = 0;
    nox::TaskHandle task;
    bool ok = false;  // written by the task, read after it is done
};

Decoder::Decoder(uint32_t width, uint32_t height, unsigned threads, Output& output)
    : state_(std::make_unique<State>(width, height)), output_(output), threads_(threads ? threads : 1)
{
    for (auto& p : state_->pictures)
        p.setThreads(threads_);
}

Decoder::~Decoder() { complete(false); }

bool Decoder::sizeAccepted(uint32_t width, uint32_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

void Decoder::report(uint64_t number, int64_t stamp, const std::string& why)
{
    ++damaged_;
    output_.damaged(number, stamp, why);
}

void Decoder::complete(bool keep)
{
    State& s = *state_;
    if (!s.handle)
        return;
    s.task.wait(true);
    void* handle = s.handle;
    s.handle = nullptr;
    if (keep && s.ok) {
        output_.show(handle);
        return;
    }
    output_.release(handle);
    if (keep)
        report(s.number, s.stamp, "its texture cannot be rebuilt");
}

void Decoder::decode(const uint8_t* frame, size_t size, int64_t stamp)
{
    State& s = *state_;
    ++frames_;
    nox::FramePictures& pictures = s.pictures[s.slot];
    nox::FramePictures::Header header;
    std::string why;
    bool unpacked = false;
    // The texture of this frame, while the previous one's picture is built.
    try {
        unpacked = pictures.unpack(frame, size, &header, &why);
    } catch (const std::bad_alloc&) {
        why = "no memory for its texture";
    } catch (const std::exception& e) {
        why = e.what();
    }
    complete(true);
    if (!unpacked) {
        report(frames_, stamp, why);
        return;
    }
    const Output::Target target = output_.picture(header.type, stamp);
    if (!target.handle)
        return;
    s.handle = target.handle;
    s.number = frames_;
    s.stamp = stamp;
    s.ok = false;
    auto build = [&s, &pictures, target] {
        // An exception must not leave a worker of the pool.
        try {
            s.ok = pictures.rebuild(target.rgba, target.stride);
        } catch (...) {
            s.ok = false;
        }
    };
    bool queued = false;
    if (threads_ > 1) {
        try {
            queued = s.task.start(1, 0, build);
        } catch (...) {
        }
    }
    if (queued) {
        s.slot ^= 1;
        return;
    }
    build();
    complete(true);
}

void Decoder::drain() { complete(true); }

void Decoder::flush() { complete(false); }

}  // namespace zemo3vlc
