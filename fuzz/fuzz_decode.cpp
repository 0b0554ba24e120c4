// Fuzz target: decode arbitrary bytes as a frame.
//
// Input: the picture header of fuzz_input.h (format types 0 to 8: 8 has no
// unpacker), then the frame. The frame and the destination are exact-size
// heap copies, so a sanitizer reports the first byte read or written past
// either.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_input.h"
#include "reader/frame_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 9);
    const nox::FrameDecoder decoder(p.type, p.width, p.height);
    const size_t texture = decoder.textureBytes();
    const size_t frameSize = size - kPictureBytes;
    std::unique_ptr<uint8_t[]> frame(new uint8_t[frameSize]);
    std::copy(data + kPictureBytes, data + size, frame.get());
    std::unique_ptr<uint8_t[]> destination(new uint8_t[texture ? texture : 1]);
    nox::decode(decoder, destination.get(), frame.get(), frameSize, texture);
    return 0;
}
