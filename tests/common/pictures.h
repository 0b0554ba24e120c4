// The reference pictures of a movie: what `zemo3 decode` writes for each of
// its frames, read back as RGBA for comparing a player's pictures with.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/movies.h"

namespace testutil {

// A picture file of `zemo3 decode` (PAM: a text header, then the samples) as
// width x height RGBA, opaque where it holds RGB; empty when the file is not
// such a picture.
inline Bytes readPam(const std::string& file, int width, int height)
{
    const std::string text = slurp(file);
    const size_t end = text.find("ENDHDR\n");
    if (end == std::string::npos)
        return {};
    const bool alpha = text.find("DEPTH 4") < end;
    if (text.size() - end - 7 < size_t(width) * height * (alpha ? 4 : 3))
        return {};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data()) + end + 7;
    Bytes out;
    for (size_t i = 0; i < size_t(width) * height; ++i, p += alpha ? 4 : 3)
        out.insert(out.end(), {p[0], p[1], p[2], alpha ? p[3] : uint8_t(255)});
    return out;
}

#if defined(ZEMO3_BINARY) && defined(ZEMO_MODULE_PATH)
// EveryTypeSuite with every frame of each movie as `zemo3 decode` pictures
// it: decoded_[type][frame], width x height RGBA.
template <int Width, int Height, int Tenths>
class PicturedSuite : public EveryTypeSuite<Width, Height, Tenths> {
protected:
    using Base = EveryTypeSuite<Width, Height, Tenths>;
    static constexpr int kFrames = Tenths * 3;  // the demo's 30 frames a second

    static void SetUpTestSuite()
    {
        Base::SetUpTestSuite();
        for (int t = 0; t < 4; ++t) {
            const std::string prefix = Base::dir_->file(kCompressions[t]);
            const Run r =
                run(std::string(ZEMO3_BINARY) + " decode \"" + Base::movie(t) + "\" -o \"" + prefix + "_%03d.pam\"");
            ASSERT_EQ(r.code, 0) << r.err;
            for (int i = 0; i < kFrames; ++i) {
                char name[16];
                std::snprintf(name, sizeof name, "_%03d.pam", i);
                decoded_[t].push_back(readPam(prefix + name, Width, Height));
                ASSERT_FALSE(decoded_[t].back().empty()) << "no picture " << prefix << name;
            }
        }
    }
    static inline std::vector<Bytes> decoded_[4];
};
#endif

}  // namespace testutil
