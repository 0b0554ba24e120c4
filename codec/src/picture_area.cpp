#include "codec/picture_area.h"

#include <cstdint>

namespace nox {

std::string pictureAreaLimit(uint64_t width, uint64_t height)
{
    const uint64_t area = (width + 128) * (height + 128), limit = uint64_t(INT32_MAX) / 8;
    if (area < limit)
        return "";
    return "the area (width + 128) x (height + 128) = " + std::to_string(area) + " is past " +
           std::to_string(limit - 1) + ", FFmpeg's limit for one picture (at this width the height can be " +
           std::to_string((limit - 1) / (width + 128) - 128) + " at most)";
}

}  // namespace nox
