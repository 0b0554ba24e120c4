// Fuzz target: decode arbitrary bytes as a frame.
//
// Input: byte 0 picks the decoder's format type (0 to 8), bytes 1 and 2 the
// picture width and height (1 to 80); the rest is the frame. The frame and
// the destination are exact-size heap copies, so a sanitizer reports the
// first byte read or written past either.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "reader/frame_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const nox::FrameDecoder decoder(data[0] % 9, 1 + data[1] % 80, 1 + data[2] % 80);
    const size_t texture = decoder.textureBytes();
    std::unique_ptr<uint8_t[]> frame(new uint8_t[size - 3]);
    std::copy(data + 3, data + size, frame.get());
    std::unique_ptr<uint8_t[]> destination(new uint8_t[texture ? texture : 1]);
    nox::decode(decoder, destination.get(), frame.get(), size - 3, texture);
    return 0;
}
