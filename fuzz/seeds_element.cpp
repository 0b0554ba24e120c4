// Seeds of the element target: a few frames of each type, packed and raw,
// one after the other under both caps names, and a damaged frame between
// good ones.
#include "common/textures.h"
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds()
{
    std::vector<Bytes> out;
    for (uint32_t type = 0; type < 4; ++type) {
        const uint32_t w = 9 + 17 * type, h = 30 - 5 * type;
        const auto t = testing::makeTexture(type, testing::Content::Smooth, padTo16(w), padTo16(h), type);
        const auto packed = testing::packTexture(type, t);
        for (uint8_t caps = 0; caps < 2; ++caps) {
            out.push_back(
                lengthPrefixed({caps, uint8_t(w - 1), uint8_t(h - 1)},
                               {testing::makeFrame(type, t, 1), testing::makeFrame(type, packed, 0),
                                testing::makeFrame(type, Bytes(packed.begin(), packed.begin() + packed.size() / 2), 0),
                                testing::makeFrame(type, t, 1)}));
        }
    }
    return out;
}

}  // namespace nox::fuzz
