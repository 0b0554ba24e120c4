// Seeds of the pack target: whole textures of every type and content kind.
#include "codec/zemo3.h"
#include "reader/unpack_content.h"
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds()
{
    using nox::testing::Content;
    std::vector<Bytes> out;
    const Content contents[] = {Content::Alphabet, Content::Smooth, Content::Repetitive, Content::Still};
    for (uint32_t type = 0; type < 4; ++type) {
        for (const Content c : contents) {
            for (uint32_t w : {8u, 48u, 80u}) {
                const uint32_t h = 88 - w;
                const auto t = nox::testing::makeTexture(type, c, nox::padTo16(w), nox::padTo16(h), w + type);
                Bytes in = {uint8_t(type), uint8_t(w - 1), uint8_t(h - 1)};
                in.insert(in.end(), t.begin(), t.end());
                out.push_back(in);
            }
        }
    }
    return out;
}

}  // namespace nox::fuzz
