// PNG files of 8-bit pictures, through FFmpeg's PNG encoder.
#pragma once

#include <cstdint>
#include <string>

namespace zemo3 {

// Writes a width x height picture of RGB (alpha false) or RGBA pixels, rows
// packed, through a temporary file renamed into place; false with a message.
bool writePng(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height, bool alpha,
              std::string* error);

}  // namespace zemo3
