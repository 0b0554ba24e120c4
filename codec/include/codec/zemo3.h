// The Zemo 3 frame: header, texture sizes, the frame compressor and the codec
// description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/stream.h"
#include "core/memory.h"

namespace nox {

// Format types. The exporter produces 0 to 3.
enum Zemo3FormatType : uint32_t {
    ZEMO3_NORMAL = 0,         // DXT1
    ZEMO3_NORMAL_ALPHA = 1,   // DXT5
    ZEMO3_HIGH = 2,           // YCG6
    ZEMO3_HIGH_ALPHA = 3,     // YG10
    ZEMO3_LEGACY_DXT1 = 4,    // DXT1 of format version 3 or less (readers only)
    ZEMO3_LEGACY_DXT5 = 5,    // DXT5 of format version 3 or less (readers only)
    ZEMO3_UV_MAP = 6,         // UVA0
    ZEMO3_MASK = 7,           // MSK0
};

// Texture tags as little-endian 32-bit values (bytes in the file: "1TXD" for DXT1).
constexpr uint32_t kTagDXT1 = 0x44585431;
constexpr uint32_t kTagDXT5 = 0x44585435;
constexpr uint32_t kTagYCG6 = 0x59434736;
constexpr uint32_t kTagYG10 = 0x59473130;
constexpr uint32_t kTagUVA0 = 0x55564130;
constexpr uint32_t kTagMSK0 = 0x4D534B30;

constexpr uint32_t kFrameHeaderSize = 12;
constexpr uint16_t kFrameVersion = 4;

// Rounds up to the next multiple of 16.
constexpr uint32_t padTo16(uint32_t v) { return (v + 15u) & ~15u; }

// Texture bytes of a picture of the given size in the given format type
// (types 0-5 pad both sides to 16 first). 0 for types above 7.
uint32_t textureSize(uint32_t type, uint32_t width, uint32_t height);

// The 12-byte header at the start of every frame.
struct FrameHeader {
    uint32_t tag = 0;
    uint8_t version = 0;
    uint8_t byte5 = 0;
    uint8_t payloadKind = 0;  // 0 packed, 1 raw texture
    uint8_t byte7 = 0;
    uint32_t payloadSize = 0;
};
// Reads the 12-byte header from its little-endian bytes.
FrameHeader readFrameHeader(const uint8_t* frame);
// Format type of a frame with this tag and version (unknown tags give 4).
uint32_t formatTypeOf(uint32_t tag, uint8_t version);
// The tag written for a format type.
uint32_t tagForFormatType(uint32_t type);
// "Normal Quality, No Alpha", ... ; the name the codec shows for a type.
const char* formatTypeName(uint32_t type);

}  // namespace nox
