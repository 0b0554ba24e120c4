// The frame reader: header normalisation, type checks, raw copies and the
// dispatch to the unpacker of the frame's format type.
#include <lzf.h>

#include <algorithm>
#include <cstring>

#include "codec/zemo3.h"
#include "core/bytes.h"
#include "reader/frame_decoder.h"
#include "unpack_internal.h"

namespace nox {

FrameDecoder::FrameDecoder(uint32_t type, uint32_t width, uint32_t height)
    : type_(type), width_(width), height_(height), paddedWidth_(padTo16(width)), paddedHeight_(padTo16(height))
{
    switch (type) {
    case 0:
        unpack_ = unpackDxt1;
        break;
    case 1:
        unpack_ = unpackDxt5;
        break;
    case 2:
        unpack_ = unpackYcg6;
        break;
    case 3:
        unpack_ = unpackYg10;
        break;
    case 4:
    case 5:
    case 6:
    case 7:
        unpack_ = unpackVersion3;
        break;
    default:
        break;
    }
}

uint32_t FrameDecoder::textureBytes() const { return textureSize(type_, width_, height_); }

size_t unpack::version3Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    // The decompressor takes unsigned lengths; sizes beyond them are refused.
    if (payloadSize == 0 || textureSize == 0 || payloadSize != unsigned(payloadSize) ||
        textureSize != unsigned(textureSize))
        return 0;
    return lzf_decompress(payload, unsigned(payloadSize), destination, unsigned(textureSize));
}

const unpack::Unpackers unpack::kReferenceUnpackers = {dxt1Reference,  dxt5Reference,     unitsReference,
                                                       pairsReference, version3Reference, true};
const unpack::Unpackers unpack::kFastUnpackers = {fast::dxt1,  fast::dxt5,     fast::units,
                                                  fast::pairs, fast::version3, false};
#if defined(__x86_64__)
const unpack::Unpackers unpack::kFastBmi2Unpackers = {fast::dxt1,       fast::dxt5,     fast_bmi2::units,
                                                      fast_bmi2::pairs, fast::version3, false};
#endif

size_t unpackPayload(uint32_t type, const uint8_t* payload, uint8_t* destination, size_t payloadSize,
                     size_t textureSize, const UnpackOptions& options)
{
    // The fast unpackers are plain C++ and run anywhere: the reference runs
    // only where Scalar was chosen over a level the processor has (by the
    // caller, ZEMO_KERNEL or capSimdLevel), so that a processor or a build
    // without x86 levels (the browser's) still takes the fast way.
    const bool reference =
        options.level == SimdLevel::Scalar && runnableSimdLevel(SimdLevel::Avx512) != SimdLevel::Scalar;
#if defined(__x86_64__)
    const bool bmi2 = runnableSimdLevel(options.level) >= SimdLevel::Avx2;
#else
    const bool bmi2 = false;
#endif
    const unpack::Unpackers& with = reference ? unpack::kReferenceUnpackers
                                    : bmi2    ? unpack::kFastBmi2Unpackers
                                              : unpack::kFastUnpackers;
    switch (type) {
    case 0:
        return with.dxt1(payload, destination, payloadSize, textureSize);
    case 1:
        return with.dxt5(payload, destination, payloadSize, textureSize);
    case 2:
    case 3:
        return unpack::unpackYcocg(type == 3, with, options.twoStreams, payload, destination, payloadSize, textureSize);
    case 4:
    case 5:
    case 6:
    case 7:
        return with.version3(payload, destination, payloadSize, textureSize);
    default:
        return 0;
    }
}

// The plain entry points: the active level, one stream at a time.
size_t unpackDxt1(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    return unpackPayload(0, payload, destination, payloadSize, textureSize, {.level = activeSimdLevel()});
}

size_t unpackDxt5(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    return unpackPayload(1, payload, destination, payloadSize, textureSize, {.level = activeSimdLevel()});
}

size_t unpackYcg6(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    return unpackPayload(2, payload, destination, payloadSize, textureSize, {.level = activeSimdLevel()});
}

size_t unpackYg10(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    return unpackPayload(3, payload, destination, payloadSize, textureSize, {.level = activeSimdLevel()});
}

size_t unpackVersion3(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize)
{
    return unpackPayload(4, payload, destination, payloadSize, textureSize, {.level = activeSimdLevel()});
}

bool decode(const FrameDecoder& decoder, uint8_t* destination, const uint8_t* frame, size_t frameSize, size_t capacity)
{
    if (!frame || !destination || frameSize < 4 || loadLe32(frame) == 0)
        return false;
    FrameFacts h;
    return readFrameFacts(frame, frameSize, &h) && decode(decoder, h, destination, frame, frameSize, capacity);
}

bool decode(const FrameDecoder& decoder, const FrameFacts& h, uint8_t* destination, const uint8_t* frame,
            size_t frameSize, size_t capacity)
{
    if (!destination || h.type != decoder.type() || capacity == 0)
        return false;
    const size_t texture = decoder.textureBytes();
    if (texture > capacity || h.payloadSize > frameSize - h.headerSize)
        return false;
    // The UV-map path is not read here.
    if (h.type == 6)
        return false;
    const uint8_t* payload = frame + h.headerSize;
    if (h.type != 7 && h.payloadKind != 0) {
        if (h.payloadKind != 1 || h.payloadSize != texture)
            return false;
        std::memcpy(destination, payload, texture);
        return true;
    }
    const UnpackFunction unpack = decoder.unpacker();
    return unpack && unpack(payload, destination, h.payloadSize, texture) != 0;
}

}  // namespace nox
