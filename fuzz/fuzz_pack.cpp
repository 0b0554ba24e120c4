// Fuzz target: pack arbitrary textures and unpack them again.
//
// Input: the picture header of fuzz_input.h (format types 0 to 3), then the
// texture's blocks: the texture repeats them cyclically, whole 8-byte units
// at a time, so short inputs give the repeated blocks and runs the packers
// look for. Every packed texture must unpack to exactly the texture, using
// every byte of the packed form; the packer that also counts statistics must
// write the same bytes. Packed forms and textures are exact-size heap
// buffers, so a sanitizer reports any access past them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/packers.h"
#include "codec/zemo3.h"
#include "fuzz_input.h"
#include "reader/frame_decoder.h"

namespace {

[[noreturn]] void fault(const char* what, uint32_t type, uint32_t n)
{
    std::fprintf(stderr, "pack round trip: %s (type %u, %u texture bytes)\n", what, type, n);
    std::abort();
}

uint32_t pack(uint32_t type, const uint8_t* t, uint32_t n, uint8_t* out, uint32_t capacity,
              nox::PackStatistics* statistics)
{
    if (statistics) {
        switch (type) {
        case 0: return nox::packDxt1(t, n, out, capacity, *statistics);
        case 1: return nox::packDxt5(t, n, out, capacity, *statistics);
        case 2: return nox::packYcg6(out, capacity, t, n, *statistics);
        default: return nox::packYg10(out, capacity, t, n, *statistics);
        }
    }
    switch (type) {
    case 0: return nox::packDxt1(t, n, out, capacity);
    case 1: return nox::packDxt5(t, n, out, capacity);
    case 2: return nox::packYcg6(out, capacity, t, n);
    default: return nox::packYg10(out, capacity, t, n);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 4);
    const uint32_t n = nox::textureSize(p.type, p.width, p.height);
    const uint8_t* blocks = data + kPictureBytes;
    const size_t units = (size - kPictureBytes) / 8;

    std::unique_ptr<uint8_t[]> texture(new uint8_t[n]);
    if (units == 0)
        std::memset(texture.get(), 0, n);
    for (size_t at = 0; units && at < n; at += 8)
        std::memcpy(&texture[at], blocks + (at / 8 % units) * 8, 8);

    const uint32_t capacity = p.type < 2 ? nox::packDxtBound(n) : nox::packYcocgBound(n);
    std::unique_ptr<uint8_t[]> packed(new uint8_t[capacity]);
    const uint32_t length = pack(p.type, texture.get(), n, packed.get(), capacity, nullptr);
    if (length > capacity)
        fault("packed length beyond the capacity", p.type, n);
    if (length == 0)
        return 0;  // stored raw

    std::unique_ptr<uint8_t[]> again(new uint8_t[capacity]);
    nox::PackStatistics statistics;
    if (pack(p.type, texture.get(), n, again.get(), capacity, &statistics) != length ||
        std::memcmp(packed.get(), again.get(), length) != 0)
        fault("the counting packer writes other bytes", p.type, n);

    // The reader sees exactly the packed bytes.
    std::unique_ptr<uint8_t[]> payload(new uint8_t[length]);
    std::memcpy(payload.get(), packed.get(), length);
    std::unique_ptr<uint8_t[]> restored(new uint8_t[n]);
    const nox::FrameDecoder decoder(p.type, p.width, p.height);
    const size_t used = decoder.unpacker()(payload.get(), restored.get(), length, n);
    if (used != length)
        fault(used ? "the unpacker stops before the end of the packed form" : "the unpacker rejects the packed form",
              p.type, n);
    if (std::memcmp(restored.get(), texture.get(), n) != 0)
        fault("the unpacked texture differs", p.type, n);
    return 0;
}
