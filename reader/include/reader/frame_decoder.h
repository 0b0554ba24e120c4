// The Zemo 3 frame reader: restores the texture of one frame.
//
// Frames are untrusted input: for any bytes, decode reads only inside the
// frame, writes only inside the destination, and answers false for anything
// malformed, in time linear in the frame and texture sizes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/frame_format.h"
#include "core/simd.h"

namespace nox {

// Restores payload (payloadSize bytes) into a texture of textureSize bytes.
// Returns the payload bytes consumed, 0 for a malformed payload.
using UnpackFunction = size_t (*)(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);

// The reading counterpart of the frame encoder: format type and picture size
// of the frames it reads. Cheap to build; one may be made per frame.
class FrameDecoder {
public:
    FrameDecoder(uint32_t type, uint32_t width, uint32_t height);

    uint32_t type() const { return type_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t paddedWidth() const { return paddedWidth_; }
    uint32_t paddedHeight() const { return paddedHeight_; }
    // textureSize(type, width, height): the bytes decode writes.
    uint32_t textureBytes() const;
    // The unpacker of packed payloads of this type; null for types above 7.
    UnpackFunction unpacker() const { return unpack_; }

private:
    uint32_t type_;
    uint32_t width_, height_;
    uint32_t paddedWidth_, paddedHeight_;
    [[maybe_unused]] uint32_t uvMap_ = 0;  // the type-6 path, not read here
    UnpackFunction unpack_ = nullptr;
};

// Restores the texture of one frame of frameSize bytes into destination
// (capacity bytes). False for any malformed frame, or one whose format type
// differs from the decoder's, or when the texture does not fit in capacity.
// Never reads outside [frame, frame + frameSize) nor writes outside
// [destination, destination + capacity). On false the destination holds
// arbitrary bytes.
bool decode(const FrameDecoder& decoder, uint8_t* destination, const uint8_t* frame, size_t frameSize, size_t capacity);
// The same for a frame whose header has been read (readFrameFacts of the
// same frame, which starts with no zero word).
bool decode(const FrameDecoder& decoder, const FrameFacts& facts, uint8_t* destination, const uint8_t* frame,
            size_t frameSize, size_t capacity);

// How a packed payload is restored. At the Scalar level the reference
// unpackers run, at any other the fast ones, which are plain C++ and also run
// where Scalar is the only level there is: the same bytes, the same result
// and the same refusals. With twoStreams a YCoCg payload's two streams are
// restored at once, the second on the process-wide worker pool.
struct UnpackOptions {
    SimdLevel level = SimdLevel::Sse2;
    bool twoStreams = false;
};

// The unpacker of format type `type` (0 to 7) with these options; 0 for
// types above 7, else as the unpackers below.
size_t unpackPayload(uint32_t type, const uint8_t* payload, uint8_t* destination, size_t payloadSize,
                     size_t textureSize, const UnpackOptions& options);

// The unpackers, exact inverses of the packers of codec/packers.h, at the
// active level (activeSimdLevel), one stream at a time. The YCG6 and YG10
// ones need textureSize to be a multiple of 48 and 80.
size_t unpackDxt1(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t unpackDxt5(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t unpackYcg6(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t unpackYg10(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
// Version-3 payloads (types 4 to 7): LZF. Returns the bytes restored, which
// may be fewer than textureSize; 0 when malformed or too long.
size_t unpackVersion3(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);

// Reads one op stream (any of the three forms of codec/opstream.h) of n ops
// from [stream, stream + size) into ops. Returns the bytes it took, 0 when
// malformed. Values are not range-checked in the raw form.
size_t readOpStream(const uint8_t* stream, size_t size, uint8_t* ops, uint32_t n);

}  // namespace nox
