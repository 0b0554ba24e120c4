// The largest picture area a movie can hold: FFmpeg, which writes and reads
// the movies, refuses any picture whose area with a margin of 128 on each
// side reaches INT_MAX / 8 (libavutil's image size check).
#pragma once

#include <cstdint>
#include <string>

namespace nox {

// Why width x height pictures are past that limit, with the height the
// width allows: "" when they are not. The text follows "WxH: ".
std::string pictureAreaLimit(uint64_t width, uint64_t height);

}  // namespace nox
