// Seeds of the pack target: whole textures of every type and content kind.
#include "common/textures.h"
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds()
{
    using nox::testing::Content;
    std::vector<Bytes> out;
    for (uint32_t type = 0; type < 4; ++type) {
        for (const Content c : {Content::Alphabet, Content::Smooth, Content::Repetitive, Content::Still}) {
            for (uint32_t w : {8u, 48u, 80u}) {
                const uint32_t h = 88 - w;
                const auto t = testing::makeTexture(type, c, padTo16(w), padTo16(h), w + type);
                out.push_back(testing::cat({{uint8_t(type), uint8_t(w - 1), uint8_t(h - 1)}, t}));
            }
        }
    }
    return out;
}

}  // namespace nox::fuzz
