// Whole frames: pictures through the frame compressor, read back by the
// frame reader, compared with the texture the block encoders make from the
// padded picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/dxt.h"
#include "codec/ycocg.h"
#include "codec/zemo3.h"
#include "core/memory.h"
#include "reader/frame_decoder.h"
#include "unpack_content.h"

namespace nox {
namespace {

using Bytes = std::vector<uint8_t>;

// The texture of a w x h picture: padded to 16 with transparent black,
// alpha forced to 255 where the type drops it.
Bytes expectedTexture(uint32_t type, const Bytes& picture, uint32_t w, uint32_t h) {
    const uint32_t pw = padTo16(w), ph = padTo16(h);
    Bytes padded(size_t(pw) * ph * 4, 0);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* d = &padded[(size_t(y) * pw + x) * 4];
            std::memcpy(d, &picture[(size_t(y) * w + x) * 4], 4);
            if (type == 0 || type == 2) d[3] = 255;
        }
    }
    Bytes t(textureSize(type, w, h));
    switch (type) {
    case 0: encodeDxt1Texture(padded.data(), pw, ph, t.data()); break;
    case 1: encodeDxt5Texture(padded.data(), pw, ph, t.data()); break;
    case 2: encodeYcg6(padded.data(), pw, ph, t.data()); break;
    default: encodeYg10(padded.data(), pw, ph, t.data()); break;
    }
    return t;
}

TEST(CompressedFrames, DecodeToTheirTexture) {
    using testing::Content;
    MemoryManager::PreallocatedMemory pool;
    struct Size {
        uint32_t w, h;
    };
    const Size sizes[] = {{1, 1}, {17, 17}, {33, 20}, {160, 90}};
    const Content contents[] = {Content::Random, Content::Smooth, Content::Repetitive, Content::Still};
    for (uint32_t type = 0; type < 4; ++type) {
        int packedFrames = 0, rawFrames = 0;
        for (const Size s : sizes) {
            for (const Content c : contents) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " " << s.w << "x" << s.h << " "
                                                  << testing::contentName(c));
                const Bytes picture = testing::makePicture(c, s.w, s.h, s.w + s.h);
                const FrameEncoder encoder(type, s.w, s.h);
                Bytes frame(textureSize(type, s.w, s.h) + 12, 0);
                const uint32_t length = encoder.compress(frame.data(), picture.data(), int32_t(s.w * 4), pool);
                ASSERT_GT(length, 12u);
                ASSERT_LE(length, frame.size());
                frame.resize(length);
                (frame[6] == 0 ? packedFrames : rawFrames)++;
                const FrameDecoder decoder(type, s.w, s.h);
                Bytes texture(decoder.textureBytes());
                ASSERT_TRUE(decode(decoder, texture.data(), frame.data(), frame.size(), texture.size()));
                EXPECT_EQ(texture, expectedTexture(type, picture, s.w, s.h));
            }
        }
        EXPECT_GT(packedFrames, 0) << type;
        // Random pictures do not shrink as DXT textures and are stored raw.
        // (YCoCg blocks of noise still share endpoints and do shrink.)
        if (type < 2) {
            EXPECT_GT(rawFrames, 0) << type;
        }
    }
}

}  // namespace
}  // namespace nox
