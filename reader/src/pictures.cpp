#include "reader/pictures.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "core/bytes.h"
#include "reader/texture.h"

namespace nox {

bool pictureSizeAccepted(uint32_t width, uint32_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

// ------------------------------------------------------------- FramePictures

bool FramePictures::readHeader(const uint8_t* frame, size_t size, Header* h) { return readFrameFacts(frame, size, h); }

void FramePictures::setThreads(unsigned threads, uint32_t minimumRows)
{
    threads_ = std::max(1u, threads);
    minimumRows_ = minimumRows;
}

bool FramePictures::decode(const uint8_t* frame, size_t size, std::vector<uint8_t>* rgba, Header* header,
                           std::string* why)
{
    try {
        rgba->resize(size_t(width_) * height_ * 4);
    } catch (const std::exception&) {
        *why = "no memory for its picture";
        return false;
    }
    return decode(frame, size, rgba->data(), size_t(width_) * 4, header, why);
}

bool FramePictures::decode(const uint8_t* frame, size_t size, uint8_t* rgba, size_t stride, Header* header,
                           std::string* why)
{
    return unpack(frame, size, header, why) && rebuild(rgba, stride, why);
}

bool FramePictures::unpack(const uint8_t* frame, size_t size, Header* header, std::string* why)
{
    return unpackInto(frame, size, nullptr, 0, header, why);
}

bool FramePictures::unpackInto(const uint8_t* frame, size_t size, uint8_t* texture, size_t capacity, Header* header,
                               std::string* why)
{
    try {
        return unpackFrame(frame, size, texture, capacity, header, why);
    } catch (const std::bad_alloc&) {
        *why = "no memory for its texture";
    } catch (const std::exception& e) {
        *why = e.what();
    }
    return false;
}

bool FramePictures::unpackFrame(const uint8_t* frame, size_t size, uint8_t* texture, size_t capacity, Header* header,
                                std::string* why)
{
    Header h;
    if (!readHeader(frame, size, &h)) {
        *why = "only " + std::to_string(size) + " bytes, too short for a frame header";
        return false;
    }
    if (header)
        *header = h;
    if (loadLe32(frame) == 0) {
        *why = "starts with a zero word";
        return false;
    }
    if (h.type > 5) {
        *why = std::string("holds a ") + formatTypeName(h.type) + " frame, which has no picture";
        return false;
    }
    if (uint64_t(h.headerSize) + h.payloadSize != size) {
        *why = "its header announces " + std::to_string(h.payloadSize) + " payload bytes but the packet holds " +
               std::to_string(size - h.headerSize);
        return false;
    }
    const FrameDecoder decoder(h.type, width_, height_);
    const uint32_t bytes = decoder.textureBytes();
    if (bytes == 0) {
        *why = "no texture size for this picture";
        return false;
    }
    if (!texture) {
        texture_.resize(bytes);
        texture = texture_.data();
        capacity = bytes;
    } else if (capacity < bytes) {
        *why = "its texture of " + std::to_string(bytes) + " bytes does not fit in the " + std::to_string(capacity) +
               " bytes given";
        return false;
    }
    if (h.payloadKind == 0 && h.type <= 3) {
        // The unpacker tells how much of the payload it used: the check of
        // the payload's use costs no second pass.
        const size_t used = unpackPayload(h.type, frame + h.headerSize, texture, h.payloadSize, bytes,
                                          {.level = activeSimdLevel(), .twoStreams = threads_ > 1});
        if (used == 0) {
            *why = "its packed payload is malformed";
            return false;
        }
        if (used != h.payloadSize) {
            *why = "its packed texture ends " + std::to_string(h.payloadSize - used) +
                   " bytes before its payload (a frame of a larger picture?)";
            return false;
        }
    } else if (!nox::decode(decoder, h, texture, frame, size, capacity)) {
        *why =
            h.payloadKind == 1 ? "its raw payload does not match the texture size" : "its packed payload is malformed";
        return false;
    }
    type_ = h.type;
    return true;
}

bool FramePictures::rebuild(uint8_t* rgba, size_t stride, std::string* why)
{
    bool ok = false;
    try {
        ok = rebuildRows(rgba, stride);
    } catch (const std::exception&) {
    }
    if (!ok)
        *why = "its texture cannot be rebuilt";
    return ok;
}

bool FramePictures::rebuildRows(uint8_t* rgba, size_t stride)
{
    const uint32_t type = type_;
    const uint32_t bands = height_ < minimumRows_ ? 1 : std::min<uint32_t>(threads_, (height_ + 7) / 8);
    auto band = [&, tiles = (height_ + 7) / 8](uint32_t b) {
        auto rows = [&](uint32_t at) { return std::min(height_, tiles * at / bands * 8); };
        return textureToRgbaRows(type, texture_.data(), texture_.size(), width_, height_, rows(b), rows(b + 1), rgba,
                                 stride);
    };
    // Bands on the pool, this thread taking the last one. An exception in a
    // band fails the band; the handles wait for their tasks however this
    // ends.
    std::vector<char> ok(bands, 0);
    std::vector<std::unique_ptr<TaskHandle>> handles;
    for (uint32_t b = 0; b + 1 < bands; ++b) {
        auto work = [&ok, &band, b] {
            try {
                ok[b] = band(b);
            } catch (...) {
            }
        };
        handles.push_back(std::make_unique<TaskHandle>());
        if (!handles.back()->start(kWorkerQueue, kPlainUrgency, work))
            work();
    }
    ok[bands - 1] = band(bands - 1);
    for (auto& handle : handles)
        handle->wait(true);
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

// ----------------------------------------------------------- PicturePipeline

PicturePipeline::PicturePipeline(uint32_t width, uint32_t height, unsigned threads, PictureSink& sink)
    : sink_(sink), threads_(std::max(1u, threads)), slots_{{width, height}, {width, height}}
{
    for (FramePictures& slot : slots_)
        slot.setThreads(threads_);
}

PicturePipeline::~PicturePipeline() { complete(false); }

void PicturePipeline::refuse(uint64_t number, int64_t stamp, const std::string& why, void* handle)
{
    ++refusals_;
    sink_.refused(number, stamp, why, handle);
}

void PicturePipeline::complete(bool keep)
{
    if (!handle_)
        return;
    task_.wait(true);
    void* handle = std::exchange(handle_, nullptr);
    if (!keep)
        sink_.release(handle);
    else if (ok_)
        sink_.show(handle);
    else
        refuse(number_, stamp_, why_, handle);
}

void PicturePipeline::push(const uint8_t* frame, size_t size, int64_t stamp)
{
    ++frames_;
    FramePictures& slot = slots_[next_];
    std::string why;
    // This frame's texture, while the previous one's picture is built.
    const bool unpacked = slot.unpack(frame, size, nullptr, &why);
    complete(true);
    if (!unpacked) {
        refuse(frames_, stamp, why, nullptr);
        return;
    }
    const PictureSink::Target target = sink_.picture(slot.type(), stamp);
    if (!target.handle)
        return;
    handle_ = target.handle;
    number_ = frames_;
    stamp_ = stamp;
    ok_ = false;
    auto build = [this, &slot, target] { ok_ = slot.rebuild(target.rgba, target.stride, &why_); };
    bool queued = false;
    if (threads_ > 1) {
        try {
            queued = task_.start(kWorkerQueue, kPlainUrgency, build);
        } catch (const std::exception&) {
        }
    }
    if (queued) {
        next_ ^= 1;
        return;
    }
    build();
    complete(true);
}

}  // namespace nox
