// Fuzz target: decode arbitrary bytes as a frame.
//
// Input: the picture header of fuzz_input.h (format types 0 to 8: 8 has no
// unpacker), then the frame. The frame and the destination are exact-size
// heap copies (testing::decodes), so a sanitizer reports the first byte read
// or written past either.
#include "common/textures.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 9);
    nox::testing::decodes(nox::FrameDecoder(p.type, p.width, p.height), {data + kPictureBytes, data + size});
    return 0;
}
