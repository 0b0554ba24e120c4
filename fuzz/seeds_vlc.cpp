// Seeds of the VLC module's target: a few frames of each type, packed and
// raw, on one thread and on three, with a damaged frame, a flush and a frame
// of a larger picture between good ones.
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
        const auto larger = testing::packTexture(
            type, testing::makeTexture(type, testing::Content::Alphabet, padTo16(w) + 16, padTo16(h), type));
        for (uint8_t threads = 0; threads < 2; ++threads) {
            out.push_back(
                lengthPrefixed({threads, uint8_t(w - 1), uint8_t(h - 1)},
                               {testing::makeFrame(type, t, 1), testing::makeFrame(type, packed, 0),
                                testing::makeFrame(type, Bytes(packed.begin(), packed.begin() + packed.size() / 2), 0),
                                Bytes{}, testing::makeFrame(type, larger, 0), testing::makeFrame(type, t, 1)}));
        }
    }
    return out;
}

}  // namespace nox::fuzz
