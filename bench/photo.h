// The picture the codec benchmarks encode: content/'s photo-like still (a
// lit landscape with fine texture and grain, and a soft and hard-edged
// matte), the kind of picture a render hands the module. Made once per
// program; the program stops, saying why, when it cannot be made.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "content/content.h"

namespace zemo3::bench {

inline const std::vector<uint8_t>& photo(uint32_t width, uint32_t height)
{
    static const std::vector<uint8_t> picture = [&] {
        std::vector<uint8_t> out;
        std::string error;
        if (!content::renderContent("photo", width, height, &out, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        return out;
    }();
    return picture;
}

}  // namespace zemo3::bench
