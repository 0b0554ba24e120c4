// The reference pictures of a movie: what `zemo3 decode` writes for each of
// its frames, read back as RGBA for comparing a player's pictures with.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/util.h"

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

#if defined(ZEMO3_BINARY)
// Every frame of a movie as `zemo3 decode` pictures it, decoded into `dir`
// under the name `prefix`. Empty when the command fails or a picture is
// missing; `why` then says which.
inline std::vector<Bytes> referencePictures(const std::string& movie, const TempDir& dir, const std::string& prefix,
                                            int width, int height, int frames, std::string* why)
{
    const Run r =
        run(std::string(ZEMO3_BINARY) + " decode \"" + movie + "\" -o \"" + dir.file(prefix + "_%03d.pam") + "\"");
    if (r.code != 0) {
        *why = "zemo3 decode " + movie + ": " + r.err;
        return {};
    }
    std::vector<Bytes> out;
    for (int i = 0; i < frames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "_%03d.pam", i);
        out.push_back(readPam(dir.file(prefix + name), width, height));
        if (out.back().empty()) {
            *why = "no picture " + prefix + name;
            return {};
        }
    }
    return out;
}
#endif

}  // namespace testutil
