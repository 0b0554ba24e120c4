// Fuzz target: pack arbitrary textures and unpack them again.
//
// Input: the picture header of fuzz_input.h (format types 0 to 3), then the
// texture's blocks: the texture repeats them cyclically, whole 8-byte units
// at a time, so short inputs give the repeated blocks and runs the packers
// look for. Every packed texture must unpack to exactly the texture, using
// every byte of the packed form; the packer that also counts statistics must
// write the same bytes. The packers write into buffers of exactly their
// capacity and the unpacker reads an exact-size copy, so a sanitizer reports
// any access past them.
#include <cstdio>
#include <cstdlib>

#include "common/textures.h"
#include "fuzz_input.h"

namespace {

[[noreturn]] void fault(const char* what, uint32_t type, uint32_t n)
{
    std::fprintf(stderr, "pack round trip: %s (type %u, %u texture bytes)\n", what, type, n);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 4);
    const uint32_t n = nox::textureSize(p.type, p.width, p.height);
    const size_t units = (size - kPictureBytes) / 8;
    nox::testing::Bytes texture(n, 0);
    for (size_t at = 0; units && at < n; at += 8)
        std::memcpy(&texture[at], data + kPictureBytes + (at / 8 % units) * 8, 8);

    const auto packed = nox::testing::packTexture(p.type, texture);
    if (packed.size() > (p.type < 2 ? nox::packDxtBound(n) : nox::packYcocgBound(n)))
        fault("packed length beyond the capacity", p.type, n);
    if (packed.empty())
        return 0;  // stored raw
    nox::PackStatistics statistics;
    if (nox::testing::packTexture(p.type, texture, &statistics) != packed)
        fault("the counting packer writes other bytes", p.type, n);

    const nox::testing::Bytes payload(packed);
    nox::testing::Bytes restored(n);
    const auto unpack = nox::FrameDecoder(p.type, p.width, p.height).unpacker();
    const size_t used = unpack(payload.data(), restored.data(), payload.size(), n);
    if (used != payload.size())
        fault(used ? "the unpacker stops before the end of the packed form" : "the unpacker rejects the packed form",
              p.type, n);
    if (restored != texture)
        fault("the unpacked texture differs", p.type, n);
    return 0;
}
