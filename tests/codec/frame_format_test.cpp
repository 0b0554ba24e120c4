// What a frame's bytes mean: each type's facts and planes, and both header
// forms read back from their bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "codec/frame_format.h"

namespace nox {
namespace {

// Each type's alpha, YCoCg and planes (GL format, where they lie in the
// texture of a 48x32 padded picture). The planes of types 0 to 5 tile the
// texture: they start where the one before ends and end where textureSize
// does, at every padded size.
TEST(FrameFormat, EveryTypesPlanesTileItsTexture)
{
    struct Plane {
        uint32_t gl;
        size_t offset, size;
    };
    const struct {
        uint32_t type;
        bool alpha, ycocg;
        std::vector<Plane> planes;
    } cases[] = {
        {0, false, false, {{kGlDxt1, 0, 768}}},
        {1, true, false, {{kGlDxt5, 0, 1536}}},
        {2, false, true, {{kGlRgtc1, 0, 768}, {kGlRgtc2, 768, 384}}},
        {3, true, true, {{kGlRgtc2, 0, 1536}, {kGlRgtc2, 1536, 384}}},
        {4, false, false, {{kGlDxt1, 0, 768}}},
        {5, true, false, {{kGlDxt5, 0, 1536}}},
        {6, false, false, {}},
        {7, false, false, {}},
        {8, false, false, {}},
        {0xFFFFFFFFu, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const FormatFacts& facts = formatFacts(c.type);
        EXPECT_EQ(std::tuple(typeHasAlpha(c.type), typeIsYcocg(c.type), facts.planeCount),
                  std::tuple(c.alpha, c.ycocg, uint32_t(c.planes.size())));
        for (uint32_t k = 0; k < 3; ++k) {
            const TexturePlane p = texturePlane(c.type, k, 48, 32);
            const Plane want = k < c.planes.size() ? c.planes[k] : Plane{0, 0, 0};
            EXPECT_EQ(std::tuple(k < facts.planeCount ? facts.planes[k].glFormat : 0, p.offset, p.size,
                                 size_t(p.widthBlocks) * p.heightBlocks),
                      std::tuple(want.gl, want.offset, want.size,
                                 k < facts.planeCount ? want.size / facts.planes[k].blockBytes : 0))
                << "plane " << k;
        }
        for (const auto& [w, h] : {std::pair(16u, 16u), std::pair(1920u, 1088u), std::pair(4096u, 2160u)}) {
            size_t end = 0;
            for (uint32_t k = 0; k < facts.planeCount; ++k) {
                const TexturePlane p = texturePlane(c.type, k, w, h);
                EXPECT_EQ(p.offset, end);
                end = p.offset + p.size;
            }
            EXPECT_EQ(planeBytes(c.type, w, h), end);
            if (c.type <= 5) {
                EXPECT_EQ(end, textureSize(c.type, w, h)) << w << "x" << h;
            }
        }
    }
    EXPECT_STREQ(formatTypeName(3), "High Quality, With Alpha");
    EXPECT_STREQ(formatFacts(99).label, "unknown");
}

// The commands name the exported types by keyword or number, nothing else.
TEST(FrameFormat, CommandsNameExportedTypesOnly)
{
    const struct {
        const char* text;
        int type;
    } cases[] = {{"normal", 0}, {"normal-alpha", 1}, {"high", 2}, {"high-alpha", 3}, {"0", 0},     {"3", 3},
                 {"4", -1},     {"03", -1},          {"", -1},    {"High", -1},      {"mask", -1}, {"normal-older", -1},
                 {"high ", -1}, {nullptr, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(exportedTypeNamed(c.text), c.type) << (c.text ? c.text : "(null)");
    for (uint32_t t = 0; t < kExportedTypes; ++t)
        EXPECT_EQ(exportedTypeNamed(formatFacts(t).keyword), int(t));
}

// Both header forms from their bytes: the 12-byte one after any texture tag,
// the 4-byte one of version-3 frames otherwise; too short for its form, none.
TEST(FrameFormat, HeadersOfBothFormsReadFromTheirBytes)
{
    const auto le = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    const auto full = [&](uint32_t tag, uint8_t version, uint8_t kind, uint32_t payload) {
        std::vector<uint8_t> b(12, 0);
        for (int k = 0; k < 4; ++k) {
            b[k] = uint8_t(tag >> (8 * k));
            b[8 + k] = uint8_t(payload >> (8 * k));
        }
        b[4] = version;
        b[6] = kind;
        return b;
    };
    const struct {
        std::vector<uint8_t> bytes;
        bool read;
        FrameFacts facts;  // type, tag, version, kind, payload, header
    } cases[] = {
        {full(kTagDXT1, 4, 0, 100), true, {0, kTagDXT1, 4, 0, 100, 12}},
        {full(kTagDXT5, 4, 1, 7), true, {1, kTagDXT5, 4, 1, 7, 12}},
        {full(kTagYCG6, 4, 0, 1), true, {2, kTagYCG6, 4, 0, 1, 12}},
        {full(kTagYG10, 9, 0, 0xFFFFFFFFu), true, {3, kTagYG10, 9, 0, 0xFFFFFFFFu, 12}},
        {full(kTagDXT1, 3, 0, 5), true, {4, kTagDXT1, 3, 0, 5, 12}},
        {full(kTagDXT5, 2, 0, 5), true, {5, kTagDXT5, 2, 0, 5, 12}},
        {full(kTagUVA0, 4, 1, 5), true, {6, kTagUVA0, 4, 1, 5, 12}},
        {full(kTagMSK0, 4, 0, 5), true, {7, kTagMSK0, 4, 0, 5, 12}},
        // The 4-byte form: size in bits 0-23, version 24-27 (at most 3), DXT5 bit 30, raw bit 31.
        {le(0x03001234), true, {4, kTagDXT1, 3, 0, 0x1234, 4}},
        {le(0x4F000010), true, {5, kTagDXT5, 3, 0, 0x10, 4}},
        {le(0x81FFFFFF), true, {4, kTagDXT1, 1, 1, 0xFFFFFF, 4}},
        {le(kTagYCG6), false, {}},
        {{0x10, 0, 0}, false, {}},
        {{}, false, {}},
    };
    for (const auto& c : cases) {
        FrameFacts f;
        ASSERT_EQ(readFrameFacts(c.bytes.data(), c.bytes.size(), &f), c.read) << c.bytes.size();
        if (c.read) {
            EXPECT_EQ(std::tuple(f.type, f.tag, f.version, f.payloadKind, f.payloadSize, f.headerSize),
                      std::tuple(c.facts.type, c.facts.tag, c.facts.version, c.facts.payloadKind, c.facts.payloadSize,
                                 c.facts.headerSize));
        }
        if (c.bytes.size() >= 4) {
            EXPECT_EQ(isTextureTag(uint32_t(c.bytes[0] | c.bytes[1] << 8 | c.bytes[2] << 16 | c.bytes[3] << 24)),
                      c.facts.headerSize == 12 || !c.read);
        }
    }
}

}  // namespace
}  // namespace nox

// A reader's red and blue of a YCoCg texel are whole numbers before they are
// rounded (the best tier's tile check counts on it and rounds only green), and
// green does not depend on Co: on every texel.
TEST(FrameFormat, YcocgRedAndBlueAreWholeNumbers)
{
    uint64_t wrong = 0;
    for (int y = 0; y < 256; ++y)
        for (int cg = 0; cg < 256; ++cg) {
            uint8_t first[3];
            nox::ycocgToRgb(uint8_t(y), 0, uint8_t(cg), first);
            for (int co = 0; co < 256; ++co) {
                uint8_t rgb[3];
                nox::ycocgToRgb(uint8_t(y), uint8_t(co), uint8_t(cg), rgb);
                wrong += rgb[0] != std::clamp(y + co - cg, 0, 255) || rgb[1] != first[1] ||
                         rgb[2] != std::clamp(y - co - cg + 255, 0, 255);
            }
        }
    EXPECT_EQ(wrong, 0u);
}
