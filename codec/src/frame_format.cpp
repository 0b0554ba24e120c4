#include "codec/frame_format.h"

#include <algorithm>
#include <string_view>

#include "core/bytes.h"

namespace nox {

namespace {

// Types 0 to 5 hold DXT1 blocks (8 bytes a 4x4 block), DXT5 blocks (16), or
// for YCoCg a luma plane (RGTC1, or RGTC2 with alpha in its second channel)
// followed by one RGTC2 plane of Co and Cg at half size.
constexpr TexturePlaneFormat kDxt1Plane{kGlDxt1, 8, 1}, kDxt5Plane{kGlDxt5, 16, 1};
constexpr TexturePlaneFormat kLumaPlane{kGlRgtc1, 8, 1}, kLumaAlphaPlane{kGlRgtc2, 16, 1};
constexpr TexturePlaneFormat kChromaPlane{kGlRgtc2, 16, 2};

constexpr FormatFacts kFacts[kFormatTypes + 1] = {
    {"Normal Quality, No Alpha", "normal (DXT1)", "normal", false, false, 1, {kDxt1Plane, {}}},
    {"Normal Quality, With Alpha", "normal-alpha (DXT5)", "normal-alpha", true, false, 1, {kDxt5Plane, {}}},
    {"High Quality, No Alpha", "high (YCoCg)", "high", false, true, 2, {kLumaPlane, kChromaPlane}},
    {"High Quality, With Alpha", "high-alpha (YCoCg + alpha)", "high-alpha", true, true, 2, {kLumaAlphaPlane, kChromaPlane}},
    {"Normal Quality, No Alpha", "normal (DXT1, older)", "normal-older", false, false, 1, {kDxt1Plane, {}}},
    {"Normal Quality, With Alpha", "normal-alpha (DXT5, older)", "normal-alpha-older", true, false, 1, {kDxt5Plane, {}}},
    {"UV Map", "UV map", "uv-map", false, false, 0, {}},
    {"MASK", "mask", "mask", false, false, 0, {}},
    // Past the last type.
    {"Normal Quality, No Alpha", "unknown", "unknown", false, false, 0, {}},
};

}  // namespace

const FormatFacts& formatFacts(uint32_t type) { return kFacts[std::min(type, kFormatTypes)]; }

int exportedTypeNamed(const char* text)
{
    const std::string_view t = text ? text : "";
    for (uint32_t type = 0; type < kExportedTypes; ++type)
        if (t == kFacts[type].keyword || (t.size() == 1 && t[0] == char('0' + type)))
            return int(type);
    return -1;
}

TexturePlane texturePlane(uint32_t type, uint32_t plane, uint32_t paddedWidth, uint32_t paddedHeight)
{
    const FormatFacts& facts = formatFacts(type);
    TexturePlane p;
    for (uint32_t i = 0; i < facts.planeCount && i <= plane; ++i) {
        const TexturePlaneFormat& f = facts.planes[i];
        p.offset += p.size;
        p.widthBlocks = paddedWidth / (4 * f.scale);
        p.heightBlocks = paddedHeight / (4 * f.scale);
        p.size = size_t(p.widthBlocks) * p.heightBlocks * f.blockBytes;
    }
    return plane < facts.planeCount ? p : TexturePlane{};
}

uint64_t planeBytes(uint32_t type, uint64_t paddedWidth, uint64_t paddedHeight)
{
    const FormatFacts& facts = formatFacts(type);
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < facts.planeCount; ++i) {
        const TexturePlaneFormat& f = facts.planes[i];
        bytes += (paddedWidth / (4 * f.scale)) * (paddedHeight / (4 * f.scale)) * f.blockBytes;
    }
    return bytes;
}

uint32_t textureSize(uint32_t type, uint32_t width, uint32_t height)
{
    // Exact in 64 bits; a size past the frame limit has no texture size.
    const uint64_t pw = (uint64_t(width) + 15) & ~uint64_t(15), ph = (uint64_t(height) + 15) & ~uint64_t(15);
    uint64_t bytes;
    switch (type) {
    case ZEMO3_UV_MAP:
        bytes = uint64_t(width) * height * 8;
        break;
    case ZEMO3_MASK:
        bytes = uint64_t(width) * height * 2;
        break;
    default:
        bytes = planeBytes(type, pw, ph);
        if (bytes == 0)
            return 0;
    }
    return bytes <= kMaxFrameBytes - kFrameHeaderSize ? uint32_t(bytes) : 0;
}

bool frameSizeFits(uint32_t type, uint32_t width, uint32_t height)
{
    // The compressor's working pictures are padded RGBA, 4 bytes a pixel.
    const uint64_t pw = (uint64_t(width) + 15) & ~uint64_t(15), ph = (uint64_t(height) + 15) & ~uint64_t(15);
    return width > 0 && height > 0 && pw * ph * 4 <= kMaxFrameBytes && textureSize(type, width, height) != 0;
}

FrameHeader readFrameHeader(const uint8_t* frame)
{
    FrameHeader h;
    h.tag = loadLe32(frame);
    h.version = frame[4];
    h.byte5 = frame[5];
    h.payloadKind = frame[6];
    h.byte7 = frame[7];
    h.payloadSize = loadLe32(frame + 8);
    return h;
}

uint32_t formatTypeOf(uint32_t tag, uint8_t version)
{
    switch (tag) {
    case kTagDXT1:
        return version > 3 ? ZEMO3_NORMAL : ZEMO3_LEGACY_DXT1;
    case kTagDXT5:
        return version > 3 ? ZEMO3_NORMAL_ALPHA : ZEMO3_LEGACY_DXT5;
    case kTagYCG6:
        return ZEMO3_HIGH;
    case kTagYG10:
        return ZEMO3_HIGH_ALPHA;
    case kTagUVA0:
        return ZEMO3_UV_MAP;
    case kTagMSK0:
        return ZEMO3_MASK;
    default:
        return ZEMO3_LEGACY_DXT1;
    }
}

uint32_t tagForFormatType(uint32_t type)
{
    switch (type) {
    case ZEMO3_NORMAL_ALPHA:
    case ZEMO3_LEGACY_DXT5:
        return kTagDXT5;
    case ZEMO3_HIGH:
        return kTagYCG6;
    case ZEMO3_HIGH_ALPHA:
        return kTagYG10;
    case ZEMO3_UV_MAP:
        return kTagUVA0;
    case ZEMO3_MASK:
        return kTagMSK0;
    default:
        return kTagDXT1;
    }
}

const char* formatTypeName(uint32_t type) { return formatFacts(type).name; }

bool isTextureTag(uint32_t v)
{
    return v == kTagDXT1 || v == kTagDXT5 || v == kTagYCG6 || v == kTagYG10 || v == kTagUVA0 || v == kTagMSK0;
}

bool readFrameFacts(const uint8_t* frame, size_t size, FrameFacts* h)
{
    if (size < 4)
        return false;
    const uint32_t first = loadLe32(frame);
    if (isTextureTag(first)) {
        if (size < kFrameHeaderSize)
            return false;
        const FrameHeader full = readFrameHeader(frame);
        h->tag = full.tag;
        h->version = full.version;
        h->payloadKind = full.payloadKind;
        h->payloadSize = full.payloadSize;
        h->headerSize = kFrameHeaderSize;
    } else {
        h->tag = (first & 0x40000000u) ? kTagDXT5 : kTagDXT1;
        h->version = std::min(3u, (first >> 24) & 0xFu);
        h->payloadKind = first >> 31;
        h->payloadSize = first & 0xFFFFFFu;
        h->headerSize = 4;
    }
    h->type = formatTypeOf(h->tag, uint8_t(h->version));
    return true;
}

}  // namespace nox
