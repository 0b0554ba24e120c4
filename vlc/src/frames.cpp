#include "frames.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "core/threads.h"
#include "reader/frame_decoder.h"
#include "reader/pictures.h"
#include "reader/texture.h"

namespace zemo3vlc {

namespace {

// Pictures of fewer rows are rebuilt on one thread: below that, handing
// bands to the pool costs more than it saves.
constexpr uint32_t kBandedRows = 256;

// One frame's texture, restored on the caller's thread and turned into a
// picture on the pool.
struct Texture {
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
};

// Checks a frame against a width x height stream and restores its texture:
// the checks of nox::FramePictures with checkPayloadUse, in one pass. A
// packed payload must be used to its last byte, which is how a frame of a
// larger picture shows (a smaller one runs out of payload); FramePictures
// finds that out by unpacking the frame twice, which would double the work
// on the decoding thread.
bool unpack(const uint8_t* frame, size_t size, uint32_t width, uint32_t height, Texture* out, std::string* why)
{
    nox::FramePictures::Header h;
    if (!nox::FramePictures::readHeader(frame, size, &h)) {
        *why = "only " + std::to_string(size) + " bytes, too short for a frame header";
        return false;
    }
    uint32_t first;
    std::memcpy(&first, frame, 4);
    if (first == 0) {
        *why = "starts with a zero word";
        return false;
    }
    if (h.type > 5) {
        *why = "holds a frame of format type " + std::to_string(h.type) + ", which has no picture";
        return false;
    }
    if (uint64_t(h.headerSize) + h.payloadSize != size) {
        *why = "its header announces " + std::to_string(h.payloadSize) + " payload bytes but the packet holds " +
               std::to_string(size - h.headerSize);
        return false;
    }
    const nox::FrameDecoder decoder(h.type, width, height);
    const uint32_t bytes = decoder.textureBytes();
    if (bytes == 0) {
        *why = "no texture size for this picture";
        return false;
    }
    out->bytes.resize(bytes);
    if (h.payloadKind == 0 && h.type <= 3 && decoder.unpacker()) {
        const size_t used = decoder.unpacker()(frame + h.headerSize, out->bytes.data(), h.payloadSize, bytes);
        if (used == 0) {
            *why = "its packed payload is malformed";
            return false;
        }
        if (used != h.payloadSize) {
            *why = "its packed texture ends " + std::to_string(h.payloadSize - used) +
                   " bytes before its payload (a frame of a larger picture?)";
            return false;
        }
    } else if (!nox::decode(decoder, out->bytes.data(), frame, size, bytes)) {
        *why =
            h.payloadKind == 1 ? "its raw payload does not match the texture size" : "its packed payload is malformed";
        return false;
    }
    out->type = h.type;
    return true;
}

// The picture of a texture; large ones in bands of whole 8-row tiles over
// up to `threads` threads of the pool, this thread taking the last band.
bool rebuild(const Texture& t, uint32_t width, uint32_t height, unsigned threads, uint8_t* rgba, size_t stride)
{
    const uint8_t* texture = t.bytes.data();
    const size_t size = t.bytes.size();
    const uint32_t bands = height < kBandedRows ? 1 : std::min<uint32_t>(threads, (height + 7) / 8);
    if (bands <= 1)
        return nox::textureToRgbaRows(t.type, texture, size, width, height, 0, height, rgba, stride);
    const uint32_t tiles = (height + 7) / 8;
    auto rows = [&](uint32_t band) { return std::min(height, tiles * band / bands * 8); };
    std::vector<char> ok(bands, 0);
    std::vector<std::unique_ptr<nox::TaskHandle>> handles;
    for (uint32_t b = 0; b + 1 < bands; ++b) {
        auto work = [&, b] {
            ok[b] = nox::textureToRgbaRows(t.type, texture, size, width, height, rows(b), rows(b + 1), rgba, stride);
        };
        handles.push_back(std::make_unique<nox::TaskHandle>());
        if (!handles.back()->start(1, 0, work))
            work();
    }
    ok[bands - 1] = nox::textureToRgbaRows(t.type, texture, size, width, height, rows(bands - 1), height, rgba, stride);
    for (auto& handle : handles)
        handle->wait(true);
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

}  // namespace

struct Decoder::State {
    uint32_t width, height;
    // Two, taken in turn: one is rebuilt into a picture while the other
    // takes the next frame.
    Texture textures[2];
    unsigned slot = 0;  // the one the next frame unpacks into

    // The picture being built on the pool.
    void* handle = nullptr;  // null: none
    uint64_t number = 0;
    int64_t stamp = 0;
    nox::TaskHandle task;
    bool ok = false;  // written by the task, read after it is done
};

Decoder::Decoder(uint32_t width, uint32_t height, unsigned threads, Output& output)
    : state_(std::make_unique<State>()), output_(output), threads_(threads ? threads : 1)
{
    state_->width = width;
    state_->height = height;
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
    Texture& texture = s.textures[s.slot];
    std::string why;
    bool unpacked = false;
    // This frame's texture, while the previous one's picture is built.
    try {
        unpacked = unpack(frame, size, s.width, s.height, &texture, &why);
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
    const Output::Target target = output_.picture(texture.type, stamp);
    if (!target.handle)
        return;
    s.handle = target.handle;
    s.number = frames_;
    s.stamp = stamp;
    s.ok = false;
    const unsigned threads = threads_;
    auto build = [&s, &texture, target, threads] {
        // An exception must not leave a worker of the pool.
        try {
            s.ok = rebuild(texture, s.width, s.height, threads, target.rgba, target.stride);
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
