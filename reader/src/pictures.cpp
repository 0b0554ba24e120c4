#include "reader/pictures.h"

#include <algorithm>
#include <memory>

#include "codec/zemo3.h"
#include "core/bytes.h"
#include "core/threads.h"
#include "reader/frame_decoder.h"
#include "reader/texture.h"

namespace nox {

namespace {

bool knownTag(uint32_t v)
{
    return v == kTagDXT1 || v == kTagDXT5 || v == kTagYCG6 || v == kTagYG10 || v == kTagUVA0 || v == kTagMSK0;
}

}  // namespace

bool typeHasAlpha(uint32_t type) { return type == 1 || type == 3 || type == 5; }

bool FramePictures::readHeader(const uint8_t* frame, size_t size, Header* h)
{
    if (size < 4)
        return false;
    const uint32_t first = loadLe32(frame);
    if (knownTag(first)) {
        if (size < kFrameHeaderSize)
            return false;
        FrameHeader fh = readFrameHeader(frame);
        h->tag = fh.tag;
        h->version = fh.version;
        h->payloadKind = fh.payloadKind;
        h->payloadSize = fh.payloadSize;
        h->headerSize = kFrameHeaderSize;
    } else {
        // The 4-byte header of format version 3 and older.
        h->tag = (first & 0x40000000u) ? kTagDXT5 : kTagDXT1;
        h->version = std::min(3u, (first >> 24) & 0xFu);
        h->payloadKind = first >> 31;
        h->payloadSize = first & 0xFFFFFFu;
        h->headerSize = 4;
    }
    h->type = formatTypeOf(h->tag, uint8_t(h->version));
    return true;
}

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
        *why = h.payloadKind == 1 ? "its raw payload does not match the texture size"
                                  : "its packed payload is malformed";
        return false;
    }
    if (checkPayloadUse_ && h.payloadKind == 0 && h.type <= 3 && decoder.unpacker()) {
        // decode() accepts a payload with bytes after the packed texture; a
        // damaged packet can look like one.
        scratch_.resize(bytes);
        const size_t used = decoder.unpacker()(frame + h.headerSize, scratch_.data(), h.payloadSize, bytes);
        if (used != h.payloadSize) {
            *why = "its packed texture ends " + std::to_string(h.payloadSize - used) +
                   " bytes before its payload";
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
    ok[bands - 1] = textureToRgbaRows(type, texture_.data(), texture_.size(), width_, height_, rows(bands - 1),
                                      height_, rgba, stride);
    for (auto& handle : handles)
        handle->wait(true);
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

}  // namespace nox
