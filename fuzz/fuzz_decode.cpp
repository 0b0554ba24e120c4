// Fuzz target: decode arbitrary bytes as a frame, and unpack its payload by
// the reference unpackers and by the fast ones at every level (one stream
// at a time and two at once), which must agree.
//
// Input: the picture header of fuzz_input.h (format types 0 to 8: 8 has no
// unpacker), then the frame. The frame, the payload and the destinations are
// exact-size heap copies (testing::decodes), so a sanitizer reports the first
// byte read or written past any of them.
#include <cstdio>
#include <cstdlib>

#include "common/textures.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 9);
    const nox::testing::Bytes frame(data + kPictureBytes, data + size);
    nox::testing::decodes(nox::FrameDecoder(p.type, p.width, p.height), frame);
    nox::FrameFacts facts;
    if (p.type < 8 && nox::readFrameFacts(frame.data(), frame.size(), &facts)) {
        const nox::testing::Bytes payload(frame.begin() + facts.headerSize, frame.end());
        const std::string why =
            nox::testing::unpackersDisagree(p.type, payload, nox::textureSize(p.type, p.width, p.height));
        if (!why.empty()) {
            std::fprintf(stderr, "the unpackers disagree: %s\n", why.c_str());
            std::abort();
        }
    }
    return 0;
}
