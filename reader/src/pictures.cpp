#include "reader/pictures.h"

#include <algorithm>
#include <memory>

#include "codec/zemo3.h"
#include "core/bytes.h"
#include "core/threads.h"
#include "reader/frame_decoder.h"
#include "reader/texture.h"

namespace nox {

bool typeHasAlpha(uint32_t type) { return type == 1 || type == 3 || type == 5; }

bool FramePictures::readHeader(const uint8_t* frame, size_t size, Header* h) { return readFrameFacts(frame, size, h); }

void FramePictures::setThreads(unsigned threads, uint32_t minimumRows)
{
    threads_ = std::max(1u, threads);
    minimumRows_ = minimumRows;
}

bool FramePictures::decode(const uint8_t* frame, size_t size, std::vector<uint8_t>* rgba, Header* header,
                           std::string* why)
{
    rgba->resize(size_t(width_) * height_ * 4);
    return decode(frame, size, rgba->data(), size_t(width_) * 4, header, why);
}

bool FramePictures::decode(const uint8_t* frame, size_t size, uint8_t* rgba, size_t stride, Header* header,
                           std::string* why)
{
    if (!unpack(frame, size, header, why))
        return false;
    if (!rebuild(rgba, stride)) {
        *why = "its texture cannot be rebuilt";
        return false;
    }
    return true;
}

bool FramePictures::unpack(const uint8_t* frame, size_t size, Header* header, std::string* why)
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
    FrameDecoder decoder(h.type, width_, height_);
    const uint32_t bytes = decoder.textureBytes();
    if (bytes == 0) {
        *why = "no texture size for this picture";
        return false;
    }
    texture_.resize(bytes);
    if (!nox::decode(decoder, texture_.data(), frame, size, bytes)) {
        *why =
            h.payloadKind == 1 ? "its raw payload does not match the texture size" : "its packed payload is malformed";
        return false;
    }
    if (checkPayloadUse_ && h.payloadKind == 0 && h.type <= 3 && decoder.unpacker()) {
        // decode() accepts a payload with bytes after the packed texture; a
        // damaged packet can look like one.
        scratch_.resize(bytes);
        const size_t used = decoder.unpacker()(frame + h.headerSize, scratch_.data(), h.payloadSize, bytes);
        if (used != h.payloadSize) {
            *why = "its packed texture ends " + std::to_string(h.payloadSize - used) + " bytes before its payload";
            return false;
        }
    }
    type_ = h.type;
    return true;
}

bool FramePictures::rebuild(uint8_t* rgba, size_t stride)
{
    const uint32_t type = type_;
    const uint32_t bands = height_ < minimumRows_ ? 1 : std::min<uint32_t>(threads_, (height_ + 7) / 8);
    if (bands <= 1)
        return textureToRgbaRows(type, texture_.data(), texture_.size(), width_, height_, 0, height_, rgba, stride);
    // Bands of whole 8-row tiles; this thread takes the last one.
    const uint32_t tiles = (height_ + 7) / 8;
    auto rows = [&](uint32_t band) { return std::min(height_, tiles * band / bands * 8); };
    std::vector<char> ok(bands, 0);
    std::vector<std::unique_ptr<TaskHandle>> handles;
    for (uint32_t b = 0; b + 1 < bands; ++b) {
        auto work = [&, b] {
            ok[b] = textureToRgbaRows(type, texture_.data(), texture_.size(), width_, height_, rows(b), rows(b + 1),
                                      rgba, stride);
        };
        handles.push_back(std::make_unique<TaskHandle>());
        if (!handles.back()->start(1, 0, work))
            work();
    }
    ok[bands - 1] = textureToRgbaRows(type, texture_.data(), texture_.size(), width_, height_, rows(bands - 1), height_,
                                      rgba, stride);
    for (auto& handle : handles)
        handle->wait(true);
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

}  // namespace nox
