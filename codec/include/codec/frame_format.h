// What a Zemo 3 frame's bytes mean: the format types and what each holds
// (name, alpha, the GPU planes of its texture and their GL formats), both
// header forms and their reading, the texture sizes, and the facts the
// byte packers and the unpackers share. Every writer, reader and player of
// frames takes them from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox {

// ------------------------------------------------------------ format types

// Format types. The exporter produces 0 to 3.
enum Zemo3FormatType : uint32_t {
    ZEMO3_NORMAL = 0,        // DXT1
    ZEMO3_NORMAL_ALPHA = 1,  // DXT5
    ZEMO3_HIGH = 2,          // YCG6
    ZEMO3_HIGH_ALPHA = 3,    // YG10
    ZEMO3_LEGACY_DXT1 = 4,   // DXT1 of format version 3 or less (readers only)
    ZEMO3_LEGACY_DXT5 = 5,   // DXT5 of format version 3 or less (readers only)
    ZEMO3_UV_MAP = 6,        // UVA0
    ZEMO3_MASK = 7,          // MSK0
};
constexpr uint32_t kFormatTypes = 8;
// The types the exporter writes: 0 to kExportedTypes - 1.
constexpr uint32_t kExportedTypes = 4;

// The compressed GL formats the planes of a texture upload as.
constexpr uint32_t kGlDxt1 = 0x83F1;   // GL_COMPRESSED_RGBA_S3TC_DXT1_EXT
constexpr uint32_t kGlDxt5 = 0x83F3;   // GL_COMPRESSED_RGBA_S3TC_DXT5_EXT
constexpr uint32_t kGlRgtc1 = 0x8DBB;  // GL_COMPRESSED_RED_RGTC1
constexpr uint32_t kGlRgtc2 = 0x8DBD;  // GL_COMPRESSED_RG_RGTC2

// One GPU plane of a texture: blocks of 4x4 texels, one texel per pixel of
// the padded picture (scale 1) or per 2x2 pixels (scale 2).
struct TexturePlaneFormat {
    uint32_t glFormat = 0;
    uint32_t blockBytes = 0;
    uint32_t scale = 1;
};

struct FormatFacts {
    const char* name;   // the codec's name: "Normal Quality, No Alpha", ...
    const char* label;  // the players' name: "normal (DXT1)", ...
    const char* keyword;  // the commands' name: "normal", "normal-alpha", ...
    bool alpha;         // the picture has an alpha channel
    bool ycocg;         // luma and chroma planes, rebuilt with the YCoCg shader
    // The planes of the texture, in their order in it; none for the types
    // that have no picture (UV map, mask).
    uint32_t planeCount;
    TexturePlaneFormat planes[2];
};
// The facts of a format type; above 7 those of no type: no name of a
// type, no planes.
const FormatFacts& formatFacts(uint32_t type);
inline bool typeHasAlpha(uint32_t type) { return formatFacts(type).alpha; }
inline bool typeIsYcocg(uint32_t type) { return formatFacts(type).ycocg; }
// "Normal Quality, No Alpha", ... ; the name the codec shows for a type.
const char* formatTypeName(uint32_t type);
// The exported type a command names by its keyword ("high") or its number
// ("2"); -1 for anything else.
int exportedTypeNamed(const char* text);

// Where a plane lies in the texture of a paddedWidth x paddedHeight picture
// (both multiples of 16). All zero for a plane the type does not have.
struct TexturePlane {
    size_t offset = 0, size = 0;
    uint32_t widthBlocks = 0, heightBlocks = 0;
};
TexturePlane texturePlane(uint32_t type, uint32_t plane, uint32_t paddedWidth, uint32_t paddedHeight);
// The bytes of every plane of a padded picture's texture: the bytes a
// reader restores for types 0 to 5, 0 for the others.
uint64_t planeBytes(uint32_t type, uint64_t paddedWidth, uint64_t paddedHeight);

// ------------------------------------------------------------ sizes

// Rounds up to the next multiple of 16.
constexpr uint32_t padTo16(uint32_t v) { return (v + 15u) & ~15u; }

// A frame's length is a signed 32-bit number for the compressor and in
// FFmpeg's packets: no frame, header included, is longer.
constexpr uint32_t kMaxFrameBytes = 0x7FFFFFFF;
// The largest picture side a movie may have: the largest texture side of the
// GPUs that play Zemo 3 movies. Every reader and writer of movies takes it
// from here.
constexpr uint32_t kMaxPictureSide = 16384;

// Texture bytes of a picture of the given size in the given format type
// (types 0-5 pad both sides to 16 first). 0 for types above 7 and for sizes
// whose frames would pass kMaxFrameBytes.
uint32_t textureSize(uint32_t type, uint32_t width, uint32_t height);
// Whether the compressor takes pictures of this size in this type: some
// pixels, and frames and working pictures within kMaxFrameBytes.
bool frameSizeFits(uint32_t type, uint32_t width, uint32_t height);

// ------------------------------------------------------------ headers

// Texture tags as little-endian 32-bit values (bytes in the file: "1TXD" for DXT1).
constexpr uint32_t kTagDXT1 = 0x44585431;
constexpr uint32_t kTagDXT5 = 0x44585435;
constexpr uint32_t kTagYCG6 = 0x59434736;
constexpr uint32_t kTagYG10 = 0x59473130;
constexpr uint32_t kTagUVA0 = 0x55564130;
constexpr uint32_t kTagMSK0 = 0x4D534B30;
// Whether a frame's first word is a texture tag, that is whether the frame
// starts with the 12-byte header rather than the older 4-byte one.
bool isTextureTag(uint32_t word);

constexpr uint32_t kFrameHeaderSize = 12;
constexpr uint16_t kFrameVersion = 4;

// The 12-byte header at the start of every frame the compressor writes.
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

// A frame's header in either form: the 12-byte one, or the 4-byte one of
// format version 3 and older (payload size in bits 0-23, version in 24-27,
// bit 30 set for DXT5, bit 31 for a raw payload).
struct FrameFacts {
    uint32_t type = 0;  // format type from tag and version
    uint32_t tag = 0;   // texture tag as a little-endian value
    unsigned version = 0;
    unsigned payloadKind = 0;  // 0 packed, 1 raw
    uint32_t payloadSize = 0;
    uint32_t headerSize = 0;  // 12, or 4 for version-3 frames
};
// False when the frame (size bytes) is too short to hold its header.
bool readFrameFacts(const uint8_t* frame, size_t size, FrameFacts* facts);

// ------------------------------------------------------------ texture blocks

// The eight values of a single-channel block (DXT5 alpha, the YCoCg units)
// with endpoints e0 and e1, by index: e0 > e1 gives e0, e1 and six steps
// between; otherwise e0, e1, four steps between, 0 and 255.
template <class T>
constexpr void channelRamp(T e0, T e1, T ramp[8])
{
    ramp[0] = e0;
    ramp[1] = e1;
    if (e0 > e1) {
        for (T k = 1; k <= 6; ++k)
            ramp[1 + k] = T(((7 - k) * e0 + k * e1) / 7);
    } else {
        for (T k = 1; k <= 4; ++k)
            ramp[1 + k] = T(((5 - k) * e0 + k * e1) / 5);
        ramp[6] = 0;
        ramp[7] = 255;
    }
}

// The RGB of a YCoCg texel from its luma, Co and Cg bytes, as readers
// rebuild it: R = Y + Co - Cg, G = Y + Cg, B = Y - Co - Cg in floats, with Co
// and Cg centred on one half, each channel rounded to a byte and clamped.
inline uint8_t ycocgChannelByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return uint8_t(int(v * 255.0f + 0.5f));
}
inline void ycocgToRgb(uint8_t y, uint8_t co, uint8_t cg, uint8_t rgb[3])
{
    const float yv = float(y) / 255.0f;
    const float cov = float(co) / 255.0f - 0.5f;
    const float cgv = float(cg) / 255.0f - 0.5f;
    rgb[0] = ycocgChannelByte(yv - cgv + cov);
    rgb[1] = ycocgChannelByte(yv + cgv);
    rgb[2] = ycocgChannelByte(yv - cgv - cov);
}

// ------------------------------------------------------------ packed payloads

// DXT block references: code 1 is the block before, code 2 a distance of
// 2 to 257 blocks in one byte (distance - 2), code 3 one of 258 to 65 793
// in two (distance - 258).
constexpr uint32_t kNearDistance = 2;
constexpr uint32_t kFarDistance = 258;

// The unit packers' hash slots: 256 per table, indexed by the top byte of
// the value times the golden-ratio constant; a slot not yet filled holds
// kEmptySlot.
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
inline uint32_t slotHash(uint32_t x) { return (x * 0x9E3779B1u) >> 24; }

// The slots of one half (or of the single unit) of a unit stream: byte
// positions of earlier units by the hash of their endpoints, and of earlier
// piece-1 bytes by the hash of their value (piece 2 is looked up there too).
struct UnitSlots {
    uint32_t endpoints[256];
    uint32_t pieces[256];
    UnitSlots()
    {
        for (uint32_t h = 0; h < 256; ++h)
            endpoints[h] = pieces[h] = kEmptySlot;
    }
    // The unit at byte p, whose 8 bytes are unit (little-endian).
    void insert(uint64_t unit, uint32_t p)
    {
        endpoints[slotHash(uint32_t(unit) & 0xFFFF)] = p;
        pieces[slotHash(uint32_t(unit >> 16) & 0xFFFFFF)] = p + 2;
    }
};

}  // namespace nox
