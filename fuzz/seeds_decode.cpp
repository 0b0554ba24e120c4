// Seeds of the decode target: valid frames of every type (packed and raw)
// and version-3 frames.
#include "common/textures.h"
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds()
{
    using nox::testing::Content;
    auto input = [](uint32_t type, uint32_t w, uint32_t h, const Bytes& frame) {
        return testing::cat({{uint8_t(type), uint8_t(w - 1), uint8_t(h - 1)}, frame});
    };
    std::vector<Bytes> out;
    for (uint32_t type = 0; type < 4; ++type) {
        for (const Content c : {Content::Alphabet, Content::Smooth, Content::Repetitive, Content::Still}) {
            for (uint32_t w : {5u, 40u, 77u}) {
                const uint32_t h = 80 - w / 2;
                const auto t = testing::makeTexture(type, c, padTo16(w), padTo16(h), w + type);
                const auto packed = testing::packTexture(type, t);
                const bool raw = packed.empty() || packed.size() > t.size();
                out.push_back(input(type, w, h, testing::makeFrame(type, raw ? t : packed, raw ? 1 : 0)));
            }
        }
    }
    // Version 3: LZF payloads (a literal and a long back-reference), DXT5 bit set.
    out.push_back(input(5, 16, 16, {0x05, 0x00, 0x00, 0x40, 0x00, 'A', 0xE0, 0xF6, 0x00}));
    out.push_back(input(4, 16, 16, {0x06, 0x00, 0x00, 0x00, 0x02, 'A', 'B', 'C', 0x40, 0x02}));
    return out;
}

}  // namespace nox::fuzz
